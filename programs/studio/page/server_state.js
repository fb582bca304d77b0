// server_state.js: the studio's latest state message, which every part of
// the page draws from. The page keeps no state of its own about the
// studio: what it shows is what the last state says, and what the person
// does goes out as a request whose outcome the next state shows.

let latest = null;

export function currentState() {
  return latest;
}

export function keepState(state) {
  latest = state;
}

// The handle of the dialog in front, or 0 when the pick dialog is open or
// no dialog is.
export function frontHandle(state) {
  if (state.pick || state.dialogs.length === 0) return 0;
  return state.dialogs[state.dialogs.length - 1].handle;
}

// The workbench's part of the state: frame, focus, preview, overlay, hand-off.
export function studioPart() {
  return (latest && latest.host && latest.host.studio) || null;
}

export function previewState() {
  const s = studioPart();
  return (s && s.preview) || {};
}

export function currentFrame() {
  const s = studioPart();
  return s ? s.frame : null;
}
