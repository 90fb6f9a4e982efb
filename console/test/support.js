'use strict';
// Shared by the console's tests: the console as a child process on free
// loopback ports, its API, and a bounded wait.

const { spawn } = require('child_process');
const http = require('http');
const path = require('path');

const CONSOLE = path.join(__dirname, '..', 'quorvin-console.js');

// Starts quorvin-console with args; resolves once it printed its address line.
function startConsole(args = []) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [CONSOLE, '--tcp-port', '0', '--http-port', '0', ...args], { stdio: ['ignore', 'pipe', 'pipe'] });
    const run = { child, stdout: '', stderr: '', exit: null };
    run.exited = new Promise((done) => child.on('exit', (code, signal) => done((run.exit = { code, signal }))));
    child.stderr.on('data', (d) => (run.stderr += d));
    const timer = setTimeout(() => reject(new Error(`the console did not start: ${run.stderr}`)), 15000);
    child.stdout.on('data', (d) => {
      run.stdout += d;
      const m = /http:\/\/127\.0\.0\.1:(\d+)\/ \(agents: tcp 127\.0\.0\.1:(\d+),/.exec(run.stdout);
      if (m && !run.base) {
        clearTimeout(timer);
        run.http = Number(m[1]);
        run.tcp = Number(m[2]);
        run.base = `http://127.0.0.1:${run.http}`;
        resolve(run);
      }
    });
    run.exited.then(() => reject(new Error(`the console ended: ${run.stderr}`)));
  });
}

// Ends it with SIGTERM; resolves to its exit, killing it after 10 s.
async function stopConsole(run) {
  if (!run || run.exit) return run && run.exit;
  run.child.kill('SIGTERM');
  const timer = setTimeout(() => run.child.kill('SIGKILL'), 10000);
  const exit = await run.exited;
  clearTimeout(timer);
  return exit;
}

// One request; node's http rather than fetch, which will not send a Host of our choosing.
function api(run, method, where, body, headers = {}) {
  return new Promise((resolve, reject) => {
    const payload = body === undefined ? undefined : typeof body === 'string' ? body : JSON.stringify(body);
    const head = { ...headers };
    if (payload !== undefined) head['Content-Type'] ??= 'application/json';
    const req = http.request({ host: '127.0.0.1', port: run.http, method, path: where, headers: head, timeout: 20000 }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const text = Buffer.concat(chunks).toString('utf8');
        let json = null;
        try {
          json = JSON.parse(text);
        } catch {
          // Left null: the caller looks at the status.
        }
        resolve({ status: res.statusCode, json, text });
      });
    });
    req.on('timeout', () => req.destroy(new Error(`${method} ${where}: no answer`)));
    req.on('error', reject);
    req.end(payload);
  });
}

// Polls check until it answers something truthy; bounded in time and count.
async function waitFor(check, what, timeoutMs = 20000) {
  const deadline = Date.now() + timeoutMs;
  for (let i = 0; i < 10000 && Date.now() < deadline; i++) {
    const value = await check();
    if (value) return value;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`timed out waiting for ${what}`);
}

// The command's record once it has ended.
function commandEnded(run, taskId) {
  return waitFor(async () => {
    const { json } = await api(run, 'GET', `/api/commands/${taskId}`);
    return json && json.state !== 'waiting' && json;
  }, `command ${taskId} to end`);
}

module.exports = { startConsole, stopConsole, api, waitFor, commandEnded };
