// The facility's page: the boxes' table kept live from the monitor's events, one box's settings, the writes.
'use strict';

const $ = (id) => document.getElementById(id);
const none = '—';

let boxes = [];
let writable = false;
let openPort = null; // the box whose settings are shown
let shownNames = null; // its settings' names, as the form was built for them
const rows = new Map(); // port -> the row's cells and buttons
const pending = new Map(); // setting name -> writes of it not yet answered
const answered = new Set(); // settings shown as the box has them at the next event, focused or not
// One write at a time: each reads the file after the last was answered, so none undoes another.
let writes = Promise.resolve();

function element(tag, attributes = {}, text) {
  const e = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) e.setAttribute(name, value);
  if (text !== undefined) e.textContent = text;
  return e;
}

function formatText(texts) {
  const shown = [texts.resolution, texts.frame].filter(Boolean).join(' ');
  return shown || texts.type || none;
}

function driftText(drift) {
  if (drift.fault) return drift.fault;
  if (drift.expected === null) return 'no expected file';
  if (drift.match === null) return 'not compared yet';
  return drift.match ? 'matches' : 'differs: ' + drift.differs.join(', ');
}

// Each column: its text, and when it shows something wrong.
const columns = [
  [(b) => b.port],
  [(b) => b.model ?? none],
  [(b) => b.link, (b) => b.link !== 'up'],
  [(b) => b.texts.input ?? none],
  [(b) => formatText(b.texts)],
  [(b) => (b.crc_errors === null ? none : String(b.crc_errors)), (b) => b.crc_errors > 0],
  [(b) => driftText(b.drift), (b) => b.drift.match === false || b.drift.fault !== ''],
  [(b) => (b.last_frame_age_s === null ? 'none yet' : b.last_frame_age_s.toFixed(1) + ' s'),
    (b) => b.last_frame_age_s === null || b.last_frame_age_s > 2],
];

function makeRow(port) {
  const tr = element('tr');
  const cells = columns.map((_, i) => tr.appendChild(i ? element('td') : element('th', { scope: 'row' })));
  const actions = tr.appendChild(element('td', { class: 'actions' }));
  const open = actions.appendChild(element('button',
    { type: 'button', 'aria-controls': 'box', 'aria-expanded': 'false', 'aria-label': 'Settings of ' + port },
    'Settings'));
  open.addEventListener('click', () => openBox(openPort === port ? null : port));
  const reset = actions.appendChild(element('button',
    { type: 'button', 'aria-label': 'Reset CRC errors of ' + port }, 'Reset CRC errors'));
  reset.addEventListener('click', () => write(port, 'reset-errors', 'POST', 'Reset CRC errors', () => '{}'));
  return { tr, cells, open, reset };
}

function showTable() {
  const ports = boxes.map((b) => b.port);
  if ([...rows.keys()].join('\n') !== ports.join('\n')) {
    rows.clear();
    for (const port of ports) rows.set(port, makeRow(port));
    $('boxes').replaceChildren(...[...rows.values()].map((r) => r.tr));
  }
  for (const b of boxes) {
    const row = rows.get(b.port);
    columns.forEach(([text, wrong], i) => {
      row.cells[i].textContent = text(b);
      row.cells[i].classList.toggle('bad', Boolean(wrong && wrong(b)));
    });
    row.cells[2].classList.toggle('up', b.link === 'up');
    row.open.setAttribute('aria-expanded', String(openPort === b.port));
    row.reset.hidden = b.crc_errors === null;
    row.reset.disabled = !writable;
  }
}

function buildForm(b) {
  const form = $('settings');
  form.replaceChildren();
  b.settings.forEach((setting, i) => {
    const id = 'setting-' + i;
    const select = element('select', { id, 'data-name': setting.name });
    select.addEventListener('change', () => choose(b.port, setting.name, select.value));
    const row = form.appendChild(element('div', { class: 'setting' }));
    row.append(element('label', { for: id }, setting.name), select);
  });
  shownNames = b.settings.map((s) => s.name).join('\n');
}

// The box's value, unless the user is at the control or a write of it awaits its answer.
function showValue(select, setting) {
  select.disabled = !writable;
  if (pending.get(setting.name)) return;
  const focused = document.activeElement === select;
  if (!answered.delete(setting.name) && focused) return;
  // A code the box sends that the window has no item for is shown as the box's text.
  const items = setting.items.includes(setting.value) ? setting.items : [...setting.items, setting.value];
  if ([...select.options].map((o) => o.text).join('\n') !== items.join('\n'))
    select.replaceChildren(...items.map((item) => new Option(item, item)));
  select.value = setting.value;
}

function showBox() {
  const b = boxes.find((x) => x.port === openPort);
  $('box').hidden = !b;
  if (!b) return;
  $('box-title').textContent = `Settings of ${b.port}` + (b.model ? ` (${b.model})` : '');
  if (b.settings.map((s) => s.name).join('\n') !== shownNames) buildForm(b);
  const selects = $('settings').querySelectorAll('select');
  b.settings.forEach((setting, i) => showValue(selects[i], setting));
  $('no-settings').hidden = b.settings.length > 0;
}

function openBox(port) {
  const closed = openPort;
  openPort = port;
  shownNames = null;
  answered.clear();
  showTable();
  showBox();
  if (port !== null) {
    $('box-title').focus();
  } else if (rows.has(closed)) {
    rows.get(closed).open.focus();
  }
}

function show(state) {
  boxes = state.boxes;
  writable = state.writable;
  $('read-only').hidden = writable;
  showTable();
  showBox();
}

function say(text, wrong = false) {
  const line = $('outcome');
  line.textContent = text;
  line.classList.toggle('bad', wrong);
}

// A write's answer as the monitor words it, or what HTTP says when it sent none.
async function answerOf(response) {
  try {
    const answer = await response.json();
    if (answer.outcome !== undefined) return answer;
  } catch (e) {
    // not JSON: said below
  }
  return { outcome: `HTTP ${response.status}`, message: response.statusText };
}

function write(port, what, method, title, body) {
  const url = `/api/boxes/${encodeURIComponent(port)}/${what}`;
  const done = writes.then(async () => {
    say(`${title}: sending…`);
    try {
      const response = await fetch(url, {
        method, body: await body(url), credentials: 'same-origin', headers: { 'Content-Type': 'application/json' },
      });
      const answer = await answerOf(response);
      say(`${title}: ${answer.outcome}${answer.message ? ' — ' + answer.message : ''}`, answer.outcome !== 'applied');
    } catch (e) {
      say(`${title}: not sent (${e.message})`, true);
    }
  });
  writes = done;
  return done;
}

// The box's settings file with one setting's text changed, as apply takes it.
function choose(port, name, text) {
  pending.set(name, (pending.get(name) || 0) + 1);
  write(port, 'settings', 'PUT', name, async (url) => {
    const response = await fetch(url, { credentials: 'same-origin' });
    if (!response.ok) {
      const answer = await answerOf(response);
      throw new Error(`the box's settings could not be read: ${answer.message || answer.outcome}`);
    }
    const file = await response.json();
    file.settings[name] = text;
    return JSON.stringify(file, null, 4);
  }).finally(() => {
    pending.set(name, pending.get(name) - 1);
    answered.add(name);
  });
}

function streamUp(up) {
  const line = $('stream');
  const text = up ? 'Live' : 'No connection to the monitor: trying again…';
  if (line.textContent !== text) line.textContent = text;
  line.classList.toggle('down', !up);
  document.body.classList.toggle('stale', !up);
}

function connect() {
  const events = new EventSource('/api/events');
  events.onmessage = (event) => {
    streamUp(true);
    show(JSON.parse(event.data));
  };
  events.onerror = () => {
    streamUp(false);
    // It tries again by itself, unless the answer was no stream at all (a login refused, a busy server).
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 5000);
  };
}

$('close').addEventListener('click', () => openBox(null));
$('settings').addEventListener('submit', (event) => event.preventDefault());
connect();
