// The operator panel's page: live state from /api/events, actions through the JSON API.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const page = { module: '', view: 'modules', seen: 0, equipment: null, source: null, chinese: false,
               connected: null, unreachable: '', labels: new Map(),
               pointRows: new Map(), functionRows: new Map(), cardKeys: new Map() };

function $(id) { return document.getElementById(id); }

// The page's own words in Chinese, by their English text: shown when the equipment's display
// language (CTC.Language) is 1. Texts of the equipment (alarm texts, annotations, enumeration
// texts) come from the panel already in that language.
const WORDS = {
  'Vexlor panel': 'Vexlor 面板', 'connecting': '连接中', 'live': '实时',
  'no connection to the panel': '与面板无连接', 'equipment offline': '设备离线',
  'The panel cannot be reached: ': '无法连接面板: ',
  'No connection to the panel: reconnecting\u2026': '与面板无连接: 正在重连\u2026',
  'Equipment offline: ': '设备离线: ', 'User ': '用户 ', ', level ': ', 级别 ',
  'Host link': '主机通信', 'Drivers': '驱动', 'not configured': '未配置',
  'communication ': '通信 ', ', control ': ', 控制 ', ', spool ': ', 缓存 ', 'online': '在线', 'offline': '离线',
  'none': '无', 'ok': '正常', 'fail': '失败',
  'Alarms': '报警', 'Level': '级别', 'Module': '模块', 'Text': '文本', 'Posted': '发生时间',
  'Caller': '调用位置', 'Recovery': '恢复', 'No alarms posted.': '无报警。', 'Messages': '消息',
  'Modules': '模块', 'Routines': '程序', 'Alarm history': '报警历史', 'Point': '点', 'Value': '值',
  'Unit': '单位', 'Status': '状态', 'Write': '写入', 'Routine': '程序', 'Run status': '运行状态',
  'Event': '事件', 'Flags': '标志', 'Process': '进程', 'Control': '控制', 'From': '从', 'to': '至',
  'Show': '显示', 'Time': '时间', 'Equipment': '设备', 'Status ': '状态 ', 'Wafers ': '晶圆 ',
  'No routines': '无程序', 'Set': '设置', 'Run': '运行', 'Abort': '中止', 'Reset': '复位',
  'text': '文本', 'Run parameter': '运行参数', 'run parameter': '运行参数',
  'No alarm history in this window.': '此时间段无报警历史。',
  'Idle': '空闲', 'Running': '运行中', 'Waiting': '等待中', 'Busy': '忙', 'Ended': '已结束',
  'Skipped': '已跳过', 'Aborted': '已中止', 'Failed': '失败', 'Stopped': '已停止',
  'Unknown': '未知', 'Enabled': '启用', 'Disabled': '停用', 'Paused': '已暂停',
  'Pausing': '暂停中', 'Ready': '就绪', 'Not ready': '未就绪',
  'Alarm ': '报警 ', ' answered ': ' 已应答 ', ' set to ': ' 设为 ', ' reset': ' 已复位',
  ': run requested': ': 已请求运行', ': abort requested': ': 已请求中止',
  ': reset requested': ': 已请求复位',
  'Make %s runnable again (only when it is not running)': '使 %s 可再次运行 (仅在未运行时)',
  'an ended routine back to SYS_AVAILABLE, exit and abort flags cleared':
    '已结束的程序回到 SYS_AVAILABLE, 清除退出和中止标志',
  'Run parameter of %s': '%s 的运行参数',
  'no database': '无数据库', 'the sequence manager does not answer': '顺序管理器无响应',
  'the database was replaced or removed: restart the panel': '数据库已被替换或删除: 请重启面板',
};

// A word of the page in the equipment's language.
function w(english) { return (page.chinese && WORDS[english]) || english; }

// Shows every element marked with data-word (its text), data-word-title or
// data-word-placeholder in the equipment's language.
function applyWords() {
  document.documentElement.lang = page.chinese ? 'zh' : 'en';
  document.title = w('Vexlor panel');
  for (const e of document.querySelectorAll('[data-word]')) e.textContent = w(e.dataset.word);
  for (const e of document.querySelectorAll('[data-word-title]')) e.title = w(e.dataset.wordTitle);
  for (const e of document.querySelectorAll('[data-word-placeholder]')) {
    e.placeholder = w(e.dataset.wordPlaceholder);
  }
}

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props || {})) {
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k === 'word') { e.dataset.word = v; e.textContent = w(v); }
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
  page.connected = up;
  if (up) page.unreachable = '';
  showConnection();
}

// The badge and the banner say the same, from one state: the link to the panel and whether
// the equipment is online.
function showConnection() {
  const q = page.equipment;
  let badge = 'live', banner = '';
  if (page.connected === null) {
    badge = 'connecting';
  } else if (!page.connected) {
    badge = 'no connection to the panel';
    banner = page.unreachable ? w('The panel cannot be reached: ') + page.unreachable
                              : w('No connection to the panel: reconnecting\u2026');
  } else if (q && !q.online) {
    badge = 'equipment offline';
    banner = w('Equipment offline: ') + w(q.offline_reason);
  }
  const l = $('link');
  l.dataset.word = badge;
  l.textContent = w(badge);
  l.className = 'badge ' + (badge === 'live' ? 'ok' : 'bad');
  const off = $('offline');
  off.hidden = !banner;
  off.textContent = banner;
}

function renderState(s) {
  const q = s.equipment;
  page.equipment = q;
  const chinese = q.language === 1;
  if (chinese !== page.chinese) {  // the equipment's language changed: every word anew
    page.chinese = chinese;
    page.cardKeys.clear();
    page.alarmsKey = null;
    page.driverKey = null;
    applyWords();
    // The points' enumeration texts come in the new language with a fresh subscription.
    page.pointNames = null;
    if (page.source) connect();
  }
  $('instance').textContent = q.instance + ' \u2014 ' + q.main_form;
  $('user').textContent = w('User ') + (q.user || '-') + w(', level ') + q.level;
  showConnection();
  if (s.overview) renderOverview(s.overview);
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
  for (const b of document.querySelectorAll('#cards button[data-action="reset"]')) {
    b.disabled = !canEngineer() || b.dataset.resettable !== 'true';
  }
}

// ---- Overview: host link, drivers, one card per module -------------------------------------
function renderOverview(o) {
  const host = $('host-state');
  if (!o.host.configured) {
    host.textContent = w('not configured');
    host.className = 'badge quiet-badge';
  } else {
    host.textContent = w('communication ') + (o.host.communication ?? '-') +
                       w(', control ') + (o.host.control ?? '-') +
                       (o.host.spool > 0 ? w(', spool ') + o.host.spool : '');
    host.className = 'badge ' + (o.host.communicating ? 'ok' : 'bad');
  }
  const drivers = $('driver-list');
  const driverKey = JSON.stringify(o.drivers);
  if (driverKey !== page.driverKey) {
    page.driverKey = driverKey;
    drivers.replaceChildren(...o.drivers.map((d) => el('span', {
      class: 'badge ' + (d.online ? 'ok' : 'bad'), 'data-driver': d.name,
      title: d.statistics || '',
      text: d.name + ' ' + w(d.online ? 'online' : 'offline') })));
    if (!o.drivers.length) drivers.append(el('span', { class: 'quiet', word: 'none' }));
  }
  page.labels.clear();
  for (const c of o.cards) {
    if (c.module) page.labels.set(c.module, c.label);
    if (c.name) page.labels.set(c.name, c.label);
  }
  for (const b of $('module-list').children) b.textContent = labelOf(b.dataset.module);

  // A card is built anew only when what it shows changes.
  const box = $('cards');
  const seen = new Set();
  let previous = null;
  for (const c of o.cards) {
    const id = c.module || 'equipment';
    seen.add(id);
    const key = JSON.stringify(c);
    let card = box.querySelector(`article[data-card="${CSS.escape(id)}"]`);
    if (!card || page.cardKeys.get(id) !== key) {
      const fresh = buildCard(c, id);
      if (card) card.replaceWith(fresh); else box.append(fresh);
      card = fresh;
      page.cardKeys.set(id, key);
    }
    if (previous ? previous.nextSibling !== card : box.firstChild !== card) {
      if (previous) previous.after(card); else box.prepend(card);
    }
    previous = card;
  }
  for (const card of [...box.children]) {
    if (!seen.has(card.dataset.card)) { page.cardKeys.delete(card.dataset.card); card.remove(); }
  }
}

function labelOf(module) { return page.labels.get(module) || module; }

function buildCard(c, id) {
  const head = el('header', { class: 'card-head' }, el('h3', c.module ? { text: c.label } : { word: c.label }));
  if (c.kind) head.append(el('span', { class: 'kind', text: c.kind }));
  const card = el('article', { class: 'card', 'data-card': id }, head);
  if (c.mode) {
    head.append(el('span', { class: 'badge mode mode-' + c.mode.toLowerCase(), word: c.mode }),
                el('span', { class: 'badge state state-' + c.state.toLowerCase().replace(' ', '-'),
                             word: c.state }));
  }
  if (c.annotation) card.append(el('p', { class: 'annotation', text: c.annotation }));
  if (c.state_text) {
    card.append(el('p', { class: 'state-text' }, el('span', { class: 'label', word: 'Status ' }),
                   el('span', { text: c.state_text })));
  }
  if (c.wafers) {
    const ws = el('p', { class: 'wafers' }, el('span', { class: 'label', word: 'Wafers ' }));
    if (!c.wafers.length) ws.append(el('span', { class: 'quiet', word: 'none' }));
    for (const x of c.wafers) {
      ws.append(el('span', { class: 'wafer', text: x.slot + ': W' + x.wafer }));
    }
    card.append(ws);
  }
  if (c.alarms.length) {
    card.append(el('ul', { class: 'card-alarms' }, ...c.alarms.map((a) =>
      el('li', { class: levelClass(a.level), 'data-alarm': String(a.id),
                 text: a.id + ' ' + a.text }))));
  }
  if (c.routines.length) {
    const list = el('ul', { class: 'routines' });
    for (const r of c.routines) {
      const reset = el('button', { type: 'button', word: 'Reset', 'data-action': 'reset',
        'data-resettable': String(r.resettable),
        title: w('Make %s runnable again (only when it is not running)').replace('%s', r.name),
        disabled: !canEngineer() || !r.resettable,
        onclick: () => act('POST', '/api/functions/' + encodeURIComponent(r.name) + '/reset', {},
                           r.name + w(' reset')) });
      list.append(el('li', { 'data-routine': r.name },
        el('span', { class: 'routine-name', text: r.name }),
        el('span', { class: 'badge routine-state tone-' + r.tone, title: r.run_status,
                     word: r.state }),
        reset));
    }
    card.append(list);
  } else {
    card.append(el('p', { class: 'quiet', word: 'No routines' }));
  }
  return card;
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
                           w('Alarm ') + a.id + w(' answered ') + c.answer),
      }));
    }
    body.append(el('tr', { class: levelClass(a.level), 'data-id': String(a.id), title: a.description },
      el('td', { text: String(a.id) }), el('td', { text: String(a.level) }),
      el('td', { text: a.module_label || '-' }), el('td', { class: 'text', text: a.text }),
      el('td', { text: a.post_time }), el('td', { class: 'caller', text: a.code_position || a.routine }),
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
    input = el('input', { type: 'text', placeholder: p.kind === 'string' ? w('text')
                                                                           : p.min + ' .. ' + p.max });
    if (p.kind === 'string') input.dataset.wordPlaceholder = 'text';
  }
  const button = el('button', { type: 'button', word: 'Set', onclick: () =>
    act('POST', '/api/points/' + encodeURIComponent(p.name), { value: input.value },
        p.name + w(' set to ') + (input.selectedOptions ? input.selectedOptions[0].text : input.value)) });
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
    row.status.dataset.word = p.status;
    row.status.textContent = w(p.status);
    row.status.className = 'status-' + p.status;
  }
  refreshControls();
}

function selectModule(name) {
  page.module = name;
  page.pointNames = null;
  for (const b of $('module-list').children) b.classList.toggle('active', b.dataset.module === name);
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
        const param = el('input', { type: 'text', value: f.run_param, title: w('run parameter'),
                                    'data-word-title': 'run parameter',
                                    'aria-label': w('Run parameter of %s').replace('%s', f.name) });
        const button = (action, label, title) => el('button', { type: 'button', word: label,
          'data-action': action, title: w(title || label), 'data-word-title': title || label,
          onclick: () => act('POST', '/api/functions/' + encodeURIComponent(f.name) + '/' + action,
                             action === 'run' ? { param: param.value } : {},
                             f.name + w(': ' + action + ' requested')) });
        row.buttons = [param, button('run', 'Run'), button('abort', 'Abort'),
                       button('reset', 'Reset',
                       'an ended routine back to SYS_AVAILABLE, exit and abort flags cleared')];
        control.append(el('label', { class: 'run-param' },
                          el('span', { class: 'label', word: 'Run parameter' }), param),
                       ...row.buttons.slice(1));
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
                                                            word: 'No alarm history in this window.' })));
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
      $('module-list').append(el('button', { type: 'button', text: labelOf(m), 'data-module': m,
                                             onclick: () => selectModule(m) }));
    }
    const messages = await api('GET', '/api/messages');
    for (const m of messages) addMessage(m);
    const first = s.modules.find((m) => m !== 'CTC') || s.modules[0] || '';
    selectModule(first);
  } catch (e) {
    page.unreachable = e.message;
    setLink(false);
  }
}

document.addEventListener('DOMContentLoaded', start);
