// viewer.js: the frame as the studio sends it: the 8-bit pixels of the
// review PNG `kestrion render` writes of the frame, the original (A) or the
// preview through the module (B), drawn into a canvas one pixel of the
// image a pixel of the canvas, and scaled only by the view (fit, or 1:1
// and any zoom); the focus map over it while the studio has it on. A click
// asks the studio to focus there; the readout asks what lies under the
// pointer.
import { setStatus, ui } from './elements.js';
import { hostCommand, send } from './link.js';
import { currentFrame, previewState, studioPart } from './server_state.js';

const IMAGE_MAGIC = 'KSI1';
const ZOOM_STEP = 1.25;
const ZOOM_MIN = 1 / 32;
const ZOOM_MAX = 32;
const CLICK_SLOP = 4;  // pixels a click may move and still be a click

const images = {};   // kind -> {frame, width, height, version, data: ImageData, bytes}
let show = 'result';  // A/B: 'original' or 'result'
const view = {fit: true, scale: 1, x: 0, y: 0};
let drawn = null;     // what the image canvas holds: "kind:frame:version"
let pan = null;       // a press on the viewer: a click or a pan
const look = {pending: 0, wanted: null, last: null};

// What the page's tests and a person at the console may read: the images
// as they came, and the view.
export const viewerInspection = Object.freeze({images, view});

// After each state: the focus map button, the image and its overlay as
// the state says.
export function drawViewer() {
  const on = overlayOn();
  ui.toggleMap.classList.toggle('on', on);
  ui.toggleMap.setAttribute('aria-pressed', String(on));
  drawImage();
}

// The viewer's keys; true when the key was the viewer's.
export function viewerKey(key) {
  switch (key) {
    case 'f': case 'F': fitView(); return true;
    case '1': oneToOne(); return true;
    case '+': case '=': zoomView(ZOOM_STEP); return true;
    case '-': zoomView(1 / ZOOM_STEP); return true;
    case 'a': case 'A': showKind('original'); return true;
    case 'b': case 'B': showKind('result'); return true;
    case 'm': case 'M': toggleMap(); return true;
    default: return false;
  }
}

// A binary message: "KSI1", the header's length (little endian), the JSON
// header, then the RGBA pixels.
export function receiveImage(buffer) {
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
  images[header.kind] = {...header, data, bytes: pixels};
  // A new image of the same preview (the view changed) is drawn too.
  drawn = null;
  drawImage();
  // The readout under a pointer that stays is about the new preview now.
  if (header.kind === 'result' && look.wanted) {
    look.last = null;
    lookAt(look.wanted);
  }
}

// What the viewer shows: the result of the current frame (B) or its
// original (A); the original while the result is not there.
function chosenImage() {
  const frame = currentFrame();
  const original = images.original;
  const result = images.result;
  const preview = previewState();
  const resultShown = result && result.frame === frame && preview.status !== 'unfocused' &&
      preview.status !== 'failed';
  if (show === 'result' && resultShown) return {kind: 'result', image: result};
  if (original && original.frame === frame) return {kind: 'original', image: original};
  return null;
}

export function drawImage() {
  const canvas = ui.image;
  const chosen = chosenImage();
  const shown = ui.shown;
  if (!chosen) {
    shown.textContent = '–';
    return;
  }
  const {kind, image} = chosen;
  const key = `${kind}:${image.frame}:${image.version || 0}`;
  if (drawn !== key) {
    const resized = canvas.width !== image.width || canvas.height !== image.height;
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image.data, 0, 0);
    drawn = key;
    canvas.dataset.kind = kind;
    canvas.dataset.frame = image.frame;
    canvas.dataset.version = image.version || 0;
    if (resized) view.fit = true;
  }
  const stale = kind === 'result' && previewState().status === 'pending';
  const wanted = show === 'result' && kind === 'original' ? ' (no preview yet)' : '';
  shown.textContent = `${kind === 'result' ? 'B · Result' : 'A · Original'}${wanted}, frame ${image.frame}${stale ? ' · updating' : ''}`;
  shown.dataset.kind = kind;
  drawOverlay();
  placeStage();
}

function drawOverlay() {
  const overlay = ui.overlay;
  const map = images.focusMap;
  const shown = overlayOn() && map && map.frame === currentFrame() &&
      previewState().status !== 'unfocused';
  overlay.hidden = !shown;
  if (!shown) return;
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
  const canvas = ui.image;
  return [canvas.width, canvas.height];
}

export function placeStage() {
  const viewport = ui.viewport;
  const stage = ui.stage;
  const [w, h] = imageSize();
  const vw = viewport.clientWidth;
  const vh = viewport.clientHeight;
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
  ui.zoom.textContent = view.fit ? `Fit · ${percent} %` : `${percent} %`;
  ui.viewFit.classList.toggle('on', view.fit);
  ui.viewOne.classList.toggle('on', !view.fit && view.scale === 1);
}

export function fitView() {
  view.fit = true;
  placeStage();
}

// Zooms by `factor` about the viewport point (px, py); the centre without.
export function zoomView(factor, px, py) {
  const viewport = ui.viewport;
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

export function oneToOne() {
  const viewport = ui.viewport;
  const [w, h] = imageSize();
  view.fit = false;
  view.scale = 1;
  view.x = Math.round((viewport.clientWidth - w) / 2);
  view.y = Math.round((viewport.clientHeight - h) / 2);
  placeStage();
}

// The image pixel under a viewport point, or null outside the image.
function pixelAt(clientX, clientY) {
  const box = ui.viewport.getBoundingClientRect();
  const [w, h] = imageSize();
  const x = Math.floor((clientX - box.left - view.x) / view.scale);
  const y = Math.floor((clientY - box.top - view.y) / view.scale);
  return x >= 0 && y >= 0 && x < w && y < h ? {x, y} : null;
}

export function showKind(kind) {
  show = kind;
  ui.showOriginal.classList.toggle('on', kind === 'original');
  ui.showResult.classList.toggle('on', kind === 'result');
  drawImage();
}

// The focus map over the frame is the studio's, as the state says: the
// button asks for the other one, and the state that answers shows it.
export function toggleMap() {
  hostCommand('overlay', {on: !overlayOn()});
}

function overlayOn() {
  const s = studioPart();
  return !!(s && s.overlay);
}

(function viewerInput() {
  const viewport = ui.viewport;
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
    pan = {x: event.clientX, y: event.clientY, viewX: view.x, viewY: view.y,
      moved: event.button === 1, object: event.ctrlKey || event.metaKey};
  });
  viewport.addEventListener('pointermove', (event) => {
    if (pan) {
      const dx = event.clientX - pan.x;
      const dy = event.clientY - pan.y;
      if (!pan.moved && Math.hypot(dx, dy) > CLICK_SLOP) pan.moved = true;
      if (pan.moved) {
        view.fit = false;
        view.x = pan.viewX + dx;
        view.y = pan.viewY + dy;
        viewport.classList.add('panning');
        placeStage();
      }
    }
    lookAt(pixelAt(event.clientX, event.clientY));
  });
  viewport.addEventListener('pointerup', (event) => {
    const press = pan;
    pan = null;
    viewport.classList.remove('panning');
    if (!press || press.moved || event.button !== 0) return;
    const pixel = pixelAt(event.clientX, event.clientY);
    if (pixel) focusAt(pixel, press.object || event.ctrlKey || event.metaKey);
  });
  viewport.addEventListener('pointerleave', () => {
    if (!pan) lookAt(null);
  });
  ui.viewFit.addEventListener('click', fitView);
  ui.viewOne.addEventListener('click', oneToOne);
  ui.showOriginal.addEventListener('click', () => showKind('original'));
  ui.showResult.addEventListener('click', () => showKind('result'));
  ui.toggleMap.addEventListener('click', toggleMap);
})();

function focusAt(pixel, object) {
  if (!hostCommand('focusAt', {x: pixel.x, y: pixel.y, object})) return;
  setStatus(object ? `Focusing on the object at ${pixel.x}, ${pixel.y}…`
    : `Focusing on the depth at ${pixel.x}, ${pixel.y}…`);
}

// --- The readout under the pointer ---------------------------------------------------

// One question at a time; the latest pixel wins.
function lookAt(pixel) {
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

export function showLook(answer) {
  const readout = ui.readout;
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
  const values = show === 'result' && answer.result ? answer.result : answer.original;
  const parts = [
    `x ${answer.pixel[0]}  y ${answer.pixel[1]}`,
    `depth ${answer.depth === null ? 'none (background)' : fixed(answer.depth)}`,
    `radius ${answer.radius === null ? '–' : answer.radius}`,
    `object ${answer.objectId ?? '–'}`,
    `material ${answer.materialId ?? '–'}`,
    `${show === 'result' && answer.result ? 'B' : 'A'} ${values.map((v) => fixed(v)).join(' ')}`,
  ];
  readout.textContent = parts.join('  ·  ');
}

