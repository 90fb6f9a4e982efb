'use strict';
// The console page: state comes from the event socket at /ui (a snapshot,
// then every change); actions go to the JSON API.

const state = {
  agents: [],
  commands: new Map(),
  catalog: [],
  picked: null, // connection id of the picked agent
  printTask: new Map(), // agent id -> taskId of its latest test print
  commandTask: new Map(), // agent id -> taskId of its latest form command
  log: [],
};
const LOG_ROWS = 1000;
const SHOWN_TEXT = 240;
const $ = (id) => document.getElementById(id);

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (k === 'class') node.className = v;
    else if (k === 'text') node.textContent = v;
    else if (k.startsWith('data-') || k === 'title') node.setAttribute(k, v);
    else node[k] = v;
  }
  for (const c of children) if (c !== null && c !== undefined) node.append(c);
  return node;
}

function clock(iso) {
  const d = new Date(iso);
  return d.toTimeString().slice(0, 8) + '.' + String(d.getMilliseconds()).padStart(3, '0');
}

function since(iso) {
  const s = Math.max(0, Math.round((Date.now() - new Date(iso)) / 1000));
  if (s < 60) return `${s} s`;
  if (s < 3600) return `${Math.floor(s / 60)} min`;
  return `${Math.floor(s / 3600)} h ${Math.floor((s % 3600) / 60)} min`;
}

function showError(id, text) {
  $(id).textContent = text;
  $(id).hidden = !text;
}

function picked() {
  return state.agents.find((a) => a.id === state.picked) || null;
}

// --- the event socket -------------------------------------------------------

function connect() {
  const ws = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ui`);
  ws.onmessage = (ev) => handle(JSON.parse(ev.data));
  ws.onopen = () => setFeed('live', 'live');
  ws.onclose = () => {
    setFeed('lost', 'reconnecting…');
    setTimeout(connect, 1500);
  };
}

function setFeed(s, text) {
  const pill = $('feed-state');
  pill.dataset.state = s;
  pill.textContent = text;
}

function handle(event) {
  if (event.type === 'hello') {
    state.agents = event.agents;
    state.catalog = event.catalog;
    const { host, tcp, http } = event.listen;
    $('where').textContent = `agents connect to tcp ${host}:${tcp} or ws://${host}:${http}/`;
    const param = { server: host.replace(/^\[(.*)\]$/, '$1'), port: String(tcp), wsUrl: `ws://${host}:${http}/`, gsdm: '', rydm: '' };
    $('config-hint').textContent = JSON.stringify({ startup: { param } }, null, 2);
    state.commands = new Map(event.commands.map((c) => [c.taskId, c]));
    state.log = [];
    $('log').tBodies[0].replaceChildren();
    for (const entry of event.log) addLog(entry);
    fillCommandSelect();
    renderAgents();
    renderDetail();
  } else if (event.type === 'agents') {
    state.agents = event.agents;
    renderAgents();
    renderDetail();
  } else if (event.type === 'command') {
    state.commands.set(event.command.taskId, event.command);
    renderTask();
    renderCommandResult();
  } else if (event.type === 'log') {
    addLog(event.entry);
  }
}

// --- agents -----------------------------------------------------------------

// Items are kept per agent and updated in place: a node replaced between
// a press and its release would lose the click on it.
const agentItems = new Map(); // agent id -> its <li>

function renderAgents() {
  const list = $('agents');
  $('agent-count').textContent = state.agents.length;
  $('agents-empty').hidden = state.agents.length > 0;
  const items = state.agents.map((a) => {
    let item = agentItems.get(a.id);
    if (!item) {
      item = el('li', { 'data-testid': 'agent', 'data-agent-id': a.id, title: a.id },
        el('span', { class: 'name' }), el('span'), el('span', { class: 'sub' }));
      item.onclick = () => pick(a.id);
      agentItems.set(a.id, item);
    }
    item.className = `agent${a.id === state.picked ? ' picked' : ''}${a.registered ? '' : ' unregistered'}`;
    item.dataset.clientId = a.clientId ?? '';
    item.dataset.link = a.link;
    const [name, link, sub] = item.children;
    name.textContent = a.registered ? a.clientName || a.clientId || '(no name)' : 'unregistered';
    link.className = `link ${a.link}`;
    link.textContent = a.link;
    sub.textContent = `${a.clientId || '—'} · ${a.remote} · ${since(a.since)}`;
    return item;
  });
  const connected = new Set(state.agents.map((a) => a.id));
  for (const id of agentItems.keys()) if (!connected.has(id)) agentItems.delete(id);
  const shown = [...list.children];
  if (shown.length !== items.length || items.some((item, i) => shown[i] !== item)) list.replaceChildren(...items);
}

function pick(id) {
  state.picked = id;
  renderAgents();
  renderDetail(true);
}

function renderDetail(fresh = false) {
  const a = picked();
  $('no-agent').parentElement.hidden = Boolean(a);
  $('agent-view').hidden = !a;
  if (!a) {
    if (state.picked) $('no-agent').textContent = 'The agent you picked has disconnected. Pick another one.';
    return;
  }
  $('agent-title').textContent = a.registered ? `${a.clientName || '(no name)'}` : 'Unregistered connection';
  const facts = [
    ['client id', a.clientId || '—'], ['link', a.link], ['from', a.remote], ['connected', `${since(a.since)} ago`],
    ['gsdm', a.gsdm || '—'], ['rydm', a.rydm || '—'],
  ];
  if (a.link === 'tcp') facts.push(['heartbeats', String(a.heartbeats)]);
  if (a.registrations > 1) facts.push(['registrations', String(a.registrations)]);
  $('agent-facts').replaceChildren(...facts.map(([k, v]) => el('div', {}, el('dt', { text: k }), el('dd', { text: v }))));
  renderPrinters(a);
  const input = $('print-printer');
  if (fresh || (!input.value && document.activeElement !== input)) {
    input.value = (a.defaultPrinter && a.defaultPrinter.name) || (a.printers[0] && a.printers[0].name) || '';
  }
  if (fresh) fillArgs();
  renderTask();
  renderCommandResult();
}

function statusClass(text) {
  if (text === '打印机空闲状态') return 'idle';
  if (/正在打印|等待|繁忙|暂停/.test(text)) return 'busy';
  return 'bad';
}

function renderPrinters(a) {
  $('refreshed').textContent = a.refreshing ? 'asking the agent…' : a.refreshedAt ? `as of ${clock(a.refreshedAt)}` : '';
  const d = a.defaultPrinter;
  const p = a.defaultPaper;
  $('defaults').textContent = a.refreshError
    ? a.refreshError
    : `Default printer: ${d && d.name ? d.name : '—'} · paper: ${p && p.paperName ? `${p.paperName} (code ${p.paperSize})` : '—'}`;
  const body = $('printers').tBodies[0];
  body.replaceChildren();
  if (a.printers.length === 0) {
    body.append(el('tr', {}, el('td', { colSpan: 5, class: 'muted', text: a.refreshing ? 'Asking…' : 'No printers.' })));
  }
  for (const pr of a.printers) {
    body.append(el('tr', { 'data-testid': 'printer', 'data-printer': pr.name },
      el('td', {}, pr.name, pr.isDefault ? el('span', { class: 'default-tag', text: 'default' }) : null),
      el('td', { text: pr.driver || '—' }),
      el('td', { class: 'mono', text: pr.port || '—' }),
      el('td', {}, el('span', { class: `status ${statusClass(pr.status)}`, 'data-testid': 'printer-status', text: pr.status })),
      el('td', { class: 'num', 'data-testid': 'printer-jobs', text: String(pr.jobs.length) })));
    for (const job of pr.jobs) {
      body.append(el('tr', { class: 'jobs' }, el('td', { colSpan: 5,
        text: `job ${job.JobId}: ${job.status} · pages ${job.PagesPrinted}/${job.TotalPages} · ${job.filename}` })));
    }
  }
  $('printer-names').replaceChildren(...a.printers.map((pr) => el('option', { value: pr.name })));
}

// --- test print ---------------------------------------------------------------

async function post(path, body) {
  const res = await fetch(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
  const answer = await res.json().catch(() => ({}));
  if (!res.ok) throw new Error(answer.error || `HTTP ${res.status}`);
  return answer;
}

$('print-form').onsubmit = async (ev) => {
  ev.preventDefault();
  const a = picked();
  if (!a) return;
  try {
    const { taskId } = await post(`/api/agents/${encodeURIComponent(a.id)}/test-print`, { printerName: $('print-printer').value, origin: 'page' });
    showError('print-error', '');
    state.printTask.set(a.id, taskId);
    renderTask();
  } catch (err) {
    showError('print-error', `Not sent: ${err.message}`);
  }
};

const STATE_TEXT = {
  waiting: 'waiting', succeeded: 'succeeded', failed: 'failed', answered: 'answered',
  timeout: 'timed out', disconnected: 'agent disconnected',
};

function renderTask() {
  const a = picked();
  const task = a && state.commands.get(state.printTask.get(a.id));
  const box = $('task');
  box.hidden = !task;
  if (!task) return;
  box.dataset.state = task.state;
  $('task-badge').className = `badge ${task.state}`;
  $('task-badge').textContent = STATE_TEXT[task.state] || task.state;
  $('task-id').textContent = `${task.taskId} · ${task.printerName}`;
  const step = (id, cls, text) => {
    $(id).className = cls;
    $(id).textContent = text;
  };
  step('task-sent', 'done', `${clock(task.sentAt)} PrintWebJpegImage sent (${task.body.szLocalPath})`);
  step('task-fetch', task.served ? 'done' : 'pending', task.served
    ? `${clock(task.served.at)} image fetched: ${task.served.bytes} bytes to ${task.served.to}`
    : 'image not fetched yet');
  const q = task.queue;
  let queue = 'queue not looked at yet';
  if (q) {
    const name = task.body.szLocalPath.replace(/\^/g, '/').split('/').pop();
    const job = q.jobs.find((j) => String(j.filename).replace(/\^/g, '/').endsWith(name));
    queue = `${clock(q.at)} queue: ${q.status || '—'}, ${q.jobs.length} job(s)` +
      (job ? ` · this job: ${job.status}, pages ${job.PagesPrinted}/${job.TotalPages}` : ' · this job not in the queue') +
      ` (look ${q.looks})`;
  }
  step('task-queue', q ? 'done' : 'pending', queue);
  if (task.state === 'waiting') step('task-notice', 'pending', 'waiting for the reply…');
  else if (task.state === 'succeeded') step('task-notice', 'ok', `${clock(task.endedAt)} printed: the agent answered success`);
  else step('task-notice', 'bad', `${clock(task.endedAt)} ${task.note || STATE_TEXT[task.state]}`);
}

// --- commands -------------------------------------------------------------------

function fillCommandSelect() {
  const select = $('command-name');
  const current = select.value;
  select.replaceChildren(...state.catalog.map((c) => el('option', { value: c.name, text: c.name })));
  if (current) select.value = current;
  fillArgs();
}

function defaults(value) {
  const a = picked();
  const printer = (a && a.defaultPrinter && a.defaultPrinter.name) || (a && a.printers[0] && a.printers[0].name) || '';
  return value.replace('{printer}', printer).replace('{image}', `${location.origin}/test-image.jpg`);
}

function fillArgs() {
  const command = state.catalog.find((c) => c.name === $('command-name').value);
  if (!command) return;
  $('command-about').textContent = command.about;
  const args = $('command-args');
  args.replaceChildren();
  const body = {};
  for (const [name, value] of command.args) {
    body[name] = defaults(value);
    args.append(el('label', { htmlFor: `arg-${name}`, text: name }),
      el('input', { id: `arg-${name}`, value: body[name], 'data-testid': `arg-${name}`, 'data-arg': name }));
  }
  if (command.args.length === 0) args.append(el('span', { class: 'muted', text: 'no arguments' }));
  $('raw-body').value = JSON.stringify(body, null, 2);
}

$('command-name').onchange = fillArgs;
$('raw-toggle').onchange = () => {
  const raw = $('raw-toggle').checked;
  if (raw) {
    const body = {};
    for (const input of $('command-args').querySelectorAll('input')) body[input.dataset.arg] = input.value;
    $('raw-body').value = JSON.stringify(body, null, 2);
  }
  $('raw-body').hidden = !raw;
  $('command-args').hidden = raw;
};

$('command-form').onsubmit = async (ev) => {
  ev.preventDefault();
  const a = picked();
  if (!a) return;
  let body = {};
  if ($('raw-toggle').checked) {
    try {
      body = JSON.parse($('raw-body').value || '{}');
    } catch (err) {
      showError('command-error', `The body is not JSON: ${err.message}`);
      return;
    }
  } else {
    for (const input of $('command-args').querySelectorAll('input')) body[input.dataset.arg] = input.value;
  }
  try {
    const { taskId } = await post(`/api/agents/${encodeURIComponent(a.id)}/commands`, { name: $('command-name').value, body, origin: 'page' });
    showError('command-error', '');
    state.commandTask.set(a.id, taskId);
    renderCommandResult();
  } catch (err) {
    showError('command-error', `Not sent: ${err.message}`);
  }
};

function renderCommandResult() {
  const a = picked();
  const record = a && state.commands.get(state.commandTask.get(a.id));
  const box = $('command-result');
  box.hidden = !record;
  if (!record) return;
  box.dataset.state = record.state;
  $('command-badge').className = `badge ${record.state}`;
  $('command-badge').textContent = STATE_TEXT[record.state] || record.state;
  $('command-task').textContent = `${record.name} · ${record.taskId}`;
  $('command-output').textContent = record.state === 'waiting'
    ? 'waiting for the reply…'
    : record.replied ? JSON.stringify(record.result, null, 2) : record.note;
}

$('refresh').onclick = () => {
  const a = picked();
  if (a) post(`/api/agents/${encodeURIComponent(a.id)}/refresh`, {}).catch((err) => showError('print-error', `Refresh: ${err.message}`));
};

// --- log ------------------------------------------------------------------------

const DIR = { in: ['←', 'in', 'from the agent'], out: ['→', 'out', 'to the agent'], note: ['•', 'note', 'console note'] };

function addLog(entry) {
  state.log.push(entry);
  const [arrow, cls, what] = DIR[entry.dir] || DIR.note;
  const long = entry.text.length > SHOWN_TEXT || entry.cut;
  const text = el('td', { class: 'text', text: long ? `${entry.text.slice(0, SHOWN_TEXT)}… (${entry.size} bytes)` : entry.text });
  const row = el('tr', { class: cls, 'data-testid': 'log-row', 'data-dir': entry.dir, 'data-agent-id': entry.conn || '' },
    el('td', { text: clock(entry.time) }),
    el('td', { text: entry.agent || entry.conn || '' }),
    el('td', { text: entry.link }),
    el('td', { class: `dir ${cls}`, text: arrow, title: what }),
    text);
  row.onclick = () => {
    row.classList.toggle('open');
    if (!long) return;
    if (row.classList.contains('open')) {
      text.replaceChildren(entry.text, el('br'), el('a', { href: `/api/log/${entry.seq}`, target: '_blank', text: 'whole text' }));
    } else {
      text.textContent = `${entry.text.slice(0, SHOWN_TEXT)}… (${entry.size} bytes)`;
    }
  };
  filterRow(row);
  const scroll = $('log-scroll');
  const atEnd = scroll.scrollTop + scroll.clientHeight >= scroll.scrollHeight - 30;
  const body = $('log').tBodies[0];
  body.append(row);
  while (body.rows.length > LOG_ROWS) body.deleteRow(0);
  if (atEnd) scroll.scrollTop = scroll.scrollHeight;
}

function filterRow(row) {
  const mine = $('log-mine').checked;
  const notes = $('log-notes').checked;
  row.hidden = (mine && row.dataset.agentId !== state.picked) || (!notes && row.dataset.dir === 'note');
}

$('log-mine').onchange = $('log-notes').onchange = () => {
  for (const row of $('log').tBodies[0].rows) filterRow(row);
};

setInterval(renderAgents, 10000);
connect();
