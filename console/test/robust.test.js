'use strict';
// The console against clients that misbehave: each case runs one bad
// client against the real console process, then checks that the console
// still answers its API and a well-behaved agent connected alongside is
// still listed and answered. Plus the TCP framer's cases in one table.

const assert = require('node:assert/strict');
const net = require('node:net');
const { after, before, describe, it } = require('node:test');
const WebSocket = require('ws');

const { MessageFramer, frame } = require('../lib/framer');
const { api, commandEnded, startConsole, stopConsole, waitFor } = require('./support');

const MiB = 1024 * 1024;

describe('framer', () => {
  const bytes = (...parts) => Buffer.concat(parts.map((p) => (typeof p === 'string' ? Buffer.from(p, 'utf8') : Buffer.from(p))));
  const stream = bytes([0xff], '{"name":"打印机"}', [0xfe, 0xff], 'B', [0xfe]);
  const cases = [
    { what: 'two messages in one chunk', chunks: [bytes('A', [0xfe], 'B', [0xfe])], messages: ['A', 'B'] },
    { what: 'a message over three chunks', chunks: ['{"a"', ':1', bytes('}', [0xfe])], messages: ['{"a":1}'] },
    { what: 'an empty message between two delimiters', chunks: [bytes([0xfe, 0xfe])], messages: ['', ''] },
    { what: 'heartbeats before, between and inside', chunks: [[0xff], 'A', [0xff], bytes([0xfe, 0xff])], messages: ['A'], heartbeats: 3 },
    { what: 'one byte at a time, Chinese split inside its characters', chunks: [...stream].map((b) => [b]), messages: ['{"name":"打印机"}', 'B'], heartbeats: 2 },
    ...Array.from({ length: stream.length - 1 }, (_, i) => ({
      what: `the stream cut after byte ${i + 1}`,
      chunks: [stream.subarray(0, i + 1), stream.subarray(i + 1)],
      messages: ['{"name":"打印机"}', 'B'],
      heartbeats: 2,
    })),
    { what: 'a message of exactly the limit', limit: 8, chunks: [bytes('12345678', [0xfe])], messages: ['12345678'] },
    { what: 'a message over the limit across chunks', limit: 8, chunks: ['12345', '6789'], messages: [], overLimit: true },
    { what: 'messages before the one over the limit', limit: 4, chunks: [bytes('ok', [0xfe], '12345')], messages: ['ok'], overLimit: true },
  ];
  for (const c of cases) {
    it(c.what, () => {
      const framer = new MessageFramer({ limit: c.limit });
      const seen = { messages: [], heartbeats: 0, overLimit: false };
      for (const chunk of c.chunks) {
        const out = framer.push(typeof chunk === 'string' ? Buffer.from(chunk) : Buffer.from(chunk));
        seen.messages.push(...out.messages);
        seen.heartbeats += out.heartbeats;
        seen.overLimit ||= out.overLimit;
      }
      assert.deepEqual(seen, { messages: c.messages, heartbeats: c.heartbeats ?? 0, overLimit: c.overLimit ?? false });
      if (c.overLimit) assert.equal(framer.pendingBytes, 0);
    });
  }
});

// An agent on the TCP link: registers, answers every command unless
// silent, and records what it got.
class TcpAgent {
  constructor(port, { clientId, clientName = 'desk', silent = false } = {}) {
    this.clientId = clientId;
    this.received = [];
    this.framer = new MessageFramer();
    this.socket = net.connect(port, '127.0.0.1');
    this.socket.setNoDelay(true);
    this.socket.on('error', () => {});
    this.closed = new Promise((r) => this.socket.on('close', r));
    this.socket.on('data', (chunk) => {
      for (const text of this.framer.push(chunk).messages) {
        const message = JSON.parse(text);
        this.received.push(message);
        if (!silent) this.write(JSON.stringify(answer(message, text)));
      }
    });
    this.ready = new Promise((r) => this.socket.on('connect', r));
    this.registration = registration(clientId, clientName);
  }

  async register() {
    await this.ready;
    this.write(this.registration);
  }

  write(text) {
    this.socket.write(typeof text === 'string' ? frame(text) : text);
  }

  end() {
    this.socket.destroy();
    return this.closed;
  }
}

function registration(clientId, clientName) {
  return `{"type":"cmd","from":"${clientId}","to":"server","name":"wellcome","body":{\t"clientTag":"",\t"clientType":"printer",\t"clientName":"${clientName}",\t"gsdm":"g",\t"rydm":"r"}\t\t\t\t\t}`;
}

function answer(message, text) {
  const results = {
    GetAllPrn: ['P1'],
    GetDefaultPrn: { name: 'P1', driver: 'd', port: 'p' },
    GetDefaultPrnAndPaper: { printer: 'P1', paperName: 'A4', paperSize: '9' },
    GetPrinterJobStatus: { printer: '打印机空闲状态', jobs: [] },
    GetCurrentDir: { dir: '/agent' },
  };
  const { body } = message;
  return {
    type: 'cmd', from: message.to, to: message.from, name: `${message.name}>res`,
    body: { result: results[message.name] ?? { errorNo: '0', errorMsg: '' }, modelName: body.modelName, taskId: body.taskId, callfor: body.callfor },
    srcMsg: JSON.parse(text),
  };
}

describe('the console with bad clients', () => {
  let run;
  let good;
  const agentOf = async (clientId) => (await api(run, 'GET', '/api/agents')).json.find((a) => a.clientId === clientId);
  const listed = (clientId) => waitFor(() => agentOf(clientId), `${clientId} in the list`);
  const gone = (id) => waitFor(async () => !(await api(run, 'GET', '/api/agents')).json.some((a) => a.id === id), `${id} to leave`);
  const logHas = (fragment) => waitFor(async () => (await api(run, 'GET', '/api/log')).json.find((e) => e.text.includes(fragment)), `"${fragment}" in the log`);
  // A TCP agent, registered and listed.
  const join = async (options) => {
    const agent = new TcpAgent(run.tcp, options);
    await agent.register();
    agent.entry = await listed(options.clientId);
    return agent;
  };
  const send = async (id, name, body = {}) => {
    const res = await api(run, 'POST', `/api/agents/${encodeURIComponent(id)}/commands`, { name, body });
    assert.equal(res.status, 202, res.text);
    return res.json.taskId;
  };

  before(async () => {
    run = await startConsole(['--command-timeout', '2']);
    good = await join({ clientId: 'good-1' });
  });

  after(async () => {
    good.end();
    const exit = await stopConsole(run);
    assert.deepEqual(exit, { code: 0, signal: null });
    assert.doesNotMatch(run.stderr, /internal error/);
  });

  const cases = [
    {
      what: 'TCP bytes without a delimiter past 16 MiB close that connection',
      async run() {
        const bad = await join({ clientId: 'flood' });
        const { id } = bad.entry;
        const junk = Buffer.alloc(MiB, 'x');
        for (let i = 0; i < 17 && !bad.socket.destroyed; i++) bad.write(junk);
        await bad.closed;
        await gone(id);
        await logHas('grew past 16777216 bytes');
      },
    },
    {
      what: 'a message that is not JSON is logged and kept',
      async run() {
        const bad = await join({ clientId: 'talker' });
        bad.write('hello, not JSON {');
        const entry = await logHas('hello, not JSON {');
        assert.equal(entry.dir, 'in');
        await logHas('not JSON (kept above)');
        await bad.end();
      },
    },
    {
      what: 'a registration sent one byte at a time, Chinese name included',
      async run() {
        const slow = new TcpAgent(run.tcp, { clientId: 'slow-1', clientName: '前台打印' });
        await slow.ready;
        for (const b of frame(slow.registration)) {
          slow.write(Buffer.from([b]));
          await new Promise((r) => setImmediate(r));
        }
        assert.equal((await listed('slow-1')).clientName, '前台打印');
        await slow.end();
      },
    },
    {
      what: 'a 4 MiB message is kept whole in the log',
      async run() {
        const big = await join({ clientId: 'big' });
        const text = JSON.stringify({ name: 'Unasked', body: { pad: 'y'.repeat(4 * MiB) } });
        big.write(text);
        const entry = await waitFor(async () => (await api(run, 'GET', '/api/log')).json.find((e) => e.size === text.length), 'the big message');
        assert.equal((await api(run, 'GET', `/api/log/${entry.seq}`)).json.text, text);
        await big.end();
      },
    },
    {
      what: 'registering twice updates the one entry',
      async run() {
        const twice = await join({ clientId: 'twice-a' });
        const first = twice.entry;
        twice.write(registration('twice-b', 'second name'));
        const second = await listed('twice-b');
        assert.equal(second.id, first.id);
        assert.equal(second.registrations, 2);
        assert.equal(second.clientName, 'second name');
        assert.equal(await agentOf('twice-a'), undefined);
        await twice.end();
      },
    },
    {
      what: 'a connection that ends mid-message leaves, its partial message discarded',
      async run() {
        const cut = await join({ clientId: 'cut' });
        const { id } = cut.entry;
        cut.socket.write('{"name":"GetAllPrn>res","bo');
        await cut.end();
        await gone(id);
        await logHas('27 bytes of an unfinished message discarded');
      },
    },
    {
      what: 'a connection that never registers is listed as such and leaves',
      async run() {
        const mute = new TcpAgent(run.tcp, { clientId: '' });
        await mute.ready;
        const entry = await waitFor(async () => (await api(run, 'GET', '/api/agents')).json.find((a) => !a.registered), 'the unregistered entry');
        await mute.end();
        await gone(entry.id);
      },
    },
    {
      what: 'a WebSocket message over 16 MiB closes that connection with 1009',
      async run() {
        const ws = new WebSocket(`ws://127.0.0.1:${run.http}/agent`);
        await new Promise((r) => ws.on('open', r));
        ws.on('error', () => {});
        ws.send(Buffer.alloc(16 * MiB + 1, 'z'));
        const code = await new Promise((r) => ws.on('close', r));
        assert.equal(code, 1009);
      },
    },
    {
      what: 'a registration as a binary WebSocket message counts like text',
      async run() {
        const ws = new WebSocket(`ws://127.0.0.1:${run.http}/`);
        await new Promise((r) => ws.on('open', r));
        ws.send(Buffer.from(registration('ws-bin', 'binary')), { binary: true });
        const { id, link } = await listed('ws-bin');
        assert.equal(link, 'ws');
        ws.close();
        await gone(id);
      },
    },
    {
      what: 'the API refuses bad requests with a reason',
      async run() {
        const bad = [
          [['POST', '/api/agents/good-1/commands', '{"name":'], 400, /not JSON/],
          [['POST', '/api/agents/good-1/commands', '[1]'], 400, /JSON object/],
          [['POST', '/api/agents/good-1/commands', { name: 'GetAllPrn', body: 'x' }], 400, /"body"/],
          [['POST', '/api/agents/good-1/commands', { name: 'GetAllPrn' }, { 'Content-Type': 'text/plain' }], 415, /application\/json/],
          [['POST', '/api/agents/nobody/commands', { name: 'GetAllPrn' }], 404, /no connected agent nobody/],
          [['POST', '/api/agents/good-1/commands', JSON.stringify({ name: 'x'.repeat(MiB) })], 413, /over/],
          [['GET', '/api/commands/none'], 404, /no command/],
          [['GET', '/api/agents', undefined, { Host: 'evil.example:80' }], 403, /loopback/],
        ];
        for (const [args, status, reason] of bad) {
          const res = await api(run, ...args);
          assert.equal(res.status, status, `${args[0]} ${args[1]}: ${res.text}`);
          assert.match(res.json.error, reason);
        }
      },
    },
    {
      what: 'open commands of an agent that leaves end as disconnected',
      async run() {
        const leaver = await join({ clientId: 'leaver', silent: true });
        const taskId = await send('leaver', 'PrintWebJpegImage', { szRemoteURI: 'http://127.0.0.1:1/x.jpg', szLocalPath: 'temp^x.jpg', printerName: 'P1' });
        await waitFor(() => leaver.received.some((m) => m.body.taskId === taskId), 'the command to arrive');
        await leaver.end();
        const record = await commandEnded(run, taskId);
        assert.equal(record.state, 'disconnected');
        assert.equal(record.note, 'agent disconnected');
      },
    },
    {
      what: 'a silent agent: commands time out, a print task keeps waiting',
      async run() {
        const silent = await join({ clientId: 'silent', silent: true });
        const print = await send('silent', 'PrintWebJpegImage', { printerName: 'P1' });
        const dir = await send('silent', 'GetCurrentDir');
        const record = await commandEnded(run, dir);
        assert.equal(record.state, 'timeout');
        assert.equal((await api(run, 'GET', `/api/commands/${print}`)).json.state, 'waiting');
        await silent.end();
      },
    },
    {
      what: 'a reply nobody asked for is logged and dropped',
      async run() {
        const stray = await join({ clientId: 'stray' });
        stray.write('{"type":"cmd","name":"GetAllPrn>res","body":{"taskId":"never-sent","result":[]}}');
        await logHas('a reply that matches no open command');
        await stray.end();
      },
    },
  ];

  for (const c of cases) {
    it(c.what, { timeout: 60000 }, async () => {
      await c.run();
      // Still serving, and the good agent is still listed and answered.
      const { status } = await api(run, 'GET', '/api/agents');
      assert.equal(status, 200);
      await listed('good-1');
      const record = await commandEnded(run, await send('good-1', 'GetCurrentDir'));
      assert.deepEqual(record.result, { dir: '/agent' });
    });
  }
});
