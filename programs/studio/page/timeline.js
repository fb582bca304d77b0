// timeline.js: the frame slider under the viewer, with the keys of the
// Range, Size and Focus tracks marked at their frames. The slider asks for
// a frame; the frame shown is the one the state says.
import { el, number, ui } from './elements.js';
import { hostCommand } from './link.js';
import { currentFrame, currentState } from './server_state.js';

let frames = [];  // the run's frame numbers
// The frame asked for: the request waiting for its answer, and the frame
// to ask for once it is answered.
const frameAsked = {pending: 0, wanted: null};

export function setFrames(numbers) {
  frames = numbers;
  drawTimeline();
}

export function lastIndex() {
  return frames.length - 1;
}

// After each state: the next frame the slider wants goes out once the
// last request for one was handled.
export function frameAnswered(state) {
  if (frameAsked.pending && state.ack >= frameAsked.pending) {
    frameAsked.pending = 0;
    askFrame();
  }
}

function frameIndex() {
  return frames.indexOf(currentFrame());
}

// The frame the slider asks for goes out once the last one was handled.
function askFrame() {
  const asked = frameAsked;
  if (asked.pending || asked.wanted === null) return;
  if (asked.wanted === currentFrame()) {
    asked.wanted = null;
    return;
  }
  asked.pending = hostCommand('frame', {frame: asked.wanted}) || 0;
  asked.wanted = null;
}

export function goToIndex(index) {
  if (!frames.length) return;
  const clamped = Math.min(frames.length - 1, Math.max(0, index));
  frameAsked.wanted = frames[clamped];
  ui.frameSlider.value = clamped;
  askFrame();
}

export function stepFrame(step) {
  const index = frameIndex();
  if (index >= 0) goToIndex(index + step);
}

export function drawTimeline() {
  const slider = ui.frameSlider;
  const count = frames.length;
  slider.max = Math.max(0, count - 1);
  slider.disabled = count < 2;
  for (const id of ['frame-first', 'frame-prev', 'frame-next', 'frame-last']) {
    document.getElementById(id).disabled = count < 2;
  }
  const index = frameIndex();
  if (index >= 0 && !frameAsked.pending && frameAsked.wanted === null) {
    slider.value = index;
  }
  const frame = currentFrame();
  const first = frames[0];
  const last = frames[count - 1];
  ui.frameLabel.textContent = frame === null ? 'Frame –'
    : count > 1 ? `Frame ${frame}  (${first}–${last})` : `Frame ${frame}`;
  const state = currentState();
  if (state) drawKeys(state.host || {});
}

// Each track's keys as marks along the slider, at their frames.
function drawKeys(host) {
  const keys = ui.keys;
  keys.replaceChildren();
  const count = frames.length;
  if (count < 1) return;
  const ticks = host.ticksPerFrame || 160;
  const first = frames[0];
  const last = frames[count - 1];
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
  const slider = ui.frameSlider;
  slider.addEventListener('input', () => goToIndex(Number(slider.value)));
  ui.frameFirst.addEventListener('click', () => goToIndex(0));
  ui.framePrev.addEventListener('click', () => stepFrame(-1));
  ui.frameNext.addEventListener('click', () => stepFrame(1));
  ui.frameLast.addEventListener('click', () => goToIndex(lastIndex()));
})();

