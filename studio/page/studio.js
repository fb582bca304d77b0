// studio.js: the page of kestrion studio.
//
// It draws what the studio reports after every request: the module's open
// dialogs as the headless platform holds them (every control at its place
// in pixels, with its text, style, state and tab order), the host's pick
// dialog, and the filter as the host holds it. The user's input goes back
// as the studio's actions (click, type and Enter, spinner press, drag and
// release, Escape, the close box), which reach the dialog procedure as the
// window messages it gets in the host. Nothing here decides what a control
// does: a click on "Object Channel" is sent, and the next state shows what
// the module made of it.
//
// The viewer shows the frame as the studio sends it: the 8-bit pixels of
// the review PNG `kestrion render` writes of the frame, the original (A)
// or the preview through the module (B), drawn into a canvas one pixel of
// the image a pixel of the canvas, and scaled only by the view (fit, or
// 1:1 and any zoom). A click asks the studio to focus there; the readout
// asks what lies under the pointer.
'use strict';

const WS_SYSMENU = 0x00080000;
const WS_TABSTOP = 0x00010000;
const BS_TYPEMASK = 0x0f;
const BS_DEFPUSHBUTTON = 0x01;
const BS_RADIOBUTTON = 0x04;
const BS_GROUPBOX = 0x07;
const BS_AUTORADIOBUTTON = 0x09;
const SS_TYPEMASK = 0x1f;
const SS_CENTER = 0x01;
const SS_RIGHT = 0x02;
const SS_BITMAP = 0x0e;
const IDC_STATIC = 65535;

const SOURCE_NAMES = {1010: 'Whole Image', 1011: 'Material Effects Channel', 1012: 'Object Channel'};
// The window frame around a dialog's client area: border and padding on
// each side, and the caption bar.
const FRAME = 4;
const CAPTION = 19;
const RECONNECT_MS = 1000;
const CLOSE_GOING_AWAY = 1001;  // the studio stopped

const IMAGE_MAGIC = 'KSI1';
const ZOOM_STEP = 1.25;
const ZOOM_MIN = 1 / 32;
const ZOOM_MAX = 32;
const CLICK_SLOP = 4;  // pixels a click may move and still be a click

const studio = {
  socket: null,
  seq: 0,
  state: null,
  windows: new Map(),  // dialog handle -> drawn window
  pick: null,          // the drawn pick dialog
  drag: null,          // the spinner being dragged
  frames: [],          // the run's frame numbers
  images: {},          // kind -> {frame, width, height, version, data: ImageData}
  show: 'result',      // A/B: 'original' or 'result'
  overlay: false,      // the focus map over the frame
  view: {fit: true, scale: 1, x: 0, y: 0},
  drawn: null,         // what the image canvas holds: "kind:frame:version"
  pan: null,           // a press on the viewer: a click or a pan
  look: {pending: 0, wanted: null, last: null},
  frameAsked: {pending: 0, wanted: null},
};

// --- The link to the studio ------------------------------------------------

function connect() {
  const socket = new WebSocket(`ws://${location.host}/ws`);
  socket.binaryType = 'arraybuffer';
  studio.socket = socket;
  socket.addEventListener('open', () => setLink('open', 'Connected'));
  socket.addEventListener('message', (event) => {
    if (typeof event.data === 'string') receive(event.data);
    else receiveImage(event.data);
  });
  socket.addEventListener('close', (event) => {
    if (event.code === CLOSE_GOING_AWAY) {
      setLink('closed', 'The studio has stopped');
      setStatus('The studio has stopped: start it again and open the address it prints.', 'error');
      return;
    }
    setLink('closed', 'Disconnected – retrying…');
    setTimeout(connect, RECONNECT_MS);
  });
}

function setLink(state, text) {
  document.getElementById('link').dataset.state = state;
  document.getElementById('link-text').textContent = text;
}

function send(message) {
  if (!studio.socket || studio.socket.readyState !== WebSocket.OPEN) {
    setStatus('Not connected: the action was not sent.', 'error');
    return 0;
  }
  message.seq = ++studio.seq;
  studio.socket.send(JSON.stringify(message));
  return message.seq;
}

function act(handle, action, fields = {}) {
  return send({type: 'action', dialog: handle, action, ...fields});
}

function receive(text) {
  let message;
  try {
    message = JSON.parse(text);
  } catch {
    setStatus('The studio sent something unreadable.', 'error');
    return;
  }
  switch (message.type) {
    case 'state':
      showState(message);
      break;
    case 'refused':
      setStatus(`Refused: ${message.reason}.`, 'refused');
      break;
    case 'error':
      setStatus(`Error: ${message.message}.`, 'error');
      break;
    case 'progress':
      showProgress(message);
      break;
    case 'frames':
      studio.frames = message.frames;
      drawTimeline();
      break;
    case 'look':
      showLook(message);
      break;
    default:
      break;
  }
}

function setStatus(text, kind = 'info') {
  document.getElementById('status-text').textContent = text;
  document.querySelector('.status').dataset.kind = kind;
}

// --- The state ---------------------------------------------------------------

function showState(state) {
  studio.state = state;
  document.getElementById('state-version').textContent = `state ${state.version}`;
  drawDesk(state);
  drawHost(state.host || {});
  drawStudio(state.host && state.host.studio);
  const open = state.dialogs.length > 0;
  document.getElementById('open-control').disabled = open || !!state.pick;
  document.getElementById('open-about').disabled = !!state.pick;
  if (studio.frameAsked.pending && state.ack >= studio.frameAsked.pending) {
    studio.frameAsked.pending = 0;
    askFrame();
  }
}

function frontHandle(state) {
  if (state.pick || state.dialogs.length === 0) return 0;
  return state.dialogs[state.dialogs.length - 1].handle;
}

function drawDesk(state) {
  const desk = document.getElementById('desk');
  const front = frontHandle(state);
  const seen = new Set();
  for (const dialog of state.dialogs) {
    seen.add(dialog.handle);
    let win = studio.windows.get(dialog.handle);
    if (!win) {
      win = makeWindow(dialog);
      studio.windows.set(dialog.handle, win);
      desk.appendChild(win.element);
    }
    updateWindow(win, dialog, dialog.handle === front);
  }
  for (const [handle, win] of studio.windows) {
    if (!seen.has(handle)) {
      win.element.remove();
      studio.windows.delete(handle);
    }
  }
  drawPick(state.pick);
  placeWindows(state);
  const empty = state.dialogs.length === 0 && !state.pick;
  document.getElementById('desk-empty').hidden = !empty;
  if (empty) describeClosed(state.host && state.host.lastDialog);
}

function describeClosed(last) {
  let text = 'No dialog is open.';
  if (last) {
    const name = last.dialog === 'about' ? 'The about box' : 'The control dialog';
    const how = last.result === 1 ? 'OK' : last.result === 0 ? 'Cancel' : `result ${last.result}`;
    text = `${name} was closed with ${how}.`;
  }
  document.getElementById('desk-empty-text').textContent = text;
}

// The outermost dialog is centred on the desk; each one above it keeps
// the offset the platform placed it at (centred over its owner), in the
// outermost dialog's units.
function placeWindows(state) {
  const desk = document.getElementById('desk');
  const width = desk.clientWidth;
  const height = desk.parentElement.clientHeight;
  const outer = state.dialogs[0];
  let originX = width / 2;
  let originY = height / 2;
  if (outer) {
    // Docked: the outermost dialog at the top of the dock, centred.
    const [ow] = outerSize(outer);
    const left = Math.max(0, Math.round((width - ow) / 2));
    const top = 8;
    const [bx, by] = outer.baseUnits;
    for (const dialog of state.dialogs) {
      const win = studio.windows.get(dialog.handle);
      const dx = Math.round(((dialog.placed[0] - outer.placed[0]) * bx) / 4);
      const dy = Math.round(((dialog.placed[1] - outer.placed[1]) * by) / 8);
      win.element.style.left = `${left + dx}px`;
      win.element.style.top = `${top + dy}px`;
    }
    const front = state.dialogs[state.dialogs.length - 1];
    const [fw, fh] = outerSize(front);
    const frontWin = studio.windows.get(front.handle).element;
    originX = frontWin.offsetLeft + fw / 2;
    originY = frontWin.offsetTop + fh / 2;
  }
  if (studio.pick) {
    const element = studio.pick.element;
    element.style.left = `${Math.max(8, Math.round(originX - element.offsetWidth / 2))}px`;
    element.style.top = `${Math.max(8, Math.round(originY - element.offsetHeight / 2))}px`;
  }
}

function outerSize(dialog) {
  return [dialog.pixels[2] + 2 * FRAME, dialog.pixels[3] + 2 * FRAME + CAPTION];
}

// --- Dialog windows -----------------------------------------------------------

function el(tag, className, parent) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (parent) parent.appendChild(element);
  return element;
}

function makeWindow(dialog) {
  const element = el('div', 'win');
  element.dataset.handle = dialog.handle;
  element.setAttribute('role', 'dialog');
  const caption = el('div', 'caption', element);
  const text = el('span', 'caption-text', caption);
  const win = {element, caption: text, client: null, controls: new Map(), handle: dialog.handle};
  if (dialog.style & WS_SYSMENU) {
    const close = el('button', 'close', caption);
    close.type = 'button';
    close.textContent = '×';
    close.title = 'Close';
    close.tabIndex = -1;
    close.addEventListener('click', () => {
      if (win.front) act(win.handle, 'close');
    });
  }
  win.client = el('div', 'client', element);
  return win;
}

function updateWindow(win, dialog, front) {
  win.front = front;
  win.dialog = dialog;
  win.element.classList.toggle('behind', !front);
  win.element.dataset.caption = dialog.caption;
  win.element.setAttribute('aria-label', dialog.caption);
  win.caption.textContent = dialog.caption;
  const [, , width, height] = dialog.pixels;
  win.client.style.width = `${width}px`;
  win.client.style.height = `${height}px`;
  // The dialog font: 8 points is 13 pixels of base height.
  win.element.style.fontSize = `${Math.round((dialog.baseUnits[1] * 11) / 13)}px`;
  const seen = new Set();
  let order = 0;
  for (const control of dialog.controls) {
    const key = `${order++}:${control.id}`;
    seen.add(key);
    let drawn = win.controls.get(key);
    if (!drawn || drawn.kind !== kindOf(control)) {
      if (drawn) drawn.element.remove();
      drawn = makeControl(win, control);
      win.controls.set(key, drawn);
      win.client.appendChild(drawn.element);
    }
    updateControl(win, drawn, control);
  }
  for (const [key, drawn] of win.controls) {
    if (!seen.has(key)) {
      drawn.element.remove();
      win.controls.delete(key);
    }
  }
}

function kindOf(control) {
  const name = control.class.toUpperCase();
  if (name === 'BUTTON') {
    const type = control.style & BS_TYPEMASK;
    if (type === BS_GROUPBOX) return 'groupbox';
    if (type === BS_AUTORADIOBUTTON || type === BS_RADIOBUTTON) return 'radio';
    return 'push';
  }
  if (name === 'STATIC') return (control.style & SS_TYPEMASK) === SS_BITMAP ? 'bitmap' : 'static';
  if (name === 'CUSTEDIT') return 'edit';
  if (name === 'SPINNERCONTROL') return 'spinner';
  return 'other';
}

function makeControl(win, control) {
  const kind = kindOf(control);
  const drawn = {kind, id: control.id, control};
  let element;
  switch (kind) {
    case 'groupbox':
      element = el('div', 'ctl groupbox');
      drawn.label = el('span', '', element);
      break;
    case 'static':
      element = el('div', 'ctl static');
      break;
    case 'bitmap':
      element = el('div', 'ctl bitmap');
      drawn.canvas = el('canvas', '', element);
      break;
    case 'push':
      element = el('div', 'ctl push');
      element.setAttribute('role', 'button');
      clickable(win, drawn, element);
      break;
    case 'radio':
      element = el('div', 'ctl radio');
      element.setAttribute('role', 'radio');
      el('span', 'knob', element);
      drawn.label = el('span', 'label', element);
      clickable(win, drawn, element);
      break;
    case 'edit':
      element = el('input', 'ctl edit');
      element.type = 'text';
      element.spellcheck = false;
      element.autocomplete = 'off';
      editable(win, drawn, element);
      break;
    case 'spinner':
      element = el('div', 'ctl spinner');
      element.setAttribute('role', 'spinbutton');
      el('div', 'arrow up', element);
      el('div', 'arrow down', element);
      draggable(win, drawn, element);
      break;
    default:
      element = el('div', 'ctl other');
      break;
  }
  element.dataset.id = control.id;
  element.dataset.class = control.class;
  drawn.element = element;
  return drawn;
}

function updateControl(win, drawn, control) {
  drawn.control = control;
  const element = drawn.element;
  const [x, y, width, height] = control.pixels;
  element.hidden = !control.visible;
  element.classList.toggle('disabled', !control.enabled);
  element.classList.toggle('focused', control.focused && win.front);
  element.dataset.enabled = control.enabled;
  element.setAttribute('aria-disabled', String(!control.enabled));
  element.tabIndex = control.style & WS_TABSTOP && control.enabled && win.front ? 0 : -1;
  if (control.id !== IDC_STATIC) element.id = `dlg${win.handle}-${control.id}`;
  const fontPx = parseFloat(win.element.style.fontSize) || 11;
  let top = y;
  let boxHeight = height;
  switch (drawn.kind) {
    case 'groupbox': {
      // The frame runs through the middle of the caption's line.
      const half = Math.round(fontPx / 2);
      top = y + half;
      boxHeight = height - half;
      drawn.label.textContent = control.text;
      drawn.label.hidden = control.text === '';
      break;
    }
    case 'static':
      element.textContent = control.text;
      element.classList.toggle('center', (control.style & SS_TYPEMASK) === SS_CENTER);
      element.classList.toggle('right', (control.style & SS_TYPEMASK) === SS_RIGHT);
      break;
    case 'bitmap':
      drawBitmap(drawn, control.bitmap);
      break;
    case 'push':
      element.textContent = control.text;
      element.classList.toggle('default', (control.style & BS_TYPEMASK) === BS_DEFPUSHBUTTON);
      break;
    case 'radio':
      drawn.label.textContent = control.text;
      element.classList.toggle('checked', control.checked === 1);
      element.setAttribute('aria-checked', String(control.checked === 1));
      break;
    case 'edit':
      element.disabled = !control.enabled || !win.front;
      if (!drawn.dirty) element.value = control.text;
      break;
    case 'spinner':
      if (control.spinner) {
        element.classList.toggle('key', control.spinner.key);
        element.setAttribute('aria-valuenow', control.spinner.value);
        element.setAttribute('aria-valuemin', control.spinner.min);
        element.setAttribute('aria-valuemax', control.spinner.max);
        element.dataset.value = control.spinner.value;
      }
      break;
    default:
      break;
  }
  element.style.left = `${x}px`;
  element.style.top = `${top}px`;
  if (drawn.kind !== 'bitmap') {
    element.style.width = `${width}px`;
    element.style.height = `${boxHeight}px`;
  }
}

// A static bitmap shows its image at the image's own size, from the
// control's top left corner, as the platform's bitmap statics do.
function drawBitmap(drawn, bitmap) {
  if (!bitmap || !bitmap.pixels || drawn.drawnBitmap === bitmap.pixels) return;
  drawn.drawnBitmap = bitmap.pixels;
  const canvas = drawn.canvas;
  canvas.width = bitmap.width;
  canvas.height = bitmap.height;
  const context = canvas.getContext('2d');
  const image = context.createImageData(bitmap.width, bitmap.height);
  const indices = atob(bitmap.pixels);
  const palette = bitmap.palette || '';
  for (let i = 0; i < indices.length; ++i) {
    const entry = indices.charCodeAt(i) * 6;
    const colour = parseInt(palette.substr(entry, 6) || '000000', 16);
    image.data[4 * i] = (colour >> 16) & 0xff;
    image.data[4 * i + 1] = (colour >> 8) & 0xff;
    image.data[4 * i + 2] = colour & 0xff;
    image.data[4 * i + 3] = 255;
  }
  context.putImageData(image, 0, 0);
}

// --- Input ------------------------------------------------------------------

function usable(win, drawn) {
  return win.front && drawn.control.enabled;
}

// Buttons: a left button released over the control it went down on.
function clickable(win, drawn, element) {
  element.addEventListener('pointerdown', (event) => {
    if (event.button !== 0 || !usable(win, drawn)) return;
    element.setPointerCapture(event.pointerId);
    element.classList.add('down');
  });
  element.addEventListener('pointerup', (event) => {
    if (!element.classList.contains('down')) return;
    element.classList.remove('down');
    const box = element.getBoundingClientRect();
    const inside = event.clientX >= box.left && event.clientX < box.right &&
        event.clientY >= box.top && event.clientY < box.bottom;
    if (inside && usable(win, drawn)) act(win.handle, 'click', {id: drawn.id});
  });
  element.addEventListener('keydown', (event) => {
    if ((event.key === ' ' || event.key === 'Enter') && usable(win, drawn)) {
      event.preventDefault();
      act(win.handle, 'click', {id: drawn.id});
    }
  });
}

// Custom edits: Enter (or leaving a changed edit) makes the entry.
function editable(win, drawn, element) {
  const commit = () => {
    if (!drawn.dirty) return;
    drawn.dirty = false;
    if (usable(win, drawn)) act(win.handle, 'type', {id: drawn.id, text: element.value});
  };
  element.addEventListener('input', () => {
    drawn.dirty = true;
  });
  element.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      drawn.dirty = true;
      commit();
    } else if (event.key === 'Escape') {
      event.preventDefault();
      event.stopPropagation();
      drawn.dirty = false;
      element.value = drawn.control.text;
    }
  });
  element.addEventListener('blur', commit);
}

// Spinners: press, drag by pixels upward from the press, release. The
// right button during a drag, or Escape, cancels it. A click without a
// drag steps once, up or down by the half it was on.
function draggable(win, drawn, element) {
  element.addEventListener('contextmenu', (event) => event.preventDefault());
  element.addEventListener('pointerdown', (event) => {
    if (studio.drag) {
      if (event.button === 2) endDrag(false);
      return;
    }
    if (event.button !== 0 || !usable(win, drawn)) return;
    event.preventDefault();
    element.setPointerCapture(event.pointerId);
    const box = element.getBoundingClientRect();
    studio.drag = {
      win, drawn, element, startY: event.clientY, pixels: 0, moved: false,
      step: event.clientY < box.top + box.height / 2 ? 1 : -1,
    };
    element.classList.add('dragging');
    act(win.handle, 'press', {id: drawn.id});
  });
  element.addEventListener('pointermove', (event) => {
    const drag = studio.drag;
    if (!drag || drag.element !== element) return;
    if (event.buttons & 2) {
      endDrag(false);
      return;
    }
    const pixels = Math.round(drag.startY - event.clientY);
    if (pixels === drag.pixels) return;
    drag.pixels = pixels;
    drag.moved = true;
    act(win.handle, 'drag', {id: drawn.id, pixels});
  });
  element.addEventListener('pointerup', (event) => {
    if (event.button === 0 && studio.drag && studio.drag.element === element) endDrag(true);
  });
  element.addEventListener('lostpointercapture', () => {
    if (studio.drag && studio.drag.element === element) endDrag(true);
  });
}

function endDrag(accept) {
  const drag = studio.drag;
  if (!drag) return;
  studio.drag = null;
  drag.element.classList.remove('dragging');
  if (accept && !drag.moved) act(drag.win.handle, 'drag', {id: drag.drawn.id, pixels: drag.step});
  act(drag.win.handle, 'release', {id: drag.drawn.id, accept});
}

document.addEventListener('keydown', (event) => {
  if (viewerKey(event)) return;
  if (event.key !== 'Escape' || !studio.state) return;
  if (studio.drag) {
    endDrag(false);
    return;
  }
  if (studio.state.pick) {
    answerPick(true);
    return;
  }
  const front = frontHandle(studio.state);
  if (front) act(front, 'escape');
});

for (const button of document.querySelectorAll('[data-command]')) {
  button.addEventListener('click', () => send({type: 'host', command: button.dataset.command}));
}

window.addEventListener('resize', () => {
  if (studio.state) placeWindows(studio.state);
  placeStage();
});

// --- The host's pick dialog ---------------------------------------------------

function drawPick(pick) {
  if (!pick) {
    if (studio.pick) studio.pick.element.remove();
    studio.pick = null;
    return;
  }
  if (studio.pick && studio.pick.run === pick.run) return;
  if (studio.pick) studio.pick.element.remove();
  const element = el('div', 'win pick', document.getElementById('desk'));
  element.setAttribute('role', 'dialog');
  element.dataset.caption = pick.title;
  element.dataset.run = pick.run;
  const caption = el('div', 'caption', element);
  el('span', 'caption-text', caption).textContent = pick.title;
  const list = el('div', 'list', element);
  list.setAttribute('role', 'listbox');
  const buttons = el('div', 'buttons', element);
  const ok = el('div', 'ctl push default', buttons);
  ok.textContent = pick.button;
  ok.setAttribute('role', 'button');
  ok.dataset.pick = 'ok';
  const cancel = el('div', 'ctl push', buttons);
  cancel.textContent = 'Cancel';
  cancel.setAttribute('role', 'button');
  cancel.dataset.pick = 'cancel';
  studio.pick = {run: pick.run, element, selected: new Set(), pick, ok};
  if (pick.offered.length === 0) el('div', 'none', list).textContent = 'The scene has no objects.';
  for (const name of pick.offered) {
    const item = el('div', 'item', list);
    item.textContent = name;
    item.setAttribute('role', 'option');
    item.addEventListener('click', (event) => selectPick(item, name, event.ctrlKey || event.metaKey));
    item.addEventListener('dblclick', () => {
      selectPick(item, name, false);
      answerPick(false);
    });
  }
  ok.addEventListener('click', () => answerPick(false));
  cancel.addEventListener('click', () => answerPick(true));
  updatePickButtons();
}

function selectPick(item, name, add) {
  const open = studio.pick;
  if (!add || open.pick.single) {
    open.selected.clear();
    for (const other of open.element.querySelectorAll('.item')) other.classList.remove('selected');
  }
  open.selected.add(name);
  item.classList.add('selected');
  item.setAttribute('aria-selected', 'true');
  updatePickButtons();
}

function updatePickButtons() {
  const open = studio.pick;
  const can = open.selected.size > 0 || open.pick.allowEmpty;
  open.ok.classList.toggle('disabled', !can);
  open.ok.setAttribute('aria-disabled', String(!can));
}

function answerPick(cancel) {
  const open = studio.pick;
  if (!open) return;
  if (cancel) {
    send({type: 'pick', run: open.run, cancel: true});
    return;
  }
  if (open.selected.size === 0 && !open.pick.allowEmpty) return;
  // In the order the dialog lists them.
  const names = open.pick.offered.filter((name) => open.selected.has(name));
  send({type: 'pick', run: open.run, names});
}

// --- The filter as the host holds it ------------------------------------------

function number(value) {
  if (typeof value !== 'number') return '–';
  return Number.isInteger(value) ? value.toFixed(1) : String(parseFloat(value.toFixed(3)));
}

function setFact(id, text) {
  const cell = document.getElementById(id);
  if (cell.textContent !== text) {
    const first = !cell.dataset.shown;
    cell.dataset.shown = 'yes';
    cell.textContent = text;
    if (first) return;
    cell.classList.add('changed');
    clearTimeout(cell.fade);
    cell.fade = setTimeout(() => cell.classList.remove('changed'), 1200);
  }
}

function drawHost(host) {
  const record = host.record || {};
  setFact('record-sourceMode', record.sourceMode in SOURCE_NAMES
    ? `${SOURCE_NAMES[record.sourceMode]} (${record.sourceMode})`
    : String(record.sourceMode ?? '–'));
  setFact('record-materialEffectsId', String(record.materialEffectsId ?? '–'));
  setFact('record-objectChannelId', String(record.objectChannelId ?? '–'));
  setFact('record-focalObjectName', record.focalObjectName ? record.focalObjectName : '(none)');
  const focus = (host.studio && host.studio.focus) || {};
  setFact('focus-here', focus.error ? 'none' : typeof focus.depth === 'number'
    ? `depth ${number(focus.depth)}${focus.node === 'Focus' && focus.keyHere ? ' (keyed here)' : ''}` : '–');
  setFact('record-blurRange', number(record.blurRange));
  setFact('record-blurSize', number(record.blurSize));

  const ticks = host.ticksPerFrame || 160;
  document.getElementById('host-time').textContent =
    host.time === undefined ? '' : `at frame ${host.time / ticks} (time ${host.time})`;
  const rows = document.getElementById('tracks');
  rows.replaceChildren();
  for (const [name, keys] of Object.entries(host.tracks || {})) {
    const row = el('tr', '', rows);
    el('th', '', row).textContent = name;
    const cell = el('td', '', row);
    cell.id = `track-${name}`;
    cell.textContent = keys.length
      ? keys.map(([time, value]) => `${number(value)} @ ${time / ticks}`).join(', ')
      : 'no keys';
  }
  if (!rows.children.length) {
    el('td', 'muted', el('tr', '', rows)).textContent = 'The filter has no tracks yet.';
  }

  const undo = host.undo || {};
  setFact('undo-state', undo.steps
    ? `${undo.steps} step${undo.steps === 1 ? '' : 's'}, last “${undo.name}”${undo.holding ? ' (a hold is open)' : ''}`
    : undo.holding ? 'a hold is open' : 'nothing to undo');
  document.getElementById('undo').disabled = !undo.steps || undo.holding;
  document.getElementById('redo').disabled = !undo.redoSteps || undo.holding;
  const last = host.lastDialog;
  setFact('last-dialog', last ? `${last.dialog === 'about' ? 'About box' : 'Control dialog'}: ${last.result}` : '–');
  setFact('scene-objects', (host.objects || []).join(', ') || '(empty)');
  drawKeys(host);
}

// --- Progress -------------------------------------------------------------------

function showProgress(message) {
  const bar = document.getElementById('progress');
  if (message.done) {
    bar.hidden = true;
    return;
  }
  bar.hidden = false;
  const fill = document.getElementById('progress-fill');
  const text = document.getElementById('progress-text');
  if (message.stage === 'reading') {
    fill.style.width = '0%';
    text.textContent = `Reading frame ${message.frame}…`;
    return;
  }
  const passes = Math.max(1, message.passes || 1);
  const rows = message.last > 0 ? Math.min(1, Math.max(0, message.row / message.last)) : 0;
  const fraction = Math.min(1, ((message.pass || 0) + rows) / passes);
  fill.style.width = `${(fraction * 100).toFixed(1)}%`;
  text.textContent = `Filtering frame ${message.frame}: pass ${(message.pass || 0) + 1} of ${passes} · ${Math.round(fraction * 100)} %`;
}

// --- The frame's images -----------------------------------------------------------

// A binary message: "KSI1", the header's length (little endian), the JSON
// header, then the RGBA pixels.
function receiveImage(buffer) {
  const bytes = new Uint8Array(buffer);
  if (bytes.length < 8 || String.fromCharCode(...bytes.subarray(0, 4)) !== IMAGE_MAGIC) return;
  const length = new DataView(buffer).getUint32(4, true);
  let header;
  try {
    header = JSON.parse(new TextDecoder().decode(bytes.subarray(8, 8 + length)));
  } catch {
    setStatus('The studio sent an unreadable image.', 'error');
    return;
  }
  const pixels = bytes.subarray(8 + length);
  if (pixels.length !== header.width * header.height * 4) return;
  // Shown as the review image holds its colour: alpha is in the readout,
  // not composited, so that what is shown is the file's colour exactly.
  // The bytes as they came are kept beside what is drawn.
  const data = new ImageData(header.width, header.height);
  data.data.set(pixels);
  for (let i = 3; i < data.data.length; i += 4) data.data[i] = 255;
  studio.images[header.kind] = {...header, data, bytes: pixels};
  drawImage();
  // The readout under a pointer that stays is about the new preview now.
  if (header.kind === 'result' && studio.look.wanted) {
    studio.look.last = null;
    lookAt(studio.look.wanted);
  }
}

// What the viewer shows: the result of the current frame (B) or its
// original (A); the original while the result is not there.
function chosenImage() {
  const frame = currentFrame();
  const original = studio.images.original;
  const result = studio.images.result;
  const preview = previewState();
  const resultShown = result && result.frame === frame && preview.status !== 'unfocused' &&
      preview.status !== 'failed';
  if (studio.show === 'result' && resultShown) return {kind: 'result', image: result};
  if (original && original.frame === frame) return {kind: 'original', image: original};
  return null;
}

function previewState() {
  const s = studio.state && studio.state.host && studio.state.host.studio;
  return (s && s.preview) || {};
}

function currentFrame() {
  const s = studio.state && studio.state.host && studio.state.host.studio;
  return s ? s.frame : null;
}

function drawImage() {
  const canvas = document.getElementById('image');
  const chosen = chosenImage();
  const shown = document.getElementById('shown');
  if (!chosen) {
    shown.textContent = '–';
    return;
  }
  const {kind, image} = chosen;
  const key = `${kind}:${image.frame}:${image.version || 0}`;
  if (studio.drawn !== key) {
    const resized = canvas.width !== image.width || canvas.height !== image.height;
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image.data, 0, 0);
    studio.drawn = key;
    canvas.dataset.kind = kind;
    canvas.dataset.frame = image.frame;
    canvas.dataset.version = image.version || 0;
    if (resized) studio.view.fit = true;
  }
  const stale = kind === 'result' && previewState().status === 'pending';
  const wanted = studio.show === 'result' && kind === 'original' ? ' (no preview yet)' : '';
  shown.textContent = `${kind === 'result' ? 'B · Result' : 'A · Original'}${wanted}, frame ${image.frame}${stale ? ' · updating' : ''}`;
  shown.dataset.kind = kind;
  drawOverlay();
  placeStage();
}

function drawOverlay() {
  const overlay = document.getElementById('overlay');
  const map = studio.images.focusMap;
  const show = studio.overlay && map && map.frame === currentFrame() &&
      previewState().status !== 'unfocused';
  overlay.hidden = !show;
  if (!show) return;
  const key = `${map.frame}:${map.version}`;
  if (overlay.dataset.key !== key) {
    overlay.width = map.width;
    overlay.height = map.height;
    overlay.getContext('2d').putImageData(map.data, 0, 0);
    overlay.dataset.key = key;
  }
}

// --- The view: fit, 1:1, zoom and pan ---------------------------------------------

function imageSize() {
  const canvas = document.getElementById('image');
  return [canvas.width, canvas.height];
}

function placeStage() {
  const viewport = document.getElementById('viewport');
  const stage = document.getElementById('stage');
  const [w, h] = imageSize();
  const vw = viewport.clientWidth;
  const vh = viewport.clientHeight;
  const view = studio.view;
  if (view.fit && w > 0 && h > 0) {
    view.scale = Math.min((vw - 32) / w, (vh - 32) / h);
    view.x = (vw - w * view.scale) / 2;
    view.y = (vh - h * view.scale) / 2;
  }
  // At whole-number scales the image's pixels fall on the screen's.
  if (Number.isInteger(view.scale)) {
    view.x = Math.round(view.x);
    view.y = Math.round(view.y);
  }
  stage.style.width = `${w}px`;
  stage.style.height = `${h}px`;
  stage.style.transform = `translate(${view.x}px, ${view.y}px) scale(${view.scale})`;
  stage.classList.toggle('pixels', view.scale >= 1);
  const percent = Math.round(view.scale * 1000) / 10;
  document.getElementById('zoom').textContent = view.fit ? `Fit · ${percent} %` : `${percent} %`;
  document.getElementById('view-fit').classList.toggle('on', view.fit);
  document.getElementById('view-one').classList.toggle('on', !view.fit && view.scale === 1);
}

function fitView() {
  studio.view.fit = true;
  placeStage();
}

// Zooms by `factor` about the viewport point (px, py); the centre without.
function zoomView(factor, px, py) {
  const viewport = document.getElementById('viewport');
  const view = studio.view;
  const cx = px ?? viewport.clientWidth / 2;
  const cy = py ?? viewport.clientHeight / 2;
  let scale = Math.min(ZOOM_MAX, Math.max(ZOOM_MIN, view.scale * factor));
  // Steps through 1:1 land on it.
  if ((view.scale - 1) * (scale - 1) < 0) scale = 1;
  view.x = cx - ((cx - view.x) * scale) / view.scale;
  view.y = cy - ((cy - view.y) * scale) / view.scale;
  view.scale = scale;
  view.fit = false;
  placeStage();
}

function oneToOne() {
  const viewport = document.getElementById('viewport');
  const [w, h] = imageSize();
  const view = studio.view;
  view.fit = false;
  view.scale = 1;
  view.x = Math.round((viewport.clientWidth - w) / 2);
  view.y = Math.round((viewport.clientHeight - h) / 2);
  placeStage();
}

// The image pixel under a viewport point, or null outside the image.
function pixelAt(clientX, clientY) {
  const box = document.getElementById('viewport').getBoundingClientRect();
  const view = studio.view;
  const [w, h] = imageSize();
  const x = Math.floor((clientX - box.left - view.x) / view.scale);
  const y = Math.floor((clientY - box.top - view.y) / view.scale);
  return x >= 0 && y >= 0 && x < w && y < h ? {x, y} : null;
}

function viewerKey(event) {
  const target = event.target;
  if (target && (target.tagName === 'INPUT' && target.type === 'text')) return false;
  if (event.ctrlKey || event.metaKey || event.altKey) return false;
  switch (event.key) {
    case 'f': case 'F': fitView(); return true;
    case '1': oneToOne(); return true;
    case '+': case '=': zoomView(ZOOM_STEP); return true;
    case '-': zoomView(1 / ZOOM_STEP); return true;
    case 'a': case 'A': showKind('original'); return true;
    case 'b': case 'B': showKind('result'); return true;
    case 'm': case 'M': toggleMap(); return true;
    case 'ArrowLeft': if (target && target.id === 'frame-slider') return false; stepFrame(-1); return true;
    case 'ArrowRight': if (target && target.id === 'frame-slider') return false; stepFrame(1); return true;
    case 'Home': goToIndex(0); return true;
    case 'End': goToIndex(studio.frames.length - 1); return true;
    default: return false;
  }
}

function showKind(kind) {
  studio.show = kind;
  document.getElementById('show-original').classList.toggle('on', kind === 'original');
  document.getElementById('show-result').classList.toggle('on', kind === 'result');
  drawImage();
}

function toggleMap() {
  studio.overlay = !studio.overlay;
  const button = document.getElementById('toggle-map');
  button.classList.toggle('on', studio.overlay);
  button.setAttribute('aria-pressed', String(studio.overlay));
  send({type: 'host', command: 'overlay', on: studio.overlay});
  drawOverlay();
}

(function viewerInput() {
  const viewport = document.getElementById('viewport');
  viewport.addEventListener('wheel', (event) => {
    event.preventDefault();
    const box = viewport.getBoundingClientRect();
    zoomView(event.deltaY < 0 ? ZOOM_STEP : 1 / ZOOM_STEP, event.clientX - box.left,
      event.clientY - box.top);
  }, {passive: false});
  viewport.addEventListener('pointerdown', (event) => {
    if (event.button !== 0 && event.button !== 1) return;
    event.preventDefault();
    viewport.focus();
    viewport.setPointerCapture(event.pointerId);
    studio.pan = {x: event.clientX, y: event.clientY, viewX: studio.view.x, viewY: studio.view.y,
      moved: event.button === 1, object: event.ctrlKey || event.metaKey};
  });
  viewport.addEventListener('pointermove', (event) => {
    const pan = studio.pan;
    if (pan) {
      const dx = event.clientX - pan.x;
      const dy = event.clientY - pan.y;
      if (!pan.moved && Math.hypot(dx, dy) > CLICK_SLOP) pan.moved = true;
      if (pan.moved) {
        studio.view.fit = false;
        studio.view.x = pan.viewX + dx;
        studio.view.y = pan.viewY + dy;
        viewport.classList.add('panning');
        placeStage();
      }
    }
    lookAt(pixelAt(event.clientX, event.clientY));
  });
  viewport.addEventListener('pointerup', (event) => {
    const pan = studio.pan;
    studio.pan = null;
    viewport.classList.remove('panning');
    if (!pan || pan.moved || event.button !== 0) return;
    const pixel = pixelAt(event.clientX, event.clientY);
    if (pixel) focusAt(pixel, pan.object || event.ctrlKey || event.metaKey);
  });
  viewport.addEventListener('pointerleave', () => {
    if (!studio.pan) lookAt(null);
  });
  document.getElementById('view-fit').addEventListener('click', fitView);
  document.getElementById('view-one').addEventListener('click', oneToOne);
  document.getElementById('show-original').addEventListener('click', () => showKind('original'));
  document.getElementById('show-result').addEventListener('click', () => showKind('result'));
  document.getElementById('toggle-map').addEventListener('click', toggleMap);
})();

function focusAt(pixel, object) {
  send({type: 'host', command: 'focusAt', x: pixel.x, y: pixel.y, object});
  setStatus(object ? `Focusing on the object at ${pixel.x}, ${pixel.y}…`
    : `Focusing on the depth at ${pixel.x}, ${pixel.y}…`);
}

// --- The readout under the pointer ---------------------------------------------------

// One question at a time; the latest pixel wins.
function lookAt(pixel) {
  const look = studio.look;
  look.wanted = pixel;
  if (!pixel) {
    look.last = null;
    showLook(null);
    return;
  }
  if (look.pending) return;
  if (look.last && look.last.x === pixel.x && look.last.y === pixel.y) return;
  look.last = pixel;
  look.pending = send({type: 'look', x: pixel.x, y: pixel.y}) || 0;
}

function fixed(value, digits = 4) {
  return typeof value === 'number' ? String(parseFloat(value.toFixed(digits))) : '–';
}

function showLook(answer) {
  const readout = document.getElementById('readout');
  const look = studio.look;
  if (answer) {
    if (answer.seq === look.pending) look.pending = 0;
    if (look.wanted && (look.wanted.x !== answer.x || look.wanted.y !== answer.y)) {
      lookAt(look.wanted);
    }
  }
  if (!answer || !answer.inside || !look.wanted) {
    readout.textContent = '–';
    return;
  }
  const values = studio.show === 'result' && answer.result ? answer.result : answer.original;
  const parts = [
    `x ${answer.pixel[0]}  y ${answer.pixel[1]}`,
    `depth ${answer.depth === null ? 'none (background)' : fixed(answer.depth)}`,
    `radius ${answer.radius === null ? '–' : answer.radius}`,
    `object ${answer.objectId ?? '–'}`,
    `material ${answer.materialId ?? '–'}`,
    `${studio.show === 'result' && answer.result ? 'B' : 'A'} ${values.map((v) => fixed(v)).join(' ')}`,
  ];
  readout.textContent = parts.join('  ·  ');
}

// --- Frames, keys and the timeline --------------------------------------------------

function frameIndex() {
  return studio.frames.indexOf(currentFrame());
}

// The frame the slider asks for goes out once the last one was handled.
function askFrame() {
  const asked = studio.frameAsked;
  if (asked.pending || asked.wanted === null) return;
  if (asked.wanted === currentFrame()) {
    asked.wanted = null;
    return;
  }
  asked.pending = send({type: 'host', command: 'frame', frame: asked.wanted}) || 0;
  asked.wanted = null;
}

function goToIndex(index) {
  if (!studio.frames.length) return;
  const clamped = Math.min(studio.frames.length - 1, Math.max(0, index));
  studio.frameAsked.wanted = studio.frames[clamped];
  document.getElementById('frame-slider').value = clamped;
  askFrame();
}

function stepFrame(step) {
  const index = frameIndex();
  if (index >= 0) goToIndex(index + step);
}

function drawTimeline() {
  const slider = document.getElementById('frame-slider');
  const count = studio.frames.length;
  slider.max = Math.max(0, count - 1);
  slider.disabled = count < 2;
  for (const id of ['frame-first', 'frame-prev', 'frame-next', 'frame-last']) {
    document.getElementById(id).disabled = count < 2;
  }
  const index = frameIndex();
  if (index >= 0 && !studio.frameAsked.pending && studio.frameAsked.wanted === null) {
    slider.value = index;
  }
  const frame = currentFrame();
  const first = studio.frames[0];
  const last = studio.frames[count - 1];
  document.getElementById('frame-label').textContent = frame === null ? 'Frame –'
    : count > 1 ? `Frame ${frame}  (${first}–${last})` : `Frame ${frame}`;
  if (studio.state) drawKeys(studio.state.host || {});
}

// Each track's keys as marks along the slider, at their frames.
function drawKeys(host) {
  const keys = document.getElementById('keys');
  keys.replaceChildren();
  const count = studio.frames.length;
  if (count < 1) return;
  const ticks = host.ticksPerFrame || 160;
  const first = studio.frames[0];
  const last = studio.frames[count - 1];
  const place = (frame) => (last > first ? (frame - first) / (last - first) : 0.5);
  const mark = (frame, kind, text) => {
    const at = place(frame);
    if (at < 0 || at > 1) return;
    const m = el('i', `key k-${kind}`, keys);
    m.style.left = `calc(${(at * 100).toFixed(3)}% )`;
    m.title = text;
    m.dataset.frame = frame;
  };
  const tracks = host.tracks || {};
  for (const [time, value] of tracks.Range || []) mark(time / ticks, 'range', `Range ${number(value)} at frame ${time / ticks}`);
  for (const [time, value] of tracks.Size || []) mark(time / ticks, 'size', `Size ${number(value)} at frame ${time / ticks}`);
  const focus = host.studio && host.studio.focus;
  for (const [frame, depth] of (focus && focus.keys) || []) mark(frame, 'focus', `Focus depth ${number(depth)} at frame ${frame}`);
}

(function timelineInput() {
  const slider = document.getElementById('frame-slider');
  slider.addEventListener('input', () => goToIndex(Number(slider.value)));
  document.getElementById('frame-first').addEventListener('click', () => goToIndex(0));
  document.getElementById('frame-prev').addEventListener('click', () => stepFrame(-1));
  document.getElementById('frame-next').addEventListener('click', () => stepFrame(1));
  document.getElementById('frame-last').addEventListener('click', () => goToIndex(studio.frames.length - 1));
  document.getElementById('copy').addEventListener('click', async () => {
    const text = document.getElementById('command').textContent;
    try {
      await navigator.clipboard.writeText(text);
      setStatus('The command is on the clipboard.');
    } catch {
      setStatus('The browser keeps the clipboard closed: select the command and copy it.', 'refused');
    }
  });
})();

// --- The studio's part of the state ---------------------------------------------------

function drawStudio(s) {
  if (!s) return;
  drawTimeline();
  const preview = s.preview || {};
  const note = document.getElementById('viewer-note');
  const message = preview.status === 'unfocused' || preview.status === 'failed' ? preview.message : '';
  note.hidden = !message;
  note.textContent = message || '';
  note.dataset.kind = preview.status || '';
  const progress = document.getElementById('progress');
  if (preview.status === 'pending' && progress.hidden) {
    progress.hidden = false;
    document.getElementById('progress-fill').style.width = '0%';
    document.getElementById('progress-text').textContent = 'Rendering…';
  } else if (preview.status !== 'pending') {
    progress.hidden = true;
  }
  let text = '–';
  switch (preview.status) {
    case 'done':
      text = `frame ${s.frame}: range ${number(preview.range)}, size ${number(preview.size)}, ${preview.source}; ${preview.passes} passes, ${Math.round(preview.seconds * 1000)} ms`;
      break;
    case 'pending':
      text = 'rendering…';
      break;
    case 'unfocused':
      text = 'no focus';
      break;
    case 'failed':
      text = 'failed';
      break;
    default:
      break;
  }
  setFact('preview-state', text);
  const focus = s.focus || {};
  const deleteKey = document.getElementById('delete-focus-key');
  deleteKey.disabled = !focus.keyHere || !focus.keys || focus.keys.length < 2;
  const hand = s.handOff || {};
  document.getElementById('command').textContent = hand.command || '–';
  const save = document.getElementById('save');
  save.disabled = !hand.file;
  save.title = hand.file ? `Write the settings to ${hand.file}`
    : 'Start the studio with --save FILE to write a settings file';
  document.getElementById('save-state').textContent = !hand.file
    ? 'no --save file: the command carries the settings'
    : !hand.saved ? `not saved to ${hand.file} yet`
      : hand.current ? `saved to ${hand.file}` : `changed since saved to ${hand.file}`;
  document.getElementById('save-state').dataset.current = String(!!hand.current);
  drawImage();
}

connect();
