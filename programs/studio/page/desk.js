// desk.js: the module's open dialogs, docked at their real size: every
// control at its place in pixels, with its text, style, state and tab
// order, from the window trees of the state; and the person's input on
// them sent back as the studio's actions (click, type and Enter, spinner
// press, drag and release, Escape, the close box). Nothing here decides
// what a control does: a click on "Object Channel" is sent, and the next
// state shows what the module made of it.
import { IDC_STATIC } from './control_ids.js';
import { el, ui } from './elements.js';
import { act } from './link.js';
import { answerPick, drawPick, pickElement } from './pick.js';
import { frontHandle } from './server_state.js';

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
// The window frame around a dialog's client area: border and padding on
// each side, and the caption bar.
const FRAME = 4;
const CAPTION = 19;

const windows = new Map();  // dialog handle -> drawn window
let drag = null;            // the spinner being dragged

export function drawDesk(state) {
  const desk = ui.desk;
  const front = frontHandle(state);
  const seen = new Set();
  for (const dialog of state.dialogs) {
    seen.add(dialog.handle);
    let win = windows.get(dialog.handle);
    if (!win) {
      win = makeWindow(dialog);
      windows.set(dialog.handle, win);
      desk.appendChild(win.element);
    }
    updateWindow(win, dialog, dialog.handle === front);
  }
  for (const [handle, win] of windows) {
    if (!seen.has(handle)) {
      win.element.remove();
      windows.delete(handle);
    }
  }
  drawPick(state.pick);
  placeWindows(state);
  const empty = state.dialogs.length === 0 && !state.pick;
  ui.deskEmpty.hidden = !empty;
  if (empty) describeClosed(state.host && state.host.lastDialog);
}

function describeClosed(last) {
  let text = 'No dialog is open.';
  if (last) {
    const name = last.dialog === 'about' ? 'The about box' : 'The control dialog';
    const how = last.result === 1 ? 'OK' : last.result === 0 ? 'Cancel' : `result ${last.result}`;
    text = `${name} was closed with ${how}.`;
  }
  ui.deskEmptyText.textContent = text;
}

// The outermost dialog is centred on the desk; each one above it keeps
// the offset the platform placed it at (centred over its owner), in the
// outermost dialog's units.
export function placeWindows(state) {
  const desk = ui.desk;
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
      const win = windows.get(dialog.handle);
      const dx = Math.round(((dialog.placed[0] - outer.placed[0]) * bx) / 4);
      const dy = Math.round(((dialog.placed[1] - outer.placed[1]) * by) / 8);
      win.element.style.left = `${left + dx}px`;
      win.element.style.top = `${top + dy}px`;
    }
    const front = state.dialogs[state.dialogs.length - 1];
    const [fw, fh] = outerSize(front);
    const frontWin = windows.get(front.handle).element;
    originX = frontWin.offsetLeft + fw / 2;
    originY = frontWin.offsetTop + fh / 2;
  }
  const pick = pickElement();
  if (pick) {
    const element = pick;
    element.style.left = `${Math.max(8, Math.round(originX - element.offsetWidth / 2))}px`;
    element.style.top = `${Math.max(8, Math.round(originY - element.offsetHeight / 2))}px`;
  }
}

function outerSize(dialog) {
  return [dialog.pixels[2] + 2 * FRAME, dialog.pixels[3] + 2 * FRAME + CAPTION];
}

// --- Dialog windows -----------------------------------------------------------

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
    if (drag) {
      if (event.button === 2) endDrag(false);
      return;
    }
    if (event.button !== 0 || !usable(win, drawn)) return;
    event.preventDefault();
    element.setPointerCapture(event.pointerId);
    const box = element.getBoundingClientRect();
    drag = {
      win, drawn, element, startY: event.clientY, pixels: 0, moved: false,
      step: event.clientY < box.top + box.height / 2 ? 1 : -1,
    };
    element.classList.add('dragging');
    act(win.handle, 'press', {id: drawn.id});
  });
  element.addEventListener('pointermove', (event) => {
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
    if (event.button === 0 && drag && drag.element === element) endDrag(true);
  });
  element.addEventListener('lostpointercapture', () => {
    if (drag && drag.element === element) endDrag(true);
  });
}

function endDrag(accept) {
  const ended = drag;
  if (!ended) return;
  drag = null;
  ended.element.classList.remove('dragging');
  if (accept && !ended.moved) act(ended.win.handle, 'drag', {id: ended.drawn.id, pixels: ended.step});
  act(ended.win.handle, 'release', {id: ended.drawn.id, accept});
}

// Escape: ends a spinner drag as cancelled, cancels the pick dialog, or is
// the dialog in front's Escape.
export function escapeKey(state) {
  if (drag) {
    endDrag(false);
    return;
  }
  if (state.pick) {
    answerPick(true);
    return;
  }
  const front = frontHandle(state);
  if (front) act(front, 'escape');
}
