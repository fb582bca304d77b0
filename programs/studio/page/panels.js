// panels.js: the filter as the host holds it (its record, the focus at
// this frame, the tracks, the preview's figures, the undo steps, the last
// dialog's result), the preview's progress, the layered switch and the
// hand-off.
import { SOURCE_MATERIAL_EFFECTS, SOURCE_OBJECT_CHANNEL, SOURCE_WHOLE_IMAGE } from './control_ids.js';
import { el, number, setStatus, ui } from './elements.js';
import { hostCommand } from './link.js';
import { studioPart } from './server_state.js';

const SOURCE_NAMES = {
  [SOURCE_WHOLE_IMAGE]: 'Whole Image',
  [SOURCE_MATERIAL_EFFECTS]: 'Material Effects Channel',
  [SOURCE_OBJECT_CHANNEL]: 'Object Channel',
};

// A fact that changed since it was first shown is highlighted a moment.
function setFact(cell, text) {
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

export function drawHost(host) {
  const record = host.record || {};
  setFact(ui.recordSourceMode, record.sourceMode in SOURCE_NAMES
    ? `${SOURCE_NAMES[record.sourceMode]} (${record.sourceMode})`
    : String(record.sourceMode ?? '–'));
  setFact(ui.recordMaterialEffectsId, String(record.materialEffectsId ?? '–'));
  setFact(ui.recordObjectChannelId, String(record.objectChannelId ?? '–'));
  setFact(ui.recordFocalObjectName, record.focalObjectName ? record.focalObjectName : '(none)');
  const focus = (host.studio && host.studio.focus) || {};
  setFact(ui.focusHere, focus.error ? 'none' : typeof focus.depth === 'number'
    ? `depth ${number(focus.depth)}${focus.node === 'Focus' && focus.keyHere ? ' (keyed here)' : ''}` : '–');
  setFact(ui.recordBlurRange, number(record.blurRange));
  setFact(ui.recordBlurSize, number(record.blurSize));

  const ticks = host.ticksPerFrame || 160;
  ui.hostTime.textContent =
    host.time === undefined ? '' : `at frame ${host.time / ticks} (time ${host.time})`;
  const rows = ui.tracks;
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
  setFact(ui.undoState, undo.steps
    ? `${undo.steps} step${undo.steps === 1 ? '' : 's'}, last “${undo.name}”${undo.holding ? ' (a hold is open)' : ''}`
    : undo.holding ? 'a hold is open' : 'nothing to undo');
  ui.undo.disabled = !undo.steps || undo.holding;
  ui.redo.disabled = !undo.redoSteps || undo.holding;
  const last = host.lastDialog;
  setFact(ui.lastDialog, last ? `${last.dialog === 'about' ? 'About box' : 'Control dialog'}: ${last.result}` : '–');
  setFact(ui.sceneObjects, (host.objects || []).join(', ') || '(empty)');
}

// --- Progress -------------------------------------------------------------------

export function showProgress(message) {
  const bar = ui.progress;
  if (message.done) {
    bar.hidden = true;
    return;
  }
  bar.hidden = false;
  const fill = ui.progressFill;
  const text = ui.progressText;
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


// The workbench's part of the state: the preview's note and figures, the
// focus key, the hand-off.
export function drawStudio(s) {
  if (!s) return;
  const preview = s.preview || {};
  const note = ui.viewerNote;
  const message = preview.status === 'unfocused' || preview.status === 'failed' ? preview.message : '';
  note.hidden = !message;
  note.textContent = message || '';
  note.dataset.kind = preview.status || '';
  const progress = ui.progress;
  if (preview.status === 'pending' && progress.hidden) {
    progress.hidden = false;
    ui.progressFill.style.width = '0%';
    ui.progressText.textContent = 'Rendering…';
  } else if (preview.status !== 'pending') {
    progress.hidden = true;
  }
  let text = '–';
  switch (preview.status) {
    case 'done':
      text = `frame ${s.frame}: range ${number(preview.range)}, size ${number(preview.size)}, ${preview.source}; ${preview.layers ? `${preview.layers} layers, ` : ''}${preview.passes} passes, ${Math.round(preview.seconds * 1000)} ms`;
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
  setFact(ui.previewState, text);
  ui.layered.checked = !!s.layered;
  const focus = s.focus || {};
  const deleteKey = ui.deleteFocusKey;
  deleteKey.disabled = !focus.keyHere || !focus.keys || focus.keys.length < 2;
  const hand = s.handOff || {};
  ui.command.textContent = hand.command || '–';
  const save = ui.save;
  save.disabled = !hand.file;
  save.title = hand.file ? `Write the settings to ${hand.file}`
    : 'Start the studio with --save FILE to write a settings file';
  ui.saveState.textContent = !hand.file
    ? 'no --save file: the command carries the settings'
    : !hand.saved ? `not saved to ${hand.file} yet`
      : hand.current ? `saved to ${hand.file}` : `changed since saved to ${hand.file}`;
  ui.saveState.dataset.current = String(!!hand.current);
}

// The switch is the studio's, as the state says: a click asks for the
// other setting, and the state that answers shows it; one that cannot be
// sent leaves it as it was.
ui.layered.addEventListener('change', () => {
  const s = studioPart();
  const on = !(s && s.layered);
  if (!hostCommand('layered', {on})) ui.layered.checked = !on;
});

ui.copy.addEventListener('click', async () => {
  const text = ui.command.textContent;
  try {
    await navigator.clipboard.writeText(text);
    setStatus('The command is on the clipboard.');
  } catch {
    setStatus('The browser keeps the clipboard closed: select the command and copy it.', 'refused');
  }
});
