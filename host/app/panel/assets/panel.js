// The velumbra panel in the browser: draws the rollouts the server
// describes, sends every user action to the server as input on a control,
// and re-renders the preview after each change. All state lives in the
// server; this page only shows it.
'use strict';

let state = null;
let current = 0;        // the effect shown
let previewSeq = 0;     // the newest preview request wins
let busy = 0;           // actions and preview renders under way

// The secret the server printed in the panel's address (?token=...): every
// API request carries it, in a header or, for images, in the URL.
const token = new URLSearchParams(window.location.search).get('token') || '';
const withToken = (url) => url + (url.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(token);

// While anything is under way the page says so (aria-busy on the body), so
// that assistive tools, and scripts driving the page, know when the
// controls and the preview show the server's latest state.
function setBusy(delta) {
  busy += delta;
  document.body.setAttribute('aria-busy', String(busy > 0));
}

const $ = (id) => document.getElementById(id);

class ApiError extends Error {
  constructor(message, status, data) {
    super(message);
    this.status = status;
    this.data = data;
  }
}

async function api(path, body) {
  const init = body === undefined ? { headers: { 'X-Velumbra-Token': token } } : {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-Velumbra-Token': token },
    body: JSON.stringify(body),
  };
  const res = await fetch(path, init);
  const data = await res.json();
  if (!res.ok) throw new ApiError(data.error || res.statusText, res.status, data);
  return data;
}

function status(text, isError) {
  const s = $('status');
  s.textContent = text || '';
  s.classList.toggle('error', !!isError);
}

// Sends one action; on success the answer is the new state. `render`
// re-renders the preview afterwards (not for rolling rollouts up).
async function act(path, body, render = true) {
  setBusy(1);
  try {
    state = await api(path, body);
    status('');
    draw();
    if (render) await refreshPreview();
  } catch (e) {
    status(e.message, true);
    await reload();
  } finally {
    setBusy(-1);
  }
}

async function reload() {
  try {
    state = await api('/api/state');
    draw();
  } catch (e) {
    status(e.message, true);
  }
}

async function refreshPreview() {
  const seq = ++previewSeq;
  const res = await fetch('/api/preview.png?n=' + seq, { headers: { 'X-Velumbra-Token': token } });
  if (seq !== previewSeq) return;
  if (!res.ok) {
    const data = await res.json().catch(() => ({}));
    status(data.error || 'the preview could not be rendered', true);
    return;
  }
  const blob = await res.blob();
  if (seq !== previewSeq) return;
  const img = $('preview');
  const old = img.src;
  img.src = URL.createObjectURL(blob);
  img.dataset.frame = String(state ? state.frame : '');
  if (old.startsWith('blob:')) URL.revokeObjectURL(old);
  // The render may write parameters (the scintillation lock, the camera it
  // recognised): show them.
  await reload();
}

function input(map, id, action, value) {
  return act('/api/input', { effect: current, map, id, action, value });
}

function hex(c) {
  return '#' + c.map((x) => Math.round(Math.min(1, Math.max(0, x)) * 255).toString(16).padStart(2, '0')).join('');
}

function place(el, c) {
  el.style.left = c.x + 'px';
  el.style.top = c.y + 'px';
  el.style.width = c.w + 'px';
  el.style.height = c.h + 'px';
  el.dataset.id = String(c.id);
  if (c.param) el.dataset.param = c.param;
  el.title = c.param || '';
  return el;
}

function control(map, c) {
  let el;
  switch (c.kind) {
    case 'group': {
      el = document.createElement('div');
      el.className = 'group';
      if (c.text) {
        const legend = document.createElement('span');
        legend.textContent = c.text;
        el.appendChild(legend);
      }
      break;
    }
    case 'label':
      el = document.createElement('div');
      el.className = 'label';
      el.textContent = c.text;
      el.style.textAlign = c.align;
      break;
    case 'picture':
      el = document.createElement('img');
      el.className = 'picture';
      el.alt = 'About';
      el.src = withToken('/api/bitmap?effect=' + current + '&id=' + c.bitmap);
      el.style.objectFit = 'none';
      break;
    case 'edit':
      el = document.createElement('input');
      el.type = 'text';
      el.className = 'edit';
      el.value = c.text;
      el.disabled = !c.enabled;
      el.addEventListener('change', () => input(map, c.id, 'text', el.value));
      break;
    case 'spinner': {
      el = document.createElement('div');
      el.className = 'spinner';
      for (const [label, clicks] of [['\u25b2', 1], ['\u25bc', -1]]) {
        const b = document.createElement('button');
        b.type = 'button';
        b.textContent = label;
        b.disabled = !c.enabled;
        b.setAttribute('aria-label', (clicks > 0 ? 'up ' : 'down ') + (c.param || ''));
        b.addEventListener('click', (ev) => input(map, c.id, 'spin', ev.shiftKey ? clicks * 10 : clicks));
        el.appendChild(b);
      }
      el.addEventListener('contextmenu', (ev) => { ev.preventDefault(); if (c.enabled) input(map, c.id, 'reset'); });
      break;
    }
    case 'slider': {
      el = document.createElement('input');
      el.type = 'range';
      el.className = 'slider';
      el.min = c.low;
      el.max = c.high;
      el.step = c.integer ? 1 : (c.high - c.low) / 1000;
      el.value = c.value;
      el.disabled = !c.enabled;
      if (c.ticks > 0) {
        const pct = 100 / c.ticks;
        el.style.background = 'repeating-linear-gradient(to right, #777 0 1px, transparent 1px ' + pct + '%) bottom / 100% 3px no-repeat';
      }
      el.addEventListener('change', () => input(map, c.id, 'slide', Number(el.value)));
      el.addEventListener('contextmenu', (ev) => { ev.preventDefault(); if (c.enabled) input(map, c.id, 'reset'); });
      break;
    }
    case 'swatch':
      el = document.createElement('input');
      el.type = 'color';
      el.className = 'swatch';
      el.value = hex(c.color);
      el.disabled = !c.enabled;
      el.addEventListener('change', () => input(map, c.id, 'color', el.value));
      break;
    case 'file':
      // The server cannot show its file dialog in the page: the name is
      // typed (relative names resolve from the scene file's folder).
      el = document.createElement('input');
      el.type = 'text';
      el.className = 'edit file';
      el.value = c.value;
      el.placeholder = c.text;
      el.disabled = !c.enabled;
      el.addEventListener('change', () => input(map, c.id, 'file', el.value));
      break;
    case 'pick':
    case 'button':
      el = document.createElement('button');
      el.type = 'button';
      el.className = 'pick' + (c.checked ? ' picking' : '');
      el.textContent = c.text;
      el.disabled = !c.enabled;
      el.addEventListener('click', () => act('/api/input', { effect: current, map, id: c.id, action: 'click' }, false));
      break;
    case 'check':
    case 'radio': {
      el = document.createElement('label');
      el.className = 'check' + (c.leftText ? ' left' : '') + (c.enabled ? '' : ' disabled');
      const box = document.createElement('input');
      box.type = c.kind === 'check' ? 'checkbox' : 'radio';
      box.checked = c.checked;
      box.disabled = !c.enabled;
      box.addEventListener('click', (ev) => {
        if (c.kind === 'radio' && c.checked) return;  // already selected
        ev.preventDefault();  // the server's state decides
        input(map, c.id, 'click');
      });
      const text = document.createElement('span');
      text.textContent = c.text;
      el.append(box, text);
      break;
    }
    default:
      el = document.createElement('div');
  }
  return place(el, c);
}

function drawPick(fx) {
  const box = $('pick');
  box.hidden = !fx.pick;
  if (!fx.pick) return;
  $('pick-prompt').textContent = fx.pick.prompt + ':';
  const nodes = $('pick-nodes');
  nodes.replaceChildren();
  if (fx.pick.candidates.length === 0) nodes.textContent = ' no node of the scene fits';
  for (const name of fx.pick.candidates) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = name;
    b.addEventListener('click', () => act('/api/pick', { effect: current, node: name }));
    nodes.appendChild(b);
  }
}

function draw() {
  if (!state) return;
  $('scene-name').textContent = state.file || state.scene;
  $('dirty').hidden = !state.dirty;
  const choice = $('effect');
  $('effect-choice').hidden = state.effects.length < 2;
  if (choice.options.length !== state.effects.length) {
    choice.replaceChildren(...state.effects.map((fx, i) => new Option(fx.name || fx.className, String(i))));
  }
  choice.value = String(current);
  const frame = $('frame');
  [frame.min, frame.max] = state.frameRange;
  frame.value = state.frame;
  $('frame-number').textContent = String(state.frame);
  // What shows through the frame's transparent pixels.
  const background = $('background');
  background.querySelector('option[value="plate"]').disabled = !state.hasPlate;
  background.value = state.background;
  $('preview-box').className = state.background;

  const fx = state.effects[current];
  const box = $('rollouts');
  box.replaceChildren();
  if (!fx) return;
  drawPick(fx);
  for (const r of fx.rollouts) {
    const roll = document.createElement('div');
    roll.className = 'rollout' + (r.open ? ' open' : '');
    roll.dataset.map = String(r.map);
    const title = document.createElement('button');
    title.type = 'button';
    title.className = 'title';
    title.textContent = r.title;
    title.setAttribute('aria-expanded', String(r.open));
    title.addEventListener('click', () => act('/api/rollup', { effect: current, map: r.map, open: !r.open }, false));
    const page = document.createElement('div');
    page.className = 'page';
    page.style.width = r.width + 'px';
    page.style.height = r.height + 'px';
    for (const c of r.controls) page.appendChild(control(r.map, c));
    roll.append(title, page);
    if (r.hint) {
      const hint = document.createElement('p');
      hint.className = 'hint';
      hint.textContent = r.hint;
      hint.style.maxWidth = r.width + 'px';
      roll.appendChild(hint);
    }
    box.appendChild(roll);
  }
}

$('close-all').addEventListener('click', () => act('/api/close-all', { effect: current }, false));
$('pick-cancel').addEventListener('click', () => act('/api/pick', { effect: current, node: '' }, false));
$('effect').addEventListener('change', (ev) => { current = Number(ev.target.value); draw(); });
$('frame').addEventListener('input', (ev) => { $('frame-number').textContent = ev.target.value; });
$('frame').addEventListener('change', (ev) => act('/api/frame', { frame: Number(ev.target.value) }));
$('background').addEventListener('change', (ev) => act('/api/background', { background: ev.target.value }, false));
$('save').addEventListener('click', async () => {
  let body = {};
  if (!state.file) {
    const file = window.prompt('Save the scene as (a .json file):', 'scene.json');
    if (!file) return;
    body = { file };
  }
  setBusy(1);
  try {
    try {
      state = await api('/api/save', body);
    } catch (e) {
      // Save as onto an existing file: the user decides.
      if (!(e instanceof ApiError && e.status === 409 && body.file)) throw e;
      if (!window.confirm(body.file + ' exists. Replace it?')) return;
      state = await api('/api/save', { ...body, overwrite: true });
    }
    draw();
    status('saved ' + state.saved);
  } catch (e) {
    status(e.message, true);
  } finally {
    setBusy(-1);
  }
});
window.addEventListener('beforeunload', (ev) => {
  if (state && state.dirty) ev.preventDefault();
});

// The server puts the first state into the page (and the preview's address
// into its image): drawn here, as the page loads, so that the page shows the
// rollouts and the preview without waiting for a request or a timer (a
// headless browser's screenshot is taken at the load event).
const firstState = $('first-state');
if (firstState) {
  state = JSON.parse(firstState.textContent);
  draw();
}

setBusy(1);
(state ? Promise.resolve() : reload())
  .then(refreshPreview)
  .catch((e) => status(e.message, true))
  .finally(() => setBusy(-1));
