// pick.js: the host's pick-by-name dialog ("Select Object"), drawn while
// the state has one open; its answer ends it.
import { el, ui } from './elements.js';
import { send } from './link.js';

let open = null;  // the drawn pick dialog

// The drawn pick dialog's element, or null.
export function pickElement() {
  return open ? open.element : null;
}

export function drawPick(pick) {
  if (!pick) {
    if (open) open.element.remove();
    open = null;
    return;
  }
  if (open && open.run === pick.run) return;
  if (open) open.element.remove();
  const element = el('div', 'win pick', ui.desk);
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
  open = {run: pick.run, element, selected: new Set(), pick, ok};
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
  const can = open.selected.size > 0 || open.pick.allowEmpty;
  open.ok.classList.toggle('disabled', !can);
  open.ok.setAttribute('aria-disabled', String(!can));
}

export function answerPick(cancel) {
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

