'use strict';
// The console's listeners: agents over TCP (0xFE-framed) and over
// WebSocket on the HTTP port (any path but /ui), the page, its event
// socket at /ui, the JSON API, and the test image.

const fs = require('fs');
const http = require('http');
const net = require('net');
const path = require('path');
const { WebSocketServer } = require('ws');

const { COMMANDS } = require('./catalog');
const { Commands } = require('./commands');
const { Feed } = require('./feed');
const { MessageFramer, frame, DEFAULT_LIMIT } = require('./framer');
const { Hub } = require('./hub');

const PUBLIC = path.join(__dirname, '..', 'public');
const FILES = {
  '/': ['index.html', 'text/html; charset=utf-8'],
  '/index.html': ['index.html', 'text/html; charset=utf-8'],
  '/console.js': ['console.js', 'text/javascript; charset=utf-8'],
  '/console.css': ['console.css', 'text/css; charset=utf-8'],
  '/test-image.jpg': ['test-image.jpg', 'image/jpeg'],
};
const BODY_LIMIT = 1024 * 1024;
// A page that stops reading is dropped (it reconnects and starts afresh)
// rather than letting its backlog grow.
const PAGE_BACKLOG = 8 * 1024 * 1024;
const PAGE_SNAPSHOT_LOG = 500;

function isLoopback(host) {
  return host === 'localhost' || host === '::1' || /^127\.\d+\.\d+\.\d+$/.test(host) || /^::ffff:127\./.test(host);
}

// An address as it goes into a URL.
function urlHost(address) {
  const plain = String(address || '127.0.0.1').replace(/^::ffff:/, '');
  return plain.includes(':') ? `[${plain}]` : plain;
}

function peer(socket) {
  return `${urlHost(socket.remoteAddress)}:${socket.remotePort}`;
}

class HttpError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

class ConsoleServer {
  constructor({ host = '127.0.0.1', tcpPort = 9100, httpPort = 9101, anyHost = false, messageLimit = DEFAULT_LIMIT, ...hubOptions } = {}) {
    this.host = host;
    this.ports = { tcp: tcpPort, http: httpPort };
    this.anyHost = anyHost;
    this.messageLimit = messageLimit;
    this.hub = new Hub(hubOptions);
    this.files = new Map();
    this.sockets = new Set();
    this.agentWss = new WebSocketServer({ noServer: true, maxPayload: messageLimit });
    this.pageWss = new WebSocketServer({ noServer: true, maxPayload: 64 * 1024 });
    this.tcp = net.createServer((socket) => this.guard(() => this.onTcp(socket)));
    this.http = http.createServer((req, res) => this.onRequest(req, res));
    this.http.on('upgrade', (req, socket, head) => this.guard(() => this.onUpgrade(req, socket, head)));
    this.http.on('clientError', (err, socket) => socket.destroy());
    this.tcp.on('error', (err) => this.hub.feed.log({ text: `tcp listener: ${err.message}` }));
  }

  async start() {
    for (const [file, type] of Object.values(FILES)) this.files.set(file, { body: fs.readFileSync(path.join(PUBLIC, file)), type });
    await listen(this.tcp, this.ports.tcp, this.host);
    await listen(this.http, this.ports.http, this.host);
    this.ports = { tcp: this.tcp.address().port, http: this.http.address().port };
    this.hub.feed.log({ text: `listening: http ${urlHost(this.host)}:${this.ports.http}, tcp ${urlHost(this.host)}:${this.ports.tcp}` });
    return this.ports;
  }

  async close() {
    this.hub.close();
    for (const socket of this.sockets) socket.destroy();
    for (const ws of this.agentWss.clients) ws.terminate();
    for (const ws of this.pageWss.clients) ws.terminate();
    this.http.closeAllConnections();
    await Promise.all([new Promise((r) => this.tcp.close(r)), new Promise((r) => this.http.close(r))]);
  }

  // One client's fault never ends the process.
  guard(work, conn) {
    try {
      work();
    } catch (err) {
      this.hub.feed.log({ conn: conn ? conn.id : null, text: `internal error: ${err.stack || err}` });
      process.stderr.write(`quorvin-console: internal error: ${err.stack || err}\n`);
    }
  }

  onTcp(socket) {
    this.sockets.add(socket);
    socket.setNoDelay(true);
    socket.setKeepAlive(true, 60000);
    const conn = {
      link: 'tcp',
      remote: peer(socket),
      local: socket.localAddress,
      write: (text) => socket.write(frame(text)),
      close: () => socket.destroy(),
    };
    this.hub.connect(conn);
    const framer = new MessageFramer({ limit: this.messageLimit });
    let why = '';
    socket.on('data', (chunk) => this.guard(() => {
      const out = framer.push(chunk);
      if (out.heartbeats) this.hub.receive(conn, undefined, out.heartbeats);
      for (const text of out.messages) this.guard(() => this.hub.receive(conn, text), conn);
      if (out.overLimit) {
        why = `a message grew past ${this.messageLimit} bytes without its delimiter; connection closed`;
        socket.destroy();
      }
    }, conn));
    socket.on('error', (err) => (why = why || err.message));
    socket.on('close', () => this.guard(() => {
      this.sockets.delete(socket);
      const left = framer.discard();
      if (left) why = `${why ? `${why}; ` : ''}${left} bytes of an unfinished message discarded`;
      this.hub.disconnect(conn, why);
    }, conn));
  }

  onUpgrade(req, socket, head) {
    socket.on('error', () => socket.destroy());
    const where = new URL(req.url, 'http://console').pathname;
    if (where === '/ui') {
      if (!this.allowed(req) || !this.sameOrigin(req)) return socket.destroy();
      this.pageWss.handleUpgrade(req, socket, head, (ws) => this.guard(() => this.onPage(ws)));
    } else {
      this.agentWss.handleUpgrade(req, socket, head, (ws) => this.guard(() => this.onWsAgent(ws, req)));
    }
  }

  onWsAgent(ws, req) {
    req.socket.setKeepAlive(true, 60000);
    const conn = {
      link: 'ws',
      remote: peer(req.socket),
      local: req.socket.localAddress,
      write: (text) => ws.send(text),
      close: () => ws.terminate(),
    };
    this.hub.connect(conn);
    let why = '';
    // Text and binary messages alike.
    ws.on('message', (data) => this.guard(() => this.hub.receive(conn, Buffer.from(data).toString('utf8')), conn));
    ws.on('ping', () => this.hub.receive(conn, undefined));
    ws.on('error', (err) => (why = why || err.message));
    ws.on('close', (code) => this.guard(() => this.hub.disconnect(conn, why || `closed (${code})`), conn));
  }

  onPage(ws) {
    const send = (event) => {
      if (ws.readyState !== ws.OPEN) return;
      if (ws.bufferedAmount > PAGE_BACKLOG) return ws.terminate();
      ws.send(JSON.stringify(event));
    };
    send({
      type: 'hello',
      agents: this.hub.agents.list(),
      log: this.hub.feed.since(0, PAGE_SNAPSHOT_LOG).map(Feed.brief),
      commands: this.hub.commands.list().slice(-200).map(Commands.view),
      catalog: COMMANDS,
      listen: { host: urlHost(this.host), ...this.ports },
    });
    const off = this.hub.feed.subscribe(send);
    ws.on('close', off);
    ws.on('error', () => ws.terminate());
  }

  async onRequest(req, res) {
    try {
      if (!this.allowed(req)) throw new HttpError(403, 'the console answers only on a loopback host name');
      const url = new URL(req.url, 'http://console');
      const file = FILES[url.pathname];
      if (file && (req.method === 'GET' || req.method === 'HEAD')) return this.sendFile(req, res, file[0], url);
      if (!url.pathname.startsWith('/api/')) throw new HttpError(404, 'no such page');
      const [status, answer] = await this.api(req, url);
      reply(res, status, answer);
    } catch (err) {
      reply(res, err.status || 500, { error: err.status ? err.message : `internal error: ${err.message}` });
      if (!err.status) {
        this.hub.feed.log({ text: `internal error on ${req.method} ${req.url}: ${err.stack}` });
        process.stderr.write(`quorvin-console: internal error on ${req.method} ${req.url}: ${err.stack}\n`);
      }
    }
  }

  sendFile(req, res, name, url) {
    const { body, type } = this.files.get(name);
    res.writeHead(200, {
      'Content-Type': type,
      'Content-Length': body.length,
      'Cache-Control': 'no-store',
      'Content-Security-Policy': "default-src 'self'; img-src 'self' data:; connect-src 'self'",
      'X-Content-Type-Options': 'nosniff',
    });
    if (name === 'test-image.jpg' && req.method === 'GET') {
      res.on('finish', () => this.hub.imageServed(url.searchParams.get('task'), body.length, peer(req.socket)));
    }
    res.end(req.method === 'HEAD' ? undefined : body);
  }

  async api(req, url) {
    const [, , kind, key, action, more] = url.pathname.split('/').map((s) => safeDecode(s));
    const method = req.method;
    const hub = this.hub;
    if (more !== undefined) throw new HttpError(404, 'no such resource');
    if (kind === 'agents') {
      if (key === undefined || key === '') {
        if (method !== 'GET') throw new HttpError(405, 'use GET');
        return [200, hub.agents.list()];
      }
      const entry = hub.agents.get(key);
      if (!entry) throw new HttpError(404, `no connected agent ${key}`);
      if (action === undefined) {
        if (method !== 'GET') throw new HttpError(405, 'use GET');
        return [200, entry];
      }
      if (method !== 'POST') throw new HttpError(405, 'use POST');
      const body = await readJson(req);
      if (action === 'commands') {
        if (typeof body.name !== 'string' || body.name.trim() === '') throw new HttpError(400, '"name" must be a command name');
        if (body.body !== undefined && (body.body === null || typeof body.body !== 'object' || Array.isArray(body.body))) {
          throw new HttpError(400, '"body" must be a JSON object of arguments');
        }
        const record = hub.command(entry, body.name.trim(), body.body || {}, origin(body));
        return [202, { taskId: record.taskId, state: record.state }];
      }
      if (action === 'test-print') {
        if (typeof body.printerName !== 'string') throw new HttpError(400, '"printerName" must be a text');
        const image = `http://${urlHost(entry.conn.local)}:${this.ports.http}/test-image.jpg`;
        const record = hub.testPrint(entry, body.printerName, image, origin(body));
        return [202, { taskId: record.taskId, state: record.state, body: record.body }];
      }
      if (action === 'refresh') {
        hub.printers.refresh(entry);
        return [202, { refreshing: true }];
      }
      throw new HttpError(404, `no action ${action}`);
    }
    if (method !== 'GET') throw new HttpError(405, 'use GET');
    if (kind === 'commands' && action === undefined) {
      if (!key) return [200, hub.commands.list().map(Commands.view)];
      const record = hub.commands.get(key);
      if (!record) throw new HttpError(404, `no command ${key}`);
      return [200, record];
    }
    if (kind === 'log' && action === undefined) {
      if (key) {
        const entry = hub.feed.find(Number(key));
        if (!entry) throw new HttpError(404, `no log entry ${key}`);
        return [200, entry];
      }
      const after = Number(url.searchParams.get('after') || 0);
      const limit = Number(url.searchParams.get('limit') || 2000);
      return [200, hub.feed.since(Number.isFinite(after) ? after : 0, Number.isFinite(limit) && limit > 0 ? limit : 2000)];
    }
    if (kind === 'catalog' && !key) return [200, COMMANDS];
    throw new HttpError(404, 'no such resource');
  }

  // Host names other than the console's own (a page elsewhere rebinding a
  // name to this machine) are refused.
  allowed(req) {
    if (this.anyHost) return true;
    const host = String(req.headers.host || '').replace(/:\d+$/, '').replace(/^\[(.*)\]$/, '$1');
    return isLoopback(host) || host === this.host;
  }

  sameOrigin(req) {
    const from = req.headers.origin;
    if (!from) return true;
    try {
      return new URL(from).host === req.headers.host;
    } catch {
      return false;
    }
  }
}

function origin(body) {
  return body.origin === 'page' ? 'page' : 'api';
}

function safeDecode(s) {
  try {
    return decodeURIComponent(s);
  } catch {
    throw new HttpError(400, 'bad percent-encoding in the path');
  }
}

function reply(res, status, value) {
  if (res.headersSent) return res.end();
  const body = JSON.stringify(value);
  res.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8', 'Cache-Control': 'no-store' });
  res.end(body);
}

// A JSON object from the request; a JSON content type keeps other sites'
// plain form posts out.
function readJson(req) {
  return new Promise((resolve, reject) => {
    if (!/^application\/json\b/i.test(req.headers['content-type'] || '')) {
      reject(new HttpError(415, 'send the body as application/json'));
      req.resume();
      return;
    }
    const chunks = [];
    let size = 0;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (size > BODY_LIMIT) {
        // The rest is read and dropped, so the answer still reaches the client.
        req.removeAllListeners('data');
        req.resume();
        reject(new HttpError(413, `body over ${BODY_LIMIT} bytes`));
      } else chunks.push(chunk);
    });
    req.on('error', reject);
    req.on('end', () => {
      const text = Buffer.concat(chunks).toString('utf8');
      let value;
      try {
        value = text === '' ? {} : JSON.parse(text);
      } catch (err) {
        return reject(new HttpError(400, `body is not JSON: ${err.message}`));
      }
      if (value === null || typeof value !== 'object' || Array.isArray(value)) return reject(new HttpError(400, 'body must be a JSON object'));
      resolve(value);
    });
  });
}

function listen(server, port, host) {
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => {
      server.off('error', reject);
      resolve();
    });
  });
}

module.exports = { ConsoleServer, isLoopback };
