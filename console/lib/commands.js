'use strict';
// Commands sent to agents and the replies matched to them by the taskId
// the agent echoes. A command ends once: answered, timed out, or ended
// because its agent's connection went away.

const { LONG_RUNNING } = require('./catalog');

const SERVER_ID = 'quorvin-console';
const KEPT = 2000;
// Replies may be large (up to an agent's message limit): ended commands
// leave early when the kept replies outgrow this.
const KEPT_REPLY_BYTES = 128 * 1024 * 1024;

class Commands {
  constructor({ timeoutMs = 30000, longTimeoutMs = 15 * 60 * 1000, onUpdate = () => {} } = {}) {
    this.timeoutMs = timeoutMs;
    this.longTimeoutMs = longTimeoutMs;
    this.onUpdate = onUpdate;
    this.records = new Map();
    this.count = 0;
    this.replyBytes = 0;
  }

  // Sends name with body's members to the agent entry; answers the record,
  // whose done promise settles when the command ends. origin: who asked
  // ("page", "api", "console").
  send(agent, name, body = {}, { origin = 'api', extra = {}, taskId = this.nextTaskId() } = {}) {
    const message = {
      type: 'cmd',
      from: SERVER_ID,
      to: agent.clientId,
      name,
      body: { ...body, modelName: body.modelName ?? '', taskId, callfor: body.callfor ?? '' },
    };
    const text = JSON.stringify(message);
    const record = {
      taskId,
      agent: agent.id,
      clientId: agent.clientId,
      name,
      body: message.body,
      origin,
      state: 'waiting',
      sentAt: new Date().toISOString(),
      endedAt: null,
      result: null,
      reply: null,
      note: '',
      ...extra,
    };
    let settle;
    const done = new Promise((resolve) => (settle = resolve));
    const waitMs = LONG_RUNNING.has(name.toLowerCase()) ? this.longTimeoutMs : this.timeoutMs;
    const timer = setTimeout(() => this.end(record, 'timeout', `no reply within ${Math.round(waitMs / 1000)} s`), waitMs);
    Object.defineProperties(record, {
      done: { value: done, enumerable: false },
      settle: { value: settle, enumerable: false },
      timer: { value: timer, enumerable: false },
    });
    this.records.set(taskId, record);
    this.trim();
    this.onUpdate(record);
    agent.conn.send(text);
    return record;
  }

  nextTaskId() {
    return `qc${Date.now().toString(36)}-${++this.count}`;
  }

  // A reply (size bytes) from the agent entry; answers its command's
  // record, or null when none of that agent's open commands has its taskId.
  reply(agent, message, size = 0) {
    const body = message.body && typeof message.body === 'object' ? message.body : {};
    const record = this.records.get(body.taskId);
    if (!record || record.agent !== agent.id || record.state !== 'waiting') return null;
    const result = body.result === undefined ? null : body.result;
    record.result = result;
    record.reply = message;
    record.replySize = size;
    this.replyBytes += size;
    let state = 'answered';
    if (result && typeof result === 'object' && !Array.isArray(result) && 'errorNo' in result) {
      state = String(result.errorNo) === '0' ? 'succeeded' : 'failed';
      if (state === 'failed') record.note = String(result.errorMsg ?? '');
    }
    this.end(record, state);
    this.trim();
    return record;
  }

  // Ends every open command of the agent entry.
  endAll(agentId, state, note) {
    for (const record of this.records.values()) {
      if (record.agent === agentId && record.state === 'waiting') this.end(record, state, note);
    }
  }

  open(agentId) {
    return [...this.records.values()].filter((r) => r.agent === agentId && r.state === 'waiting');
  }

  get(taskId) {
    return this.records.get(taskId) || null;
  }

  list() {
    return [...this.records.values()];
  }

  // Tells the pages that the record changed (progress of a print task).
  touch(record) {
    this.onUpdate(record);
  }

  end(record, state, note) {
    if (record.state !== 'waiting') return;
    clearTimeout(record.timer);
    record.state = state;
    if (note !== undefined) record.note = note;
    record.endedAt = new Date().toISOString();
    this.onUpdate(record);
    record.settle(record);
  }

  // Keeps the newest ended commands; open ones always stay.
  trim() {
    for (const [taskId, record] of this.records) {
      if (this.records.size <= KEPT && this.replyBytes <= KEPT_REPLY_BYTES) break;
      if (record.state === 'waiting') continue;
      this.records.delete(taskId);
      this.replyBytes -= record.replySize || 0;
    }
  }

  // A record without its reply message, for lists and the pages.
  static view(record) {
    const { reply, ...rest } = record;
    return { ...rest, replied: reply !== null };
  }
}

module.exports = { Commands, SERVER_ID };
