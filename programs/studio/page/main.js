// main.js: the page of kestrion studio, put together. It draws what the
// studio reports after every request (the state: the module's open
// dialogs, the host's pick dialog, the filter as the host holds it and the
// workbench's frame, focus, preview, overlay and hand-off) and the images
// it sends; what the person does goes back as requests, and the next state
// shows their outcome.
//
//   elements.js      the table of the page's elements
//   link.js          the WebSocket: requests out, messages in
//   server_state.js  the latest state, which everything is drawn from
//   desk.js, pick.js the module's dialogs and the host's pick dialog
//   viewer.js        the frame, A/B, the focus map, the view, the readout
//   colour_view.js   the colour configuration's display, view and look
//   timeline.js      the frame slider and the tracks' keys
//   panels.js        the filter, the progress, the layered switch, the hand-off
//   control_ids.js   the controls' identifiers (generated at build time)
import { drawColourView } from './colour_view.js';
import { drawDesk, escapeKey, placeWindows } from './desk.js';
import { ui } from './elements.js';
import { connect, hostCommand, onImage, onMessage } from './link.js';
import { drawHost, drawStudio, showProgress } from './panels.js';
import { currentState, keepState } from './server_state.js';
import { frameAnswered, drawTimeline, goToIndex, lastIndex, setFrames, stepFrame } from './timeline.js';
import { drawViewer, placeStage, receiveImage, showLook, viewerInspection, viewerKey } from './viewer.js';

function showState(state) {
  keepState(state);
  ui.stateVersion.textContent = `state ${state.version}`;
  drawDesk(state);
  drawHost(state.host || {});
  drawStudio(state.host && state.host.studio);
  drawTimeline();
  drawViewer();
  drawColourView();
  ui.openControl.disabled = state.dialogs.length > 0 || !!state.pick;
  ui.openAbout.disabled = !!state.pick;
  frameAnswered(state);
}

// The viewer's and the timeline's keys, unless typing into an edit or
// with a modifier; Escape for the dialogs.
function pageKey(event) {
  const target = event.target;
  const typing = target && ((target.tagName === 'INPUT' && target.type === 'text') || target.tagName === 'SELECT');
  const plain = !event.ctrlKey && !event.metaKey && !event.altKey;
  if (!typing && plain) {
    if (viewerKey(event.key)) return;
    const onSlider = target && target === ui.frameSlider;
    switch (event.key) {
      case 'ArrowLeft': if (!onSlider) { stepFrame(-1); return; } break;
      case 'ArrowRight': if (!onSlider) { stepFrame(1); return; } break;
      case 'Home': goToIndex(0); return;
      case 'End': goToIndex(lastIndex()); return;
      default: break;
    }
  }
  const state = currentState();
  if (event.key === 'Escape' && state) escapeKey(state);
}

onMessage('state', showState);
onMessage('progress', showProgress);
onMessage('frames', (message) => setFrames(message.frames));
onMessage('look', showLook);
onImage(receiveImage);

document.addEventListener('keydown', pageKey);
for (const button of ui.commandButtons) {
  button.addEventListener('click', () => hostCommand(button.dataset.command));
}
window.addEventListener('resize', () => {
  const state = currentState();
  if (state) placeWindows(state);
  placeStage();
});

// What the page has, for reading only (the browser tests read it): the
// latest state, the images as they came and the view.
Object.defineProperty(window, 'studio', {
  value: Object.freeze({
    get state() { return currentState(); },
    get images() { return viewerInspection.images; },
    get view() { return viewerInspection.view; },
  }),
});

connect();
