// elements.js: the page's elements that the scripts work with, looked up
// once, in one table; and the helpers every part of the page uses to make
// elements and to say something in the status line.

function byId(id) {
  const element = document.getElementById(id);
  if (!element) throw new Error(`the page has no element #${id}`);
  return element;
}

export const ui = Object.freeze({
  openControl: byId('open-control'),
  openAbout: byId('open-about'),
  undo: byId('undo'),
  redo: byId('redo'),
  viewFit: byId('view-fit'),
  viewOne: byId('view-one'),
  zoom: byId('zoom'),
  showOriginal: byId('show-original'),
  showResult: byId('show-result'),
  toggleMap: byId('toggle-map'),
  viewDisplay: byId('view-display'),
  viewView: byId('view-view'),
  viewLook: byId('view-look'),
  viewExposure: byId('view-exposure'),
  viewGamma: byId('view-gamma'),
  link: byId('link'),
  linkText: byId('link-text'),
  viewport: byId('viewport'),
  stage: byId('stage'),
  image: byId('image'),
  overlay: byId('overlay'),
  shown: byId('shown'),
  progress: byId('progress'),
  progressFill: byId('progress-fill'),
  progressText: byId('progress-text'),
  viewerNote: byId('viewer-note'),
  frameFirst: byId('frame-first'),
  framePrev: byId('frame-prev'),
  keys: byId('keys'),
  frameSlider: byId('frame-slider'),
  frameNext: byId('frame-next'),
  frameLast: byId('frame-last'),
  frameLabel: byId('frame-label'),
  deleteFocusKey: byId('delete-focus-key'),
  deskEmpty: byId('desk-empty'),
  deskEmptyText: byId('desk-empty-text'),
  reopen: byId('reopen'),
  desk: byId('desk'),
  recordFocalObjectName: byId('record-focalObjectName'),
  focusHere: byId('focus-here'),
  recordSourceMode: byId('record-sourceMode'),
  recordMaterialEffectsId: byId('record-materialEffectsId'),
  recordObjectChannelId: byId('record-objectChannelId'),
  recordBlurRange: byId('record-blurRange'),
  recordBlurSize: byId('record-blurSize'),
  hostTime: byId('host-time'),
  tracks: byId('tracks'),
  previewState: byId('preview-state'),
  layered: byId('layered'),
  undoState: byId('undo-state'),
  lastDialog: byId('last-dialog'),
  sceneObjects: byId('scene-objects'),
  command: byId('command'),
  save: byId('save'),
  copy: byId('copy'),
  saveState: byId('save-state'),
  readout: byId('readout'),
  statusText: byId('status-text'),
  stateVersion: byId('state-version'),
  status: document.querySelector('.status'),
  commandButtons: Array.from(document.querySelectorAll('[data-command]')),
});

export function el(tag, className, parent) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  if (parent) parent.appendChild(element);
  return element;
}

export function setStatus(text, kind = 'info') {
  ui.statusText.textContent = text;
  ui.status.dataset.kind = kind;
}

// A record's float as the dialog shows it: one decimal for whole numbers,
// else up to three.
export function number(value) {
  if (typeof value !== 'number') return '–';
  return Number.isInteger(value) ? value.toFixed(1) : String(parseFloat(value.toFixed(3)));
}
