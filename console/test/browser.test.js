'use strict';
// The console page in headless Chromium, against the real headless agent
// on both links and the private CUPS: the agent shows up, its printers
// with their status texts, a test print comes out of cups-pdf with the
// test image's colours, a missing printer is reported, and the agent
// leaves the list when it ends.
//
// QUORVIN_AGENT: build/quorvin-headless. QUORVIN_CUPS_ENV: the CUPS
// fixture's env file (without it the test starts a fixture of its own).
// QUORVIN_CONSOLE_SCREENSHOT: where to save a screenshot of the page.

const assert = require('node:assert/strict');
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { after, before, test } = require('node:test');
const { chromium } = require('playwright-core');

const { startConsole, stopConsole, waitFor } = require('./support');

const FIXTURE = path.join(__dirname, '..', '..', 'tests', 'fixtures', 'cups-fixture.sh');
const AGENT = process.env.QUORVIN_AGENT;
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const WAIT = { timeout: 60000 };

// NAME=value lines.
function readEnv(file) {
  const env = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const at = line.indexOf('=');
    if (at > 0) env[line.slice(0, at)] = line.slice(at + 1);
  }
  return env;
}

// The colour at (x, y) in fractions of a binary PPM's width and height.
function ppmPixel(ppm, fx, fy) {
  const header = /^P6\s+(\d+)\s+(\d+)\s+(\d+)\s/.exec(ppm.toString('latin1', 0, 64));
  assert.ok(header, 'not a binary PPM');
  const [, w, h] = header.map(Number);
  const at = header[0].length + 3 * (Math.floor(fy * h) * w + Math.floor(fx * w));
  return [ppm[at], ppm[at + 1], ppm[at + 2]];
}

let temp;
let cupsEnv;
let ownFixture = false;
let consoleRun;
let agent;
let browser;
let page;
let agentLog = '';
const pageErrors = [];

before(async () => {
  if (!AGENT) return;
  temp = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvin-console-'));
  let envFile = process.env.QUORVIN_CUPS_ENV;
  if (!envFile) {
    execFileSync(FIXTURE, ['start', path.join(temp, 'cups')], { stdio: 'inherit' });
    ownFixture = true;
    envFile = path.join(temp, 'cups', 'env');
  }
  cupsEnv = readEnv(envFile);
  consoleRun = await startConsole();
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS });
  page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  page.on('pageerror', (err) => pageErrors.push(err.message));
});

after(async () => {
  if (!AGENT) return;
  if (agent && agent.exitCode === null) agent.kill('SIGKILL');
  if (browser) await browser.close();
  const exit = await stopConsole(consoleRun);
  if (ownFixture) execFileSync(FIXTURE, ['stop', path.join(temp, 'cups')], { stdio: 'inherit' });
  fs.rmSync(temp, { recursive: true, force: true });
  if (exit) assert.deepEqual(exit, { code: 0, signal: null }, consoleRun.stderr);
});

test('the console page with the real agent and printers', { skip: !AGENT && 'QUORVIN_AGENT is not set', timeout: 240000 }, async () => {
  try {
    await consolePageSteps();
  } catch (err) {
    // What the agent said is usually the reason (a sanitizer's report, a dropped link).
    err.message += `\nthe agent's log (last 6000 characters):\n${agentLog.slice(-6000)}`;
    throw err;
  }
});

// Picks the link's entry and waits until the page shows it.
async function pickAgent(link) {
  await page.click(`[data-testid=agent][data-link=${link}]`);
  await page.locator(`[data-testid=agent][data-link=${link}].picked`).waitFor(WAIT);
  await page.locator('#agent-view').waitFor({ state: 'visible', ...WAIT });
}

async function consolePageSteps() {
  const home = path.join(temp, 'home');
  fs.mkdirSync(home);
  const param = { server: '127.0.0.1', port: String(consoleRun.tcp), wsUrl: `ws://127.0.0.1:${consoleRun.http}/`, gsdm: 'g1', rydm: 'r1' };
  fs.writeFileSync(path.join(home, 'config.json'), JSON.stringify({ startup: { param } }));
  agent = spawn(AGENT, [], { env: { ...process.env, ...cupsEnv, QUORVIN_HOME: home }, stdio: ['ignore', 'ignore', 'pipe'] });
  agent.stderr.on('data', (d) => (agentLog += d));
  const agentExit = new Promise((resolve) => agent.on('exit', (code, signal) => resolve({ code, signal })));

  await page.goto(consoleRun.base + '/');
  // One entry per link, both registered under the agent's client id.
  const entries = page.locator('[data-testid=agent]:not(.unregistered)');
  await entries.nth(1).waitFor(WAIT);
  const links = await entries.evaluateAll((els) => els.map((e) => e.dataset.link).sort());
  assert.deepEqual(links, ['tcp', 'ws']);
  const clientIds = await entries.evaluateAll((els) => els.map((e) => e.dataset.clientId));
  assert.ok(clientIds[0] && clientIds[0] === clientIds[1], `client ids ${clientIds}`);

  // The list is drawn again on every change of any agent: a press and its
  // release on either side of a redraw still pick the entry.
  const box = await page.locator('[data-testid=agent][data-link=ws]').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.evaluate(() => renderAgents());
  await page.mouse.up();
  await page.locator('[data-testid=agent][data-link=ws].picked').waitFor({ timeout: 5000 });

  // Each link's table: both queues, idle once the jobs that earlier tests
  // left on the shared queues are through (Refresh asks again).
  const pdfQueue = cupsEnv.QUORVIN_CUPS_PDF_QUEUE;
  const queues = [pdfQueue, cupsEnv.QUORVIN_CUPS_EVE_QUEUE];
  for (const link of ['tcp', 'ws']) {
    await pickAgent(link);
    await waitFor(async () => {
      const texts = await Promise.all(queues.map((q) =>
        page.locator(`[data-testid=printer][data-printer="${q}"] [data-testid=printer-status]`).textContent({ timeout: 1000 }).catch(() => '')));
      if (texts.every((t) => t === '打印机空闲状态')) return true;
      await page.click('[data-testid=refresh]');
      await new Promise((r) => setTimeout(r, 500));
      return false;
    }, `${queues} idle on the ${link} link`, 90000);
  }

  // A command from the form, answered with the agent's folder.
  await pickAgent('tcp');
  await page.selectOption('[data-testid=command-name]', 'GetCurrentDir');
  await page.click('[data-testid=command-send]');
  await page.locator('[data-testid=command-result][data-state=answered]').waitFor(WAIT);
  assert.deepEqual(JSON.parse(await page.textContent('#command-output')), { dir: home });

  // A test print on the PDF queue over the TCP link.
  const outDir = cupsEnv.QUORVIN_CUPS_PDF_OUT;
  const earlier = new Set(fs.readdirSync(outDir));
  await page.fill('[data-testid=print-printer]', pdfQueue);
  await page.click('[data-testid=print-button]');
  await page.locator('[data-testid=task][data-state=succeeded]').waitFor(WAIT);
  assert.match(await page.textContent('[data-testid=task-fetch]'), /image fetched: \d+ bytes/);
  assert.match(await page.textContent('[data-testid=task-notice]'), /printed/);
  if (process.env.QUORVIN_CONSOLE_SCREENSHOT) {
    await page.locator('[data-testid=log-row]').nth(10).waitFor(WAIT);
    await page.locator('[data-testid=task-notice]').scrollIntoViewIfNeeded();
    await page.screenshot({ path: process.env.QUORVIN_CONSOLE_SCREENSHOT });
  }

  // cups-pdf names the file before it has finished writing it: wait until it renders.
  const ppm = await waitFor(() => {
    const pdf = fs.readdirSync(outDir).find((f) => f.endsWith('.pdf') && !earlier.has(f));
    if (!pdf) return null;
    const prefix = path.join(temp, 'page');
    try {
      execFileSync('pdftoppm', ['-r', '20', '-singlefile', path.join(outDir, pdf), prefix], { stdio: 'ignore' });
      return fs.readFileSync(`${prefix}.ppm`);
    } catch {
      return null;
    }
  }, 'the printed PDF', 60000);
  const quadrants = [
    ['red', 0.25, 0.25, [224, 32, 32]],
    ['green', 0.75, 0.25, [32, 160, 64]],
    ['blue', 0.25, 0.75, [32, 64, 208]],
    ['yellow', 0.75, 0.75, [240, 208, 32]],
  ];
  for (const [name, fx, fy, want] of quadrants) {
    const got = ppmPixel(ppm, fx, fy);
    assert.ok(got.every((v, i) => Math.abs(v - want[i]) <= 48), `${name} quadrant is ${got}, expected about ${want}`);
  }

  // A printer that does not exist, over the WebSocket link.
  await pickAgent('ws');
  await page.fill('[data-testid=print-printer]', 'NoSuchPrinter');
  await page.click('[data-testid=print-button]');
  await page.locator('[data-testid=task][data-state=failed]').waitFor(WAIT);
  assert.match(await page.textContent('[data-testid=task-notice]'), /打印机不存在！/);

  // The agent ends: both entries leave, and the page says the picked one has gone.
  agent.kill('SIGTERM');
  assert.deepEqual(await agentExit, { code: 0, signal: null }, agentLog);
  await page.locator('[data-testid=agent]').first().waitFor({ state: 'detached', ...WAIT });
  assert.equal(await page.locator('[data-testid=agent-count]').textContent(), '0');
  assert.match(await page.textContent('#no-agent'), /disconnected/);
  assert.deepEqual(pageErrors, []);
}
