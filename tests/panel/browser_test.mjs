// The operator panel in a real headless Chromium, driven over its DevTools pipe (no packages
// needed): an alarm a routine process posts appears within a second; Retry answers it and the
// routine goes on; the point it then writes and its GUI messages change on the page without a
// reload; the page says "Equipment offline" when the manager goes away. Screenshots (with the
// alarm, and at the end) go under $ARTIFACTS. Exit 77 (skipped) without Chromium.
import { spawnSync } from 'node:child_process';
import assert from 'node:assert/strict';

import { Browser, env, lineMatching, needEnv, run, screenshot, start } from './browser.mjs';

needEnv('PANEL', 'VEXLOR_DB', 'MANAGER', 'ROUTINE', 'CONFIG', 'ARTIFACTS');

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

  // The equipment's display language switches the page's own words, without a reload; the
  // equipment's texts (enumeration texts) follow from the panel.
  const language = (value) => browser.eval(`fetch('/api/points/CTC.Language', { method: 'POST',
    headers: { 'Content-Type': 'application/json' }, body: '{"value":"${value}"}' })
    .then((r) => r.status)`);
  const words = () => browser.eval(`[document.title, document.documentElement.lang,
    document.querySelector('#link').textContent,
    ...[...document.querySelectorAll('#alarms th, #tabs button')].map((e) => e.textContent),
    document.querySelector('#no-alarms').textContent,
    document.querySelector('tr[data-point="PM1.Pressure"] td:nth-child(4)').textContent,
    document.querySelector('tr[data-point="PM1.GateValve"] button').textContent]`);
  assert.equal(await language(1), 200);
  await browser.until(`document.querySelector('#link').textContent === '实时'`, 5000, 'Chinese');
  assert.deepEqual(await words(), ['Vexlor 面板', 'zh', '实时', 'ID', '级别', '模块', '文本',
                                   '发生时间', '调用位置', '恢复', '模块', '程序', '报警历史',
                                   '无报警。', '正常', '设置']);
  await browser.until(`document.querySelector('tr[data-point="PM1.GateValve"] option')
                       ?.textContent === '关闭'`, 5000, 'the valve\'s choices in Chinese');
  assert.equal(await language(0), 200);
  await browser.until(`document.querySelector('#link').textContent === 'live'`, 5000, 'English');
  assert.deepEqual(await words(), ['Vexlor panel', 'en', 'live', 'ID', 'Level', 'Module', 'Text',
                                   'Posted', 'Caller', 'Recovery', 'Modules', 'Routines',
                                   'Alarm history', 'No alarms posted.', 'ok', 'Set']);
  assert.equal(await browser.eval('window.notReloaded'), true);

  // The manager goes away: the page says so and the panel refuses actions.
  manager.kill('SIGTERM');
  await manager.exited;
  await browser.until(`document.querySelector('#offline').textContent ===
                       'Equipment offline: the sequence manager does not answer'`, 5000, 'offline');
  // The badge says the same as the banner.
  assert.equal(await browser.eval(`document.querySelector('#link').textContent`), 'equipment offline');
  assert.equal(await browser.eval(`document.querySelector('tr[data-point="PM1.GateValve"] button')
                                   .disabled`), true);

  await browser.close();
  panel.kill('SIGTERM');
  assert.equal(await panel.exited, 0);
}

await run(main, 'panel browser test');
