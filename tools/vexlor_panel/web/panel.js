// The operator panel's page: live state from /api/events, actions through the JSON API.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const page = { module: '', view: 'modules', seen: 0, equipment: null, source: null,
               pointRows: new Map(), functionRows: new Map() };

function $(id) { return document.getElementById(id); }

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props || {})) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else if (k.startsWith('data-')) e.setAttribute(k, v);
    else e[k] = v;
  }
  for (const c of children) e.append(c);
  return e;
}

let noticeTimer = 0;
function notice(text, error) {
  const n = $('notice');
  n.textContent = text;
  n.className = error ? 'error' : '';
  n.hidden = false;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => { n.hidden = true; }, error ? 8000 : 3000);
}

async function api(method, path, body) {
  const headers = {};
  if (token) headers.Authorization = 'Bearer ' + token;
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const res = await fetch(path, { method, headers,
                                  body: body === undefined ? undefined : JSON.stringify(body) });
  let data = null;
  try { data = await res.json(); } catch (e) { data = null; }
  if (!res.ok) throw new Error((data && data.error) || (res.status + ' ' + res.statusText));
  return data;
}

async function act(method, path, body, done) {
  try {
    await api(method, path, body);
    notice(done, false);
  } catch (e) {
    notice(e.message, true);
  }
}

function canWrite() { const q = page.equipment; return !!q && q.online && q.can_write; }
function canEngineer() { const q = page.equipment; return !!q && q.online && q.can_engineer; }

// ---- Live state --------------------------------------------------------------------------
function connect() {
  if (page.source) page.source.close();
  let url = '/api/events?module=' + encodeURIComponent(page.module);
  if (token) url += '&token=' + encodeURIComponent(token);
  const source = new EventSource(url);
  page.source = source;
  source.onopen = () => setLink(true);
  source.onerror = () => setLink(false);
  source.addEventListener('state', (e) => renderState(JSON.parse(e.data)));
  source.addEventListener('points', (e) => {
    const d = JSON.parse(e.data);
    if (d.module === page.module) renderPoints(d.points);
  });
  source.addEventListener('message', (e) => addMessage(JSON.parse(e.data)));
}

function setLink(up) {
  const l = $('link');
  l.textContent = up ? 'live' : 'no connection to the panel';
  l.className = 'badge ' + (up ? 'ok' : 'bad');
}

function renderState(s) {
  const q = s.equipment;
  page.equipment = q;
  $('instance').textContent = q.instance + ' \u2014 ' + q.main_form;
  $('user').textContent = 'User ' + (q.user || '-') + ', level ' + q.level;
  const off = $('offline');
  off.hidden = q.online;
  off.textContent = q.online ? '' : 'Equipment offline: ' + q.offline_reason;
  renderAlarms(s.alarms);
  renderFunctions(s.functions);
  refreshControls();
}

// Controls follow the equipment's state and the user's level, also between point updates.
function refreshControls() {
  for (const row of page.pointRows.values()) row.w.button.disabled = row.w.input.disabled = !canWrite();
  for (const row of page.functionRows.values()) {
    for (const b of row.buttons) b.disabled = !canEngineer();
  }
}

function levelClass(level) { return level <= 3 ? 'lvl-' + Math.max(level, 0) : 'lvl-info'; }

function renderAlarms(alarms) {
  // Built anew only when the list changes, so a button is never replaced under the pointer.
  const key = JSON.stringify(alarms) + canWrite();
  if (key === page.alarmsKey) return;
  page.alarmsKey = key;
  const body = $('alarms').tBodies[0];
  body.replaceChildren();
  for (const a of alarms) {
    const buttons = el('td', { class: 'choices' });
    for (const c of a.choices) {
      buttons.append(el('button', {
        type: 'button', text: c.caption || c.answer, 'data-choice': c.answer, disabled: !canWrite(),
        onclick: () => act('POST', '/api/alarms/' + a.id + '/answer', { choice: c.answer },
                           'Alarm ' + a.id + ' answered ' + c.answer),
      }));
    }
    body.append(el('tr', { class: levelClass(a.level), 'data-id': String(a.id), title: a.description },
      el('td', { text: String(a.id) }), el('td', { text: String(a.level) }),
      el('td', { text: a.module || '-' }), el('td', { class: 'text', text: a.text }),
      el('td', { text: a.post_time }), el('td', { text: a.code_position || a.routine }),
      buttons));
  }
  $('alarm-count').textContent = alarms.length ? '(' + alarms.length + ')' : '';
  $('no-alarms').hidden = alarms.length > 0;
}

function addMessage(m) {
  if (m.seq <= page.seen) return;
  page.seen = m.seq;
  const text = m.fields ? m.fields.join(' | ') : m.text;
  const list = $('messages');
  list.prepend(el('li', { class: 'msg', 'data-command': m.command },
    el('span', { class: 'time', text: m.time }),
    el('span', { class: 'cmd cmd-' + m.command, text: m.command }),
    el('span', { class: 'sender', text: '[' + m.sender + ']' }),
    el('span', { class: 'text', text })));
  while (list.children.length > 500) list.lastChild.remove();
}

// ---- Modules -----------------------------------------------------------------------------
function pointValue(p) {
  if (p.value === null) return '-';
  return p.text !== undefined ? p.text : p.value;
}

function writeControl(p) {
  const cell = el('td', { class: 'write' });
  let input;
  if (p.choices) {
    input = el('select', {});
    for (const c of p.choices) input.append(el('option', { value: String(c.value), text: c.text }));
  } else {
    input = el('input', { type: 'text', placeholder: p.kind === 'string' ? 'text'
                                                                           : p.min + ' .. ' + p.max });
  }
  const button = el('button', { type: 'button', text: 'Set', onclick: () =>
    act('POST', '/api/points/' + encodeURIComponent(p.name), { value: input.value },
        p.name + ' set to ' + (input.selectedOptions ? input.selectedOptions[0].text : input.value)) });
  cell.append(input, button);
  return { cell, input, button };
}

function renderPoints(points) {
  const body = $('points').tBodies[0];
  const names = points.map((p) => p.name).join('\n');
  if (names !== page.pointNames) {  // another module or other points: build the rows anew
    page.pointNames = names;
    page.pointRows.clear();
    body.replaceChildren();
    for (const p of points) {
      const w = writeControl(p);
      const row = { value: el('td', { class: 'value' }), unit: el('td', { text: p.unit || '' }),
                    status: el('td'), w };
      page.pointRows.set(p.name, row);
      body.append(el('tr', { 'data-point': p.name }, el('td', { text: p.name }), row.value,
                     row.unit, row.status, w.cell));
    }
  }
  // Only the values change in place, so a value being typed is kept.
  for (const p of points) {
    const row = page.pointRows.get(p.name);
    row.value.textContent = pointValue(p);
    row.status.textContent = p.status;
    row.status.className = 'status-' + p.status;
  }
  refreshControls();
}

function selectModule(name) {
  page.module = name;
  page.pointNames = null;
  for (const b of $('module-list').children) b.classList.toggle('active', b.textContent === name);
  connect();
}

// ---- Routines ----------------------------------------------------------------------------
function renderFunctions(list) {
  const body = $('functions').tBodies[0];
  const keys = list.map((f) => f.index + ' ' + f.name).join('\n');
  if (keys !== page.functionKeys) {
    page.functionKeys = keys;
    page.functionRows.clear();
    body.replaceChildren();
    for (const f of list) {
      const row = { run: el('td'), event: el('td'), flags: el('td'), process: el('td'),
                    buttons: [] };
      const control = el('td');
      if (f.slot === 'configured') {
        const param = el('input', { type: 'text', value: f.run_param, title: 'run parameter' });
        const button = (action, label, title) => el('button', { type: 'button', text: label,
          'data-action': action, title: title || label,
          onclick: () => act('POST', '/api/functions/' + encodeURIComponent(f.name) + '/' + action,
                             action === 'run' ? { param: param.value } : {},
                             f.name + ': ' + action + ' requested') });
        row.buttons = [param, button('run', 'Run'), button('abort', 'Abort'),
                       button('reset', 'Reset',
                       'an ended routine back to SYS_AVAILABLE, exit and abort flags cleared')];
        control.append(...row.buttons);
      }
      page.functionRows.set(f.index, row);
      body.append(el('tr', { 'data-function': f.name }, el('td', { text: String(f.index) }),
        el('td', { text: f.name + (f.slot === 'configured' ? '' : ' (' + f.slot + ')') }),
        row.run, row.event, row.flags, row.process, control));
    }
  }
  for (const f of list) {
    const row = page.functionRows.get(f.index);
    row.run.textContent = f.run_status;
    row.event.textContent = f.event_status;
    row.flags.textContent = ['abort', 'exit', 'free', 'virtual'].filter((k) => f[k]).join(' ') || '-';
    row.process.textContent = f.pid === '-' ? f.process : f.pid + ' ' + f.process;
  }
}

// ---- History -----------------------------------------------------------------------------
function timeParam(value) { return value ? value.replace('T', ' ').replace(/-/g, '/') : ''; }

async function showHistory(event) {
  if (event) event.preventDefault();
  const form = $('history-form');
  const q = new URLSearchParams({ since: timeParam(form.since.value),
                                  until: timeParam(form.until.value) });
  try {
    const rows = await api('GET', '/api/history?' + q);
    const body = $('history').tBodies[0];
    body.replaceChildren();
    for (const r of rows) {
      body.append(el('tr', { class: r.event === 'POST' ? 'posted' : 'answered' },
        el('td', { text: r.time }), el('td', { text: r.id }), el('td', { text: r.event }),
        el('td', { text: r.level }), el('td', { text: r.module || '-' }),
        el('td', { text: r.text }), el('td', { text: r.code_position })));
    }
    if (!rows.length) body.append(el('tr', {}, el('td', { colSpan: 7, class: 'quiet',
                                                            text: 'No alarm history in this window.' })));
  } catch (e) {
    notice(e.message, true);
  }
}

function showView(view) {
  page.view = view;
  for (const b of $('tabs').children) b.classList.toggle('active', b.dataset.view === view);
  for (const v of ['modules', 'functions', 'history']) $(v + '-view').hidden = v !== view;
  if (view === 'history') showHistory();
}

// ---- Start -------------------------------------------------------------------------------
async function start() {
  for (const b of $('tabs').children) b.addEventListener('click', () => showView(b.dataset.view));
  $('history-form').addEventListener('submit', showHistory);
  try {
    const s = await api('GET', '/api/state');
    renderState(s);
    for (const m of s.modules) {
      $('module-list').append(el('button', { type: 'button', text: m,
                                             onclick: () => selectModule(m) }));
    }
    const messages = await api('GET', '/api/messages');
    for (const m of messages) addMessage(m);
    const first = s.modules.find((m) => m !== 'CTC') || s.modules[0] || '';
    selectModule(first);
  } catch (e) {
    setLink(false);
    const off = $('offline');
    off.hidden = false;
    off.textContent = 'The panel cannot be reached: ' + e.message;
  }
}

document.addEventListener('DOMContentLoaded', start);
