// The agent's operator page: starts and stops the server links through
// window.external.CallFromHtml and shows what the agent reports through
// OnDlgNotify (sent and received messages, print tasks).
'use strict';

var MAX_TRACE = 500;
var param = {};
var traceCount = 0;
var tasks = {};
var taskCount = 0;

function $(id) { return document.getElementById(id); }

function call(command, value) {
  try {
    return window.external.CallFromHtml('', command, value === undefined ? '' : value);
  } catch (e) {
    addTrace('note', '调用失败', command + ': ' + e.message);
    return null;
  }
}

function now() {
  var d = new Date();
  function two(n) { return (n < 10 ? '0' : '') + n; }
  return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
}

// Trace entries are drawn in batches, at most every 50 ms: a busy link
// sends thousands of notices a second, and laying the list out again for
// each one would make the page, not the link, the bottleneck. Long texts
// are shortened on screen.
var MAX_SHOWN = 4000;
var pendingTrace = [];
var traceScheduled = false;

function addTrace(kind, tag, text) {
  if (text.length > MAX_SHOWN) text = text.substring(0, MAX_SHOWN) + '…（共 ' + text.length + ' 字）';
  pendingTrace.push([kind, now() + ' ' + tag, text]);
  if (pendingTrace.length > MAX_TRACE) pendingTrace.splice(0, pendingTrace.length - MAX_TRACE);
  traceCount++;
  if (!traceScheduled) {
    traceScheduled = true;
    setTimeout(drawTrace, 50);
  }
}

function drawTrace() {
  traceScheduled = false;
  var list = $('traceList');
  var items = document.createDocumentFragment();
  for (var i = 0; i < pendingTrace.length; i++) {
    var li = document.createElement('li');
    li.className = pendingTrace[i][0];
    var t = document.createElement('span');
    t.className = 'tag';
    t.textContent = pendingTrace[i][1];
    li.appendChild(t);
    li.appendChild(document.createTextNode(pendingTrace[i][2]));
    items.appendChild(li);
  }
  pendingTrace = [];
  list.appendChild(items);
  while (list.children.length > MAX_TRACE) list.removeChild(list.firstChild);
  $('traceCount').textContent = traceCount + ' 条';
  list.scrollTop = list.scrollHeight;
}

// Only a change touches the page (it is called for every message received).
function setState(id, text, cls) {
  var el = $(id);
  if (el.textContent !== text) el.textContent = text;
  if (el.className !== 'state ' + cls) el.className = 'state ' + cls;
}

function taskRow(body) {
  var key = (body.printerName || '') + '|' + (body.fileName || '');
  var row = tasks[key];
  if (!row) {
    row = document.createElement('tr');
    for (var i = 0; i < 4; i++) row.appendChild(document.createElement('td'));
    row.children[0].textContent = now();
    row.children[1].textContent = body.printerName || '';
    row.children[2].textContent = body.fileName || '';
    $('taskRows').insertBefore(row, $('taskRows').firstChild);
    tasks[key] = row;
    taskCount++;
    $('taskCount').textContent = taskCount + ' 个';
  }
  return row;
}

function showTask(type, body) {
  var row = taskRow(body || {});
  var cell = row.children[3];
  if (type === 'printer.task.begin') { cell.textContent = '开始打印'; cell.className = 'run'; }
  else if (type === 'printer.task.success') { cell.textContent = '打印成功'; cell.className = 'ok'; }
  else if (type === 'printer.task.fail') { cell.textContent = '失败：' + (body.reason || ''); cell.className = 'fail'; }
  else if (type === 'printer.status') { cell.textContent = '作业状态 ' + JSON.stringify(body.status); cell.className = 'run'; }
}

// Every text the agent sends to the page.
function OnDlgNotify(text) {
  if (text.indexOf('发送报文\r\n') === 0) {
    addTrace('send', '发送', text.substring(6));
  } else if (text.indexOf('接收报文\r\n') === 0) {
    addTrace('recv', '接收', text.substring(6));
    setState('tcpState', '已连接', 'on');
  } else if (text.indexOf('{"msg_type":') === 0) {
    var msg = null;
    try { msg = JSON.parse(text); } catch (e) { msg = null; }
    var type = msg ? String(msg.msg_type) : '';
    if (type === 'ws.send') addTrace('send', '发送', JSON.stringify(msg.msg_body));
    else if (type === 'ws.recv') addTrace('recv', '接收', JSON.stringify(msg.msg_body));
    else if (type === 'ws.closed') { setState('wsState', '已断开', 'off'); addTrace('note', '断开', '服务器关闭了 WebSocket 连接'); }
    else if (type.indexOf('printer.') === 0) { showTask(type, msg.msg_body); addTrace('note', '任务', text); }
    else addTrace('note', '通知', text);
  } else {
    addTrace('note', '通知', text);
  }
}

function startTcp() {
  var fields = [$('server').value.trim(), $('port').value.trim(), param.clientId || '', param.clientName || '',
                $('gsdm').value, $('rydm').value];
  if (!fields[0] || !fields[1]) { addTrace('note', '提示', '请填写服务器和端口'); return; }
  if (call('StartTcpsocket', fields.join('$$')) === '-1') {
    addTrace('note', '提示', '参数错误：连接参数不能包含 $$');
    return;
  }
  setState('tcpState', '连接中…', 'idle');
  addTrace('note', '连接', fields[0] + ':' + fields[1]);
}

function stopTcp() {
  call('StopTcpsocket');
  setState('tcpState', '已断开', 'idle');
  addTrace('note', '断开', 'TCP');
}

// StartWebsocket answers 0 (connected, or already), 1 or 2 (no connection),
// -1 (a field holds "$$").
function startWs() {
  var url = $('wsUrl').value.trim();
  if (!url) { addTrace('note', '提示', '请填写 WebSocket 地址'); return; }
  var fields = [url, param.clientId || '', param.clientName || '', $('gsdm').value, $('rydm').value];
  setState('wsState', '连接中…', 'idle');
  var result = call('StartWebsocket', fields.join('$$'));
  if (result === '0') {
    setState('wsState', '已连接', 'on');
    addTrace('note', '连接', url);
  } else if (result === '-1') {
    setState('wsState', '未连接', 'idle');
    addTrace('note', '提示', '参数错误：连接参数不能包含 $$');
  } else {
    setState('wsState', '连接失败', 'off');
    addTrace('note', '连接失败', url + '（' + result + '）');
  }
}

function stopWs() {
  call('StopWebsocket');
  setState('wsState', '已断开', 'idle');
  addTrace('note', '断开', 'WebSocket');
}

function OnDlgInit(p) {
  try { param = JSON.parse(p) || {}; } catch (e) { param = {}; }
  $('server').value = param.server || '';
  $('port').value = param.port || '';
  $('gsdm').value = param.gsdm || '';
  $('rydm').value = param.rydm || '';
  $('wsUrl').value = param.wsUrl || '';
  $('clientName').textContent = param.clientName || '—';
  $('clientId').textContent = param.clientId || '—';
  // An unattended workstation connects by itself ("autoConnect": "tcp",
  // "ws", or both as "tcp,ws").
  var auto = String(param.autoConnect || '').split(',').map(function (s) { return s.trim(); });
  if (auto.indexOf('tcp') >= 0) startTcp();
  if (auto.indexOf('ws') >= 0) startWs();
}

document.addEventListener('DOMContentLoaded', function () {
  $('tcpStart').addEventListener('click', startTcp);
  $('tcpStop').addEventListener('click', stopTcp);
  $('wsStart').addEventListener('click', startWs);
  $('wsStop').addEventListener('click', stopWs);
  $('traceClear').addEventListener('click', function () {
    pendingTrace = [];
    $('traceList').textContent = '';
    traceCount = 0;
    $('traceCount').textContent = '0 条';
  });
});
