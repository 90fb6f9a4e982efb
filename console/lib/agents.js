'use strict';
// The connected agents: one entry per connection, filled in from the
// agent's registration ("wellcome") and from the printer table the
// console asks for. An entry leaves when its connection ends.

class Agents {
  constructor({ onChange = () => {} } = {}) {
    this.entries = new Map();
    this.onChange = onChange;
  }

  // conn: { id, link, remote, local, send(text), close() }
  add(conn) {
    const entry = {
      id: conn.id,
      link: conn.link,
      remote: conn.remote,
      since: new Date().toISOString(),
      registered: false,
      registrations: 0,
      clientId: '',
      clientName: '',
      clientType: '',
      gsdm: '',
      rydm: '',
      heartbeats: 0,
      lastHeard: null,
      printers: [],
      defaultPrinter: null,
      defaultPaper: null,
      refreshing: false,
      refreshedAt: null,
      refreshError: '',
    };
    Object.defineProperty(entry, 'conn', { value: conn, enumerable: false });
    this.entries.set(conn.id, entry);
    this.onChange();
    return entry;
  }

  remove(id) {
    const entry = this.entries.get(id);
    if (!entry) return null;
    this.entries.delete(id);
    this.onChange();
    return entry;
  }

  // Takes the registration's values; answers how many this connection has made.
  register(id, message) {
    const entry = this.entries.get(id);
    if (!entry) return 0;
    const body = message.body && typeof message.body === 'object' ? message.body : {};
    const text = (v) => (typeof v === 'string' ? v : '');
    entry.registered = true;
    entry.registrations++;
    entry.clientId = text(message.from);
    entry.clientName = text(body.clientName);
    entry.clientType = text(body.clientType);
    entry.gsdm = text(body.gsdm);
    entry.rydm = text(body.rydm);
    this.onChange();
    return entry.registrations;
  }

  heard(id, heartbeats = 0) {
    const entry = this.entries.get(id);
    if (!entry) return;
    entry.heartbeats += heartbeats;
    entry.lastHeard = new Date().toISOString();
  }

  changed() {
    this.onChange();
  }

  // By connection id, or else by client id (the newest connection of it).
  get(key) {
    if (this.entries.has(key)) return this.entries.get(key);
    let found = null;
    for (const entry of this.entries.values()) if (entry.registered && entry.clientId === key) found = entry;
    return found;
  }

  list() {
    return [...this.entries.values()];
  }
}

module.exports = { Agents };
