'use strict';
// What the console does with its agents, whichever link they came on:
// every message logged, registrations kept, replies matched to commands,
// and the test print with its image fetch followed.

const { Agents } = require('./agents');
const { Commands } = require('./commands');
const { Feed } = require('./feed');
const { PrinterTables } = require('./printers');

class Hub {
  constructor({ commandTimeoutMs, longTimeoutMs, lookEveryMs, logEntries } = {}) {
    this.feed = new Feed({ entries: logEntries });
    let pending = false;
    // Many changes in one turn (a printer table filling in) reach the pages once.
    this.agents = new Agents({
      onChange: () => {
        if (pending) return;
        pending = true;
        setImmediate(() => {
          pending = false;
          this.feed.publish({ type: 'agents', agents: this.agents.list() });
        });
      },
    });
    this.commands = new Commands({
      timeoutMs: commandTimeoutMs,
      longTimeoutMs,
      onUpdate: (record) => this.feed.publish({ type: 'command', command: Commands.view(record) }),
    });
    this.printers = new PrinterTables({ agents: this.agents, commands: this.commands, lookEveryMs });
    this.testPrints = 0;
    this.connections = 0;
  }

  // conn: { link, remote, local, write(text), close() }; gets its id and send().
  connect(conn) {
    conn.id = `${conn.link}-${++this.connections}`;
    conn.send = (text) => {
      this.log(conn, 'out', text);
      try {
        conn.write(text);
      } catch (err) {
        this.note(conn, `send failed: ${err.message}`);
      }
    };
    this.agents.add(conn);
    this.note(conn, `connected from ${conn.remote}`);
  }

  receive(conn, text, heartbeats = 0) {
    this.agents.heard(conn.id, heartbeats);
    if (text === undefined) return;
    this.log(conn, 'in', text);
    let message;
    try {
      message = JSON.parse(text);
    } catch (err) {
      this.note(conn, `not JSON (kept above): ${err.message}`);
      return;
    }
    if (message === null || typeof message !== 'object' || Array.isArray(message)) {
      this.note(conn, 'not a JSON object (kept above)');
      return;
    }
    const entry = this.agents.get(conn.id);
    if (!entry) return;
    const name = typeof message.name === 'string' ? message.name : '';
    if (name.toLowerCase() === 'wellcome') {
      const times = this.agents.register(conn.id, message);
      this.note(conn, times === 1
        ? `registered as ${entry.clientId} (${entry.clientName || 'no name'})`
        : `registered again (${times} times on this connection); entry updated to ${entry.clientId} (${entry.clientName || 'no name'})`);
      this.printers.refresh(entry);
    } else if (name.endsWith('>res')) {
      if (!this.commands.reply(entry, message, text.length)) this.note(conn, 'a reply that matches no open command');
    } else {
      this.note(conn, `an unexpected message "${name}"`);
    }
  }

  disconnect(conn, why) {
    const entry = this.agents.remove(conn.id);
    if (!entry) return;
    this.printers.forget(conn.id);
    this.commands.endAll(conn.id, 'disconnected', 'agent disconnected');
    this.note(conn, `disconnected${why ? `: ${why}` : ''}`);
  }

  // Sends a command of the set (or any other name) to an agent entry.
  command(entry, name, body, origin) {
    return this.commands.send(entry, name, body, { origin });
  }

  // PrintWebJpegImage of the console's own test image; imageUrl is its
  // address as the agent can reach it.
  testPrint(entry, printerName, imageUrl, origin) {
    const n = ++this.testPrints;
    const taskId = this.commands.nextTaskId();
    const body = {
      szRemoteURI: `${imageUrl}?task=${encodeURIComponent(taskId)}`,
      szLocalPath: `temp^console-${n}.jpg`,
      printerName,
    };
    const record = this.commands.send(entry, 'PrintWebJpegImage', body, {
      origin, taskId, extra: { testPrint: true, printerName, served: null, queue: null },
    });
    this.printers.follow(entry, record, printerName);
    return record;
  }

  // The agent fetched the test image for the task (or someone else did).
  imageServed(taskId, bytes, remote) {
    const record = taskId ? this.commands.get(taskId) : null;
    const who = record ? `${record.clientId || record.agent} for task ${record.taskId}` : 'no known task';
    this.feed.log({ agent: record ? record.clientId : '', link: 'http', text: `test image: served ${bytes} bytes to ${remote} (${who})` });
    if (record) {
      record.served = { bytes, to: remote, at: new Date().toISOString() };
      this.commands.touch(record);
    }
  }

  log(conn, dir, text) {
    const entry = this.agents.get(conn.id);
    this.feed.log({ conn: conn.id, agent: entry ? entry.clientId : '', link: conn.link, dir, text });
  }

  note(conn, text) {
    this.log(conn, 'note', text);
  }

  close() {
    this.printers.close();
    for (const record of this.commands.list()) this.commands.end(record, 'disconnected', 'console stopped');
  }
}

module.exports = { Hub };
