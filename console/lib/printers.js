'use strict';
// Each agent's printer table, from the command set: the printer names,
// the default printer (the only one whose driver and port the commands
// tell) and paper, and each printer's status text and jobs. While a print
// task is open, its printer's queue is looked at about every second: the
// agent tells its progress only to its own page, so the queue is what the
// server side can see of it.

const LOOK_EVERY_MS = 1000;
// An agent listing more printers than this gets its first ones in the table.
const MAX_PRINTERS = 200;

class PrinterTables {
  constructor({ agents, commands, lookEveryMs = LOOK_EVERY_MS }) {
    this.agents = agents;
    this.commands = commands;
    this.lookEveryMs = lookEveryMs;
    this.refreshing = new Map();
    this.watchers = new Map();
  }

  // Asks the agent for its printer table again; one refresh at a time.
  refresh(entry) {
    if (!this.refreshing.has(entry.id)) {
      const run = this.load(entry).finally(() => this.refreshing.delete(entry.id));
      this.refreshing.set(entry.id, run);
    }
    return this.refreshing.get(entry.id);
  }

  async load(entry) {
    const ask = (name, body) => this.commands.send(entry, name, body, { origin: 'console' }).done;
    entry.refreshing = true;
    this.agents.changed(entry);
    const [all, def, paper] = await Promise.all([ask('GetAllPrn'), ask('GetDefaultPrn'), ask('GetDefaultPrnAndPaper')]);
    let error = '';
    const names = Array.isArray(all.result) ? all.result.filter((n) => typeof n === 'string').slice(0, MAX_PRINTERS) : [];
    if (!Array.isArray(all.result)) error = `GetAllPrn: ${describe(all)}`;
    else if (all.result.length > MAX_PRINTERS) error = `GetAllPrn listed ${all.result.length} printers; the first ${MAX_PRINTERS} are shown`;
    const defaultPrinter = isObject(def.result) && 'name' in def.result ? def.result : null;
    const statuses = await Promise.all(names.map((name) => ask('GetPrinterJobStatus', { szPrinterName: name })));
    if (!this.agents.get(entry.id)) return entry;
    entry.printers = names.map((name, i) => {
      const isDefault = defaultPrinter && defaultPrinter.name === name;
      return {
        name,
        isDefault: Boolean(isDefault),
        driver: isDefault ? String(defaultPrinter.driver ?? '') : null,
        port: isDefault ? String(defaultPrinter.port ?? '') : null,
        ...queueOf(statuses[i]),
      };
    });
    entry.defaultPrinter = defaultPrinter;
    entry.defaultPaper = isObject(paper.result) ? paper.result : null;
    entry.refreshing = false;
    entry.refreshedAt = new Date().toISOString();
    entry.refreshError = error;
    this.agents.changed(entry);
    return entry;
  }

  // Follows the print task's printer while the task is open, and once
  // more after its reply, so the task shows where its job went.
  follow(entry, record, printerName) {
    let watcher = this.watchers.get(entry.id);
    if (!watcher) {
      watcher = { tasks: new Map(), asking: new Set(), timer: setInterval(() => this.look(entry), this.lookEveryMs) };
      this.watchers.set(entry.id, watcher);
    }
    watcher.tasks.set(record.taskId, { record, printerName });
    record.done.then(() => this.look(entry, printerName));
    this.look(entry);
  }

  // Asks for the queues of the open tasks' printers, or for last's after
  // its task ended (even while an earlier look is still out).
  look(entry, last) {
    const watcher = this.watchers.get(entry.id);
    if (!watcher) return;
    const open = [...watcher.tasks.values()].filter((t) => t.record.state === 'waiting').map((t) => t.printerName);
    for (const name of last ? [last] : [...new Set(open)]) {
      if (!last && watcher.asking.has(name)) continue;
      watcher.asking.add(name);
      const asked = this.commands.send(entry, 'GetPrinterJobStatus', { szPrinterName: name }, { origin: 'console' });
      asked.done.then((answer) => {
        watcher.asking.delete(name);
        if (this.watchers.get(entry.id) !== watcher) return;
        const queue = queueOf(answer);
        const row = entry.printers.find((p) => p.name === name);
        if (row) Object.assign(row, queue);
        for (const [taskId, task] of watcher.tasks) {
          if (task.printerName !== name) continue;
          task.record.queue = { ...queue, looks: (task.record.queue?.looks ?? 0) + 1, at: new Date().toISOString() };
          this.commands.touch(task.record);
          // Its last look: asked after the task ended.
          if (task.record.endedAt && asked.sentAt >= task.record.endedAt) watcher.tasks.delete(taskId);
        }
        if (watcher.tasks.size === 0) this.forget(entry.id);
        this.agents.changed(entry);
      });
    }
  }

  forget(entryId) {
    const watcher = this.watchers.get(entryId);
    if (watcher) clearInterval(watcher.timer);
    this.watchers.delete(entryId);
  }

  close() {
    for (const id of [...this.watchers.keys()]) this.forget(id);
  }
}

function isObject(v) {
  return v !== null && typeof v === 'object' && !Array.isArray(v);
}

function describe(record) {
  if (record.state === 'answered' || record.state === 'failed') return record.note || JSON.stringify(record.result);
  return `${record.state}${record.note ? ` (${record.note})` : ''}`;
}

// A GetPrinterJobStatus answer as a row's status and jobs.
function queueOf(record) {
  const r = record.result;
  if (!isObject(r)) return { status: `(${describe(record)})`, jobs: [] };
  const jobs = Array.isArray(r.jobs) ? r.jobs.filter(isObject) : [];
  return { status: typeof r.printer === 'string' ? r.printer : '', jobs };
}

module.exports = { PrinterTables };
