// The operator panel in a real headless Chromium, driven over its DevTools pipe (no packages
// needed): an alarm a routine process posts appears within a second; Retry answers it and the
// routine goes on; the point it then writes and its GUI messages change on the page without a
// reload; the page says "Equipment offline" when the manager goes away. Screenshots (with the
// alarm, and at the end) go under $ARTIFACTS. Exit 77 (skipped) without Chromium.
import { spawn, spawnSync } from 'node:child_process';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
if (!fs.existsSync(chromium)) {
  console.log(`SKIPPED: no Chromium at ${chromium} (scripts/setup.sh installs the chromium package)`);
  process.exit(77);
}
const env = { ...process.env };
for (const k of ['PANEL', 'VEXLOR_DB', 'MANAGER', 'ROUTINE', 'CONFIG', 'ARTIFACTS']) {
  assert.ok(env[k], `${k} is not set`);
}
const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'vx-panel-browser.'));
Object.assign(env, { VEXLOR_RUNTIME_DIR: runtime, VEXLOR_DRIVE_ROOT: path.join(runtime, 'drives'),
                     VEXLOR_INSTANCE: `panelb${process.pid}` });
const children = [];
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function start(program, args, stdio = ['ignore', 'pipe', 'inherit']) {
  const child = spawn(program, args, { env, stdio });
  children.push(child);
  child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(code ?? signal)));
  return child;
}

// The lines a child prints, as a promise of the first one that matches.
function lineMatching(child, regex, ms) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no line like ${regex} in ${ms} ms`)), ms);
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      const m = line.match(regex);
      if (m) { clearTimeout(timer); resolve(m); }
    });
  });
}

// ---- Chromium over its debugging pipe: JSON messages ending in NUL, fd 3 in, fd 4 out ----
class Browser {
  constructor() {
    this.profile = fs.mkdtempSync(path.join(runtime, 'profile.'));
    this.child = start(chromium, ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
      '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', `--user-data-dir=${this.profile}`, '--remote-debugging-pipe',
      '--window-size=1280,1000', 'about:blank'], ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']);
    this.next = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffer = '';
    this.child.stdio[4].on('data', (chunk) => {
      buffer += chunk.toString('utf8');
      let end;
      while ((end = buffer.indexOf('\0')) >= 0) {
        const message = JSON.parse(buffer.slice(0, end));
        buffer = buffer.slice(end + 1);
        if (message.id && this.pending.has(message.id)) {
          const { resolve, reject } = this.pending.get(message.id);
          this.pending.delete(message.id);
          if (message.error) reject(new Error(JSON.stringify(message.error)));
          else resolve(message.result);
        } else {
          for (const l of this.listeners) l(message);
        }
      }
    });
  }
  send(method, params = {}, sessionId = undefined) {
    const id = this.next++;
    this.child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
    return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject }));
  }
  async open(url) {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    this.session = sessionId;
    await this.page('Page.enable');
    await this.page('Emulation.setDeviceMetricsOverride',
                    { width: 1280, height: 1000, deviceScaleFactor: 1, mobile: false });
    const loaded = new Promise((resolve) => this.listeners.push((m) => {
      if (m.method === 'Page.loadEventFired' && m.sessionId === sessionId) resolve();
    }));
    await this.page('Page.navigate', { url });
    await loaded;
  }
  page(method, params) { return this.send(method, params, this.session); }
  // Chromium closes its helper processes and profile before it exits.
  async close() {
    this.send('Browser.close').catch(() => {});
    await Promise.race([this.child.exited, sleep(5000)]);
  }
  async eval(expression) {
    const r = await this.page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.text}`);
    return r.result.value;
  }
  // Polls `expression` until it is truthy; the value, or an error after `ms`.
  async until(expression, ms, what) {
    const end = Date.now() + ms;
    for (;;) {
      const v = await this.eval(expression);
      if (v) return v;
      if (Date.now() > end) throw new Error(`${what}: not within ${ms} ms`);
      await sleep(20);
    }
  }
  // A real mouse press at the middle of the element.
  async click(selector) {
    const box = await this.eval(`(() => { const r = document.querySelector(${JSON.stringify(selector)})
      .getBoundingClientRect(); return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
    for (const type of ['mousePressed', 'mouseReleased']) {
      await this.page('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
    }
  }
}

async function screenshot(browser, name) {
  const shot = await browser.page('Page.captureScreenshot', { format: 'png' });
  const file = path.join(env.ARTIFACTS, name);
  fs.writeFileSync(file, Buffer.from(shot.data, 'base64'));
  assert.equal(fs.readFileSync(file).subarray(1, 4).toString(), 'PNG');
  console.log(`screenshot: ${file}`);
}

async function main() {
  const created = spawnSync(env.VEXLOR_DB, ['create', env.CONFIG], { env, encoding: 'utf8' });
  assert.equal(created.status, 0, created.stderr);
  const manager = start(env.MANAGER, ['--no-gui', '--quiet']);
  const panel = start(env.PANEL, ['--port', '0']);
  const [, url] = await lineMatching(panel, /at (http:\/\/127\.0\.0\.1:\d+\/)/, 20000);
  const browser = new Browser();
  await browser.open(url);
  assert.equal(await browser.eval('document.title'), 'Vexlor panel');
  await browser.until(`document.querySelector('#link').textContent === 'live'
                       && document.querySelector('#offline').hidden`, 10000, 'page live and online');
  await browser.until(`document.querySelector('tr[data-point="PM1.Pressure"] td.value')
                       ?.textContent === '760.00'`, 5000, 'PM1.Pressure shown');
  await browser.eval('window.notReloaded = true');

  // The routine says hello, posts alarm 5001 and waits for the operator.
  const routine = start(env.ROUTINE, []);
  await lineMatching(routine, /^posted$/, 10000);
  const posted = Date.now();
  const row = 'tr[data-id="5001"]';
  await browser.until(`!!document.querySelector('${row}')`, 1000, 'alarm 5001 on the page');
  console.log(`alarm 5001 shown ${Date.now() - posted} ms after it was posted`);
  assert.deepEqual(await browser.eval(`[...document.querySelectorAll('${row} td')].slice(0, 3)
                                       .map((td) => td.textContent)`), ['5001', '1', 'PM1']);
  assert.equal(await browser.eval(`document.querySelector('${row} td.text').textContent`),
               'Chamber pressure too high');
  assert.deepEqual(await browser.eval(`[...document.querySelectorAll('${row} button')]
                                       .map((b) => b.dataset.choice + ':' + b.textContent)`),
                   ['RETRY:Retry', 'ABORT:Abort']);
  await browser.until(`[...document.querySelectorAll('#messages li')].some((li) =>
      li.dataset.command === 'MESSAGE' && li.textContent.includes('[PANEL_ROUTINE]')
      && li.querySelector('.text').textContent === 'PANEL_ROUTINE: pumping down 抽真空')`,
                      5000, 'the first MESSAGE');

  fs.mkdirSync(env.ARTIFACTS, { recursive: true });
  await screenshot(browser, 'panel-alarm.png');

  // Retry: the routine gets the answer, writes the pressure and says so.
  await browser.click(`${row} button[data-choice="RETRY"]`);
  await lineMatching(routine, /^answer 1$/, 5000);
  assert.equal(await routine.exited, 0);
  await browser.until(`document.querySelector('tr[data-point="PM1.Pressure"] td.value')
                       .textContent === '0.05'`, 5000, 'PM1.Pressure updated');
  await browser.until(`document.querySelector('#messages li .text').textContent
                       === 'PANEL_ROUTINE: base pressure reached'`, 5000, 'the second MESSAGE');
  await browser.until(`!document.querySelector('${row}')`, 5000, 'alarm 5001 gone');
  assert.equal(await browser.eval('window.notReloaded'), true);

  await screenshot(browser, 'panel.png');

  // The manager goes away: the page says so and the panel refuses actions.
  manager.kill('SIGTERM');
  await manager.exited;
  await browser.until(`document.querySelector('#offline').textContent ===
                       'Equipment offline: the sequence manager does not answer'`, 5000, 'offline');
  assert.equal(await browser.eval(`document.querySelector('tr[data-point="PM1.GateValve"] button')
                                   .disabled`), true);

  await browser.close();
  panel.kill('SIGTERM');
  assert.equal(await panel.exited, 0);
}

let status = 0;
try {
  await main();
  console.log('panel browser test passed');
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  for (const c of children) if (c.exitCode === null && c.signalCode === null) c.kill('SIGKILL');
  await Promise.all(children.map((c) => c.exited));
  spawnSync(env.VEXLOR_DB, ['remove'], { env });
  // A Chromium helper killed above may still be writing its profile for a moment.
  try {
    fs.rmSync(runtime, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
  } catch (e) {
    console.error(`could not remove ${runtime}: ${e.message}`);
  }
}
process.exit(status);
