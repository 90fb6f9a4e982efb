#!/usr/bin/env node
'use strict';
// quorvin-console: a small business server for trying the Quorvin agent.
// Agents connect to it over TCP or WebSocket; its page shows them, their
// printers and every message, and sends any command of the set.

const { ConsoleServer, isLoopback } = require('./lib/server');

const USAGE = `usage: quorvin-console [options]

  --host ADDRESS         address to listen on (default 127.0.0.1); only
                         loopback addresses unless --any-host is given
  --any-host             allow a non-loopback --host: anyone who reaches it
                         can send commands to the agents
  --tcp-port PORT        agents' TCP port (default 9100; 0 picks a free one)
  --http-port PORT       the page, its API and the agents' WebSocket
                         endpoint (default 9101; 0 picks a free one)
  --command-timeout SEC  how long a command waits for its reply (default 30;
                         a print task waits up to 15 minutes)
  --help                 this text
`;

function parse(argv) {
  const options = { host: '127.0.0.1', tcpPort: 9100, httpPort: 9101, anyHost: false, commandTimeoutMs: 30000 };
  const port = (name, text) => {
    const n = Number(text);
    if (!/^\d+$/.test(text || '') || n > 65535) throw new Error(`${name} needs a port number (0-65535), not "${text ?? ''}"`);
    return n;
  };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--help' || arg === '-h') options.help = true;
    else if (arg === '--host') options.host = value();
    else if (arg === '--any-host') options.anyHost = true;
    else if (arg === '--tcp-port') options.tcpPort = port(arg, value());
    else if (arg === '--http-port') options.httpPort = port(arg, value());
    else if (arg === '--command-timeout') {
      const text = value();
      const seconds = Number(text);
      if (!(seconds > 0)) throw new Error(`--command-timeout needs a number of seconds, not "${text}"`);
      options.commandTimeoutMs = seconds * 1000;
    } else throw new Error(`unknown option ${arg}`);
  }
  if (!options.anyHost && !isLoopback(options.host)) {
    throw new Error(`--host ${options.host} is not a loopback address; add --any-host to listen there`);
  }
  return options;
}

async function main() {
  let options;
  try {
    options = parse(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`quorvin-console: ${err.message}\n${USAGE}`);
    process.exit(2);
  }
  if (options.help) {
    process.stdout.write(USAGE);
    return;
  }
  const server = new ConsoleServer(options);
  // Whatever slips past the per-connection guards is logged, never fatal.
  process.on('uncaughtException', (err) => process.stderr.write(`quorvin-console: internal error: ${err.stack}\n`));
  process.on('unhandledRejection', (err) => process.stderr.write(`quorvin-console: internal error: ${err && err.stack}\n`));
  let ports;
  try {
    ports = await server.start();
  } catch (err) {
    process.stderr.write(`quorvin-console: cannot listen: ${err.message}\n`);
    process.exit(1);
  }
  const host = options.host.includes(':') ? `[${options.host}]` : options.host;
  process.stdout.write(`quorvin-console: http://${host}:${ports.http}/ (agents: tcp ${host}:${ports.tcp}, ws ws://${host}:${ports.http}/)\n`);
  let stopping = false;
  const stop = () => {
    if (stopping) return;
    stopping = true;
    // A connection that will not close does not hold the exit up.
    setTimeout(() => process.exit(0), 5000).unref();
    server.close().then(() => process.exit(0));
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

main();
