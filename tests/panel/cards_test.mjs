// The panel's main page on the sample equipment (two load ports, a transfer module, a buffer
// and two process modules, routines started by the sequence manager) in headless Chromium at
// 1280x800: the cards say what /api/state says (a wafer and a pause written through the panel
// show on the PM1 card); the PM2 card shows PM2_PROCESS "Running" while a run started from the
// Routines view waits for the operator, "Ended" after the operator's answer, and "Idle" after
// the Reset on the card; the host link and the drivers are in the header row. Each view is
// shot (under $ARTIFACTS) and checked: no two visible boxes of one parent overlap, and none
// leaves its section, card or the viewport's width.
import { spawnSync } from 'node:child_process';
import assert from 'node:assert/strict';
import path from 'node:path';

import { Browser, env, layoutProblems, lineMatching, needEnv, run, screenshot, start } from './browser.mjs';

needEnv('PANEL', 'VEXLOR_DB', 'MANAGER', 'CONFIG', 'ARTIFACTS', 'ROUTINES', 'TOOLS');
// The manager starts the sample's routine programs (and the host link stand-in) from PATH.
env.PATH = `${env.ROUTINES}${path.delimiter}${env.TOOLS}${path.delimiter}${env.PATH}`;

// What the layout check looks at: the header row, the cards and what is in them, badges,
// buttons, the tabs and the sections.
const kLayout = 'header > *, #status-row > *, #driver-list > *, main > *, #lists > section, ' +
  '#cards > .card, .card > *, .card-head > *, .routines li > *, .badge, button, #tabs > *, ' +
  '#module-list > *, td > *';

// The cards as the page shows them: label, mode and state, wafers, alarms, routines in words.
const kCardsInDom = `[...document.querySelectorAll('#cards .card')].map((c) => ({
  label: c.querySelector('h3').textContent,
  badges: [...c.querySelectorAll('.card-head .badge')].map((b) => b.textContent),
  wafers: [...c.querySelectorAll('.wafer')].map((w) => w.textContent),
  alarms: [...c.querySelectorAll('.card-alarms li')].map((a) => a.dataset.alarm),
  routines: [...c.querySelectorAll('.routines li')].map((r) =>
    r.dataset.routine + ' ' + r.querySelector('.routine-state').textContent) }))`;

function cardsOfState(state) {
  return state.overview.cards.map((c) => ({
    label: c.label,
    badges: c.mode ? [c.mode, c.state] : [],
    wafers: (c.wafers || []).map((w) => w.slot + ': W' + w.wafer),
    alarms: c.alarms.map((a) => String(a.id)),
    routines: c.routines.map((r) => r.name + ' ' + r.state) }));
}

async function main() {
  const created = spawnSync(env.VEXLOR_DB, ['create', env.CONFIG], { env, encoding: 'utf8' });
  assert.equal(created.status, 0, created.stderr);
  const manager = start(env.MANAGER, ['--config', env.CONFIG, '--no-gui', '--quiet'],
                        ['ignore', 'ignore', 'inherit']);
  const panel = start(env.PANEL, ['--port', '0']);
  const [, url] = await lineMatching(panel, /at (http:\/\/127\.0\.0\.1:\d+\/)/, 20000);
  const browser = new Browser(1280, 800);
  await browser.open(url);
  await browser.until(`document.querySelector('#link').textContent === 'live'
                       && document.querySelector('#offline').hidden
                       && document.querySelectorAll('#cards .card').length === 7`, 15000,
                      'page live with its cards');
  const state = () => browser.eval(`fetch('/api/state').then((r) => r.json())`);
  // The DOM follows the state within a poll or two: compare until they agree.
  async function cardsAgree(what) {
    const end = Date.now() + 5000;
    for (;;) {
      const [dom, api] = [await browser.eval(kCardsInDom), cardsOfState(await state())];
      try {
        assert.deepEqual(dom, api);
        return dom;
      } catch (e) {
        if (Date.now() > end) throw new Error(`${what}: ${e.message}`);
      }
    }
  }
  async function layoutOk(name) {
    await screenshot(browser, name);
    assert.deepEqual(await layoutProblems(browser, kLayout), [], `layout of ${name}`);
  }

  const cards = await cardsAgree('cards at start');
  assert.deepEqual(cards.map((c) => c.label),
                   ['LP1 (CM1)', 'LP2 (CM2)', 'TM1', 'BM1', 'PM1', 'PM2', 'Equipment']);
  const pm2 = cards.find((c) => c.label === 'PM2');
  assert.deepEqual(pm2.routines, ['PM2_PUMP_DOWN Idle', 'PM2_VENT Idle', 'PM2_PROCESS Idle']);
  assert.ok(cards.find((c) => c.label === 'Equipment').routines.includes('SCHEDULER_ENGINE Idle'));
  // The header row: the host link's two points and every driver.
  assert.deepEqual(await browser.eval(`[...document.querySelectorAll('#driver-list .badge')]
                                       .map((b) => b.textContent)`),
                   ['SIM_DIO online', 'SIM_AIO online', 'SIM_SERIAL_TM1 online',
                    'SIM_DIO_PM2 online', 'SIM_AIO_PM2 online']);
  const host = (await state()).overview.host;
  assert.equal(host.configured, true);
  assert.equal(await browser.eval(`document.querySelector('#host-state').textContent`),
               `communication ${host.communication}, control ${host.control}` +
               (host.spool > 0 ? `, spool ${host.spool}` : ''));
  // Modules and alarms are named by the same rule as the cards.
  assert.equal(await browser.eval(`document.querySelector('#module-list button[data-module="CM1"]')
                                   .textContent`), 'LP1 (CM1)');
  // A wafer in PM1 and the operator's pause, written through the panel: the PM1 card says so.
  const write = (point, value) => browser.eval(`fetch('/api/points/${point}', { method: 'POST',
    headers: { 'Content-Type': 'application/json' }, body: '{"value":"${value}"}' })
    .then((r) => r.status)`);
  assert.equal(await write('CTC.PM1_Wafer_Status', '3'), 200);
  assert.equal(await write('CTC.PM1_PAUSE_FLAG', '2'), 200);
  await browser.until(`document.querySelector('[data-card="PM1"] .wafer')?.textContent
                       === 'slot 1: W3'`, 5000, 'the wafer on the PM1 card');
  const paused = (await cardsAgree('cards with a wafer')).find((c) => c.label === 'PM1');
  assert.deepEqual(paused.badges, ['Disabled', 'Paused']);
  await layoutOk('cards.png');
  assert.equal(await write('CTC.PM1_PAUSE_FLAG', '0'), 200);

  // A run from the Routines view, with its labelled run parameter: the process asks the busy
  // monitor for a check and waits for the operator's answer to the refusal alarm.
  await browser.click('#tabs button[data-view="functions"]');
  assert.equal(await browser.eval(`document.querySelector('tr[data-function="PM2_PROCESS"] label')
                                   .textContent`), 'Run parameter');
  await layoutOk('routines.png');
  await browser.click('tr[data-function="PM2_PROCESS"] button[data-action="run"]');
  await browser.until(`document.querySelector('#alarms tr[data-id="800"]')`, 30000,
                      'the refusal alarm 800');
  await browser.click('#tabs button[data-view="modules"]');
  await browser.eval('window.scrollTo(0, 0)');
  const running = await cardsAgree('cards during the run');
  assert.ok(running.find((c) => c.label === 'PM2').routines.includes('PM2_PROCESS Running'));
  assert.ok(running.some((c) => c.alarms.includes('800')), 'alarm 800 on a card');
  assert.equal(await browser.eval(`document.querySelector(
    '[data-card="PM2"] li[data-routine="PM2_PROCESS"] button[data-action="reset"]').disabled`), true);
  await layoutOk('cards-running.png');

  // The operator lets the check through; the run ends and the card says so.
  await browser.click('#alarms tr[data-id="800"] button[data-choice="IGNORE"]');
  const ended = `[data-card="PM2"] li[data-routine="PM2_PROCESS"]`;
  await browser.until(`document.querySelector('${ended} .routine-state').textContent === 'Ended'`,
                      30000, 'PM2_PROCESS ended');
  await cardsAgree('cards after the run');
  await browser.until(`!document.querySelector('${ended} button').disabled`, 5000, 'Reset enabled');
  await browser.click(`${ended} button[data-action="reset"]`);
  await browser.until(`document.querySelector('${ended} .routine-state').textContent === 'Idle'`,
                      5000, 'PM2_PROCESS reset to Idle');
  assert.equal((await state()).functions.find((f) => f.name === 'PM2_PROCESS').run_status,
               'SYS_AVAILABLE');

  await browser.click('#module-list button[data-module="PM2"]');
  await browser.until(`document.querySelector('tr[data-point="PM2.Pressure"]')`, 5000, 'PM2 points');
  await layoutOk('modules.png');
  await browser.click('#tabs button[data-view="history"]');
  await browser.until(`document.querySelectorAll('#history tbody tr').length > 0`, 5000, 'history');
  await layoutOk('history.png');

  // The manager goes away: badge and banner say so together.
  manager.kill('SIGTERM');
  await manager.exited;
  await browser.until(`document.querySelector('#offline').textContent ===
                       'Equipment offline: the sequence manager does not answer'`, 8000, 'offline');
  assert.equal(await browser.eval(`document.querySelector('#link').textContent`), 'equipment offline');
  await browser.eval('window.scrollTo(0, 0)');
  await layoutOk('cards-offline.png');

  await browser.close();
  panel.kill('SIGTERM');
  assert.equal(await panel.exited, 0);
}

await run(main, 'panel cards test');
