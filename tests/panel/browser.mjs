// What the panel's browser tests share: a private instance's environment, child processes
// that are ended whatever happens, Chromium headless driven over its DevTools pipe (no
// packages needed), screenshots, and the layout check of a page. Exit 77 (skipped) without
// Chromium.
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
export const env = { ...process.env };
const runtime = fs.mkdtempSync(path.join(os.tmpdir(), 'vx-panel-browser.'));
Object.assign(env, { VEXLOR_RUNTIME_DIR: runtime, VEXLOR_DRIVE_ROOT: path.join(runtime, 'drives'),
                     VEXLOR_INSTANCE: `panelb${process.pid}` });
const children = [];
export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

export function needEnv(...names) {
  for (const k of names) assert.ok(env[k], `${k} is not set`);
}

export function start(program, args, stdio = ['ignore', 'pipe', 'inherit']) {
  const child = spawn(program, args, { env, stdio });
  children.push(child);
  child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve(code ?? signal)));
  return child;
}

// The lines a child prints, as a promise of the first one that matches.
export function lineMatching(child, regex, ms) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no line like ${regex} in ${ms} ms`)), ms);
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      const m = line.match(regex);
      if (m) { clearTimeout(timer); resolve(m); }
    });
  });
}

// ---- Chromium over its debugging pipe: JSON messages ending in NUL, fd 3 in, fd 4 out ----
export class Browser {
  constructor(width = 1280, height = 1000) {
    this.width = width;
    this.height = height;
    this.profile = fs.mkdtempSync(path.join(runtime, 'profile.'));
    this.child = start(chromium, ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
      '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', `--user-data-dir=${this.profile}`, '--remote-debugging-pipe',
      `--window-size=${width},${height}`, 'about:blank'],
      ['ignore', 'ignore', 'ignore', 'pipe', 'pipe']);
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
                    { width: this.width, height: this.height, deviceScaleFactor: 1, mobile: false });
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
  // A real mouse press at the middle of the element, scrolled into view first.
  async click(selector) {
    const box = await this.eval(`(() => { const e = document.querySelector(${JSON.stringify(selector)});
      e.scrollIntoView({ block: 'center' }); const r = e.getBoundingClientRect();
      return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
    for (const type of ['mousePressed', 'mouseReleased']) {
      await this.page('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
    }
  }
}

export async function screenshot(browser, name) {
  const shot = await browser.page('Page.captureScreenshot', { format: 'png' });
  fs.mkdirSync(env.ARTIFACTS, { recursive: true });
  const file = path.join(env.ARTIFACTS, name);
  fs.writeFileSync(file, Buffer.from(shot.data, 'base64'));
  assert.equal(fs.readFileSync(file).subarray(1, 4).toString(), 'PNG');
  console.log(`screenshot: ${file}`);
}

// The layout of the page as shown: of the visible boxes the selector finds, no two with the
// same parent intersect (by more than half a pixel), none reaches beyond the viewport's width
// or sideways out of the section or card it is in, and the page does not scroll sideways. The
// problems, one text each (none: []).
export function layoutProblems(browser, selector) {
  return browser.eval(`(() => {
    const problems = [];
    const width = document.documentElement.clientWidth;
    if (document.documentElement.scrollWidth > width) {
      problems.push('the page is ' + document.documentElement.scrollWidth + ' px wide, the viewport ' + width);
    }
    const name = (e) => e.tagName.toLowerCase() + (e.id ? '#' + e.id : '') +
      (e.className && typeof e.className === 'string' ? '.' + e.className.trim().split(/\\s+/).join('.') : '') +
      (e.dataset.card ? '[' + e.dataset.card + ']' : '') + ' "' + e.textContent.trim().slice(0, 30) + '"';
    const groups = new Map();
    for (const e of document.querySelectorAll(${JSON.stringify(selector)})) {
      const r = e.getBoundingClientRect();
      if (r.width === 0 || r.height === 0 || e.closest('[hidden]')) continue;
      if (r.left < -0.5 || r.right > width + 0.5) problems.push(name(e) + ' leaves the viewport (' + Math.round(r.left) + '..' + Math.round(r.right) + ')');
      const box = e.parentElement.closest('section, .card');
      if (box) {
        const b = box.getBoundingClientRect();
        if (r.left < b.left - 0.5 || r.right > b.right + 0.5) {
          problems.push(name(e) + ' leaves ' + name(box) + ' (' + Math.round(r.left) + '..' + Math.round(r.right) + ' in ' + Math.round(b.left) + '..' + Math.round(b.right) + ')');
        }
      }
      if (!groups.has(e.parentElement)) groups.set(e.parentElement, []);
      groups.get(e.parentElement).push([e, r]);
    }
    for (const boxes of groups.values()) {
      for (let i = 0; i < boxes.length; ++i) {
        for (let k = i + 1; k < boxes.length; ++k) {
          const [a, p] = boxes[i], [b, q] = boxes[k];
          const x = Math.min(p.right, q.right) - Math.max(p.left, q.left);
          const y = Math.min(p.bottom, q.bottom) - Math.max(p.top, q.top);
          if (x > 0.5 && y > 0.5) problems.push(name(a) + ' overlaps ' + name(b));
        }
      }
    }
    return problems;
  })()`);
}

// Runs the test and ends what it started; exit status 0 when it passed.
export async function run(main, what) {
  let status = 0;
  try {
    await main();
    console.log(`${what} passed`);
  } catch (e) {
    console.error(e);
    status = 1;
  } finally {
    // Asked first, so that a manager stops the routines it started; then ended.
    const alive = () => children.filter((c) => c.exitCode === null && c.signalCode === null);
    for (const c of alive()) c.kill('SIGTERM');
    await Promise.race([Promise.all(children.map((c) => c.exited)), sleep(6000)]);
    for (const c of alive()) c.kill('SIGKILL');
    await Promise.all(children.map((c) => c.exited));
    if (env.VEXLOR_DB) spawnSync(env.VEXLOR_DB, ['remove'], { env });
    // A Chromium helper killed above may still be writing its profile for a moment.
    try {
      fs.rmSync(runtime, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
    } catch (e) {
      console.error(`could not remove ${runtime}: ${e.message}`);
    }
  }
  process.exit(status);
}
