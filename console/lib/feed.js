'use strict';
// The live feed behind the page: a bounded log of every message in both
// directions plus the console's own notes, and the updates (agents,
// commands) that open pages are sent as they happen.

const DEFAULT_ENTRIES = 2000;
// A text is kept whole up to the largest message an agent may send; the
// oldest entries leave early when the log's texts outgrow KEPT_TOTAL.
const KEPT_TEXT = 16 * 1024 * 1024;
const KEPT_TOTAL = 128 * 1024 * 1024;
// What a page gets of a text in the live feed; GET /api/log/:seq has the rest.
const FEED_TEXT = 2000;

class Feed {
  constructor({ entries = DEFAULT_ENTRIES } = {}) {
    this.capacity = entries;
    this.entries = [];
    this.bytes = 0;
    this.seq = 0;
    this.listeners = new Set();
  }

  // dir: "in" (agent to console), "out" (console to agent) or "note".
  log({ conn = null, agent = '', link = '', dir = 'note', text }) {
    const size = Buffer.byteLength(text, 'utf8');
    const entry = {
      seq: ++this.seq,
      time: new Date().toISOString(),
      conn,
      agent,
      link,
      dir,
      size,
      text: text.length > KEPT_TEXT ? text.slice(0, KEPT_TEXT) : text,
      cut: text.length > KEPT_TEXT,
    };
    this.entries.push(entry);
    this.bytes += entry.text.length;
    while (this.entries.length > this.capacity || (this.bytes > KEPT_TOTAL && this.entries.length > 1)) {
      this.bytes -= this.entries.shift().text.length;
    }
    this.publish({ type: 'log', entry: Feed.brief(entry) });
    return entry;
  }

  // The entries after seq (all when absent), at most limit of them, newest last.
  since(after = 0, limit = this.capacity) {
    const newer = this.entries.filter((e) => e.seq > after);
    return newer.slice(Math.max(0, newer.length - limit));
  }

  find(seq) {
    return this.entries.find((e) => e.seq === seq) || null;
  }

  static brief(entry) {
    if (entry.text.length <= FEED_TEXT) return entry;
    return { ...entry, text: entry.text.slice(0, FEED_TEXT), cut: true };
  }

  subscribe(listener) {
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  publish(event) {
    for (const listener of this.listeners) {
      try {
        listener(event);
      } catch {
        // A page that went away must not stop the others' updates.
      }
    }
  }
}

module.exports = { Feed, FEED_TEXT };
