'use strict';
// The agents' TCP stream: each message is UTF-8 text followed by one 0xFE
// byte; a lone 0xFF is a heartbeat. Neither byte can occur inside UTF-8,
// so a heartbeat may be dropped wherever it falls.

const DELIMITER = 0xfe;
const HEARTBEAT = 0xff;
const DEFAULT_LIMIT = 16 * 1024 * 1024;

class MessageFramer {
  constructor({ limit = DEFAULT_LIMIT } = {}) {
    this.limit = limit;
    this.chunks = [];
    this.pending = 0;
  }

  // Bytes of an unfinished message held so far.
  get pendingBytes() {
    return this.pending;
  }

  // Takes one chunk; answers the messages it completed (decoded only once
  // whole, so a character split across chunks comes out intact), the
  // number of heartbeats, and overLimit once an unfinished message has
  // grown past the limit. After overLimit the framer holds nothing and the
  // caller is expected to drop the connection: the stream cannot be trusted
  // to get back in step.
  push(chunk) {
    const out = { messages: [], heartbeats: 0, overLimit: false };
    let start = 0;
    while (start <= chunk.length) {
      const end = chunk.indexOf(DELIMITER, start);
      const piece = chunk.subarray(start, end < 0 ? chunk.length : end);
      const kept = this.keep(piece, out);
      if (!kept) return out;
      if (end < 0) break;
      out.messages.push(Buffer.concat(this.chunks, this.pending).toString('utf8'));
      this.chunks = [];
      this.pending = 0;
      start = end + 1;
    }
    return out;
  }

  // Drops whatever unfinished message is held; answers its size.
  discard() {
    const dropped = this.pending;
    this.chunks = [];
    this.pending = 0;
    return dropped;
  }

  keep(piece, out) {
    if (piece.includes(HEARTBEAT)) {
      const bytes = [];
      for (const b of piece) {
        if (b === HEARTBEAT) out.heartbeats++;
        else bytes.push(b);
      }
      piece = Buffer.from(bytes);
    }
    if (piece.length === 0) return true;
    if (this.pending + piece.length > this.limit) {
      this.discard();
      out.overLimit = true;
      return false;
    }
    // A copy: the socket may reuse the chunk's memory.
    this.chunks.push(Buffer.from(piece));
    this.pending += piece.length;
    return true;
  }
}

// One message on the wire.
function frame(text) {
  const body = Buffer.from(text, 'utf8');
  const out = Buffer.allocUnsafe(body.length + 1);
  body.copy(out);
  out[body.length] = DELIMITER;
  return out;
}

module.exports = { MessageFramer, frame, DEFAULT_LIMIT, DELIMITER, HEARTBEAT };
