// colour_view.js: the view menu: the display, view and look of the colour
// configuration the studio shows the frame through, and the exposure and
// gamma, as the state says. A change goes to the studio as the "view" host
// command; the studio encodes the original and the preview again and sends
// them, and the next state shows the choice. Without a configuration only
// exposure and gamma are offered (the plain sRGB encode).
import { setStatus, ui } from './elements.js';
import { hostCommand } from './link.js';
import { studioPart } from './server_state.js';

function fill(select, names, chosen, emptyLabel) {
  const wanted = emptyLabel === undefined ? names : ['', ...names];
  const current = Array.from(select.options).map((o) => o.value);
  if (current.length !== wanted.length || current.some((v, i) => v !== wanted[i])) {
    select.replaceChildren(...wanted.map((name) => {
      const option = document.createElement('option');
      option.value = name;
      option.textContent = name === '' ? emptyLabel : name;
      return option;
    }));
  }
  select.value = chosen;
}

// Sets an edit's text from the state unless the person is typing in it.
function setEdit(input, value) {
  if (document.activeElement !== input) input.value = String(value);
}

export function drawColourView() {
  const studio = studioPart();
  const view = studio && studio.view;
  if (!view) return;
  const nav = ui.viewDisplay.parentElement;
  nav.dataset.config = view.config ? 'yes' : 'none';
  nav.title = view.config ? `Shown through ${view.config}` : 'Shown through the plain sRGB encode';
  if (view.config) {
    const displays = view.displays || [];
    fill(ui.viewDisplay, displays.map((d) => d.name), view.display);
    const display = displays.find((d) => d.name === view.display);
    fill(ui.viewView, display ? display.views : [], view.view);
    fill(ui.viewLook, view.looks || [], view.look || '', 'no look');
  }
  setEdit(ui.viewExposure, view.exposure);
  setEdit(ui.viewGamma, view.gamma);
}

// The view command with the menu's choice; a new display takes its default
// view.
function sendView(displayChanged) {
  const exposure = Number(ui.viewExposure.value);
  const gamma = Number(ui.viewGamma.value);
  if (!Number.isFinite(exposure) || !Number.isFinite(gamma)) {
    setStatus('Exposure and gamma must be numbers.', 'error');
    return;
  }
  const studio = studioPart();
  const config = studio && studio.view && studio.view.config;
  const names = config
    ? {display: ui.viewDisplay.value, view: displayChanged ? '' : ui.viewView.value, look: ui.viewLook.value}
    : {};
  hostCommand('view', {...names, exposure, gamma});
}

ui.viewDisplay.addEventListener('change', () => sendView(true));
ui.viewView.addEventListener('change', () => sendView(false));
ui.viewLook.addEventListener('change', () => sendView(false));
for (const input of [ui.viewExposure, ui.viewGamma]) {
  input.addEventListener('change', () => sendView(false));
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') input.blur();
  });
}
