// link.js: the WebSocket to the studio. Text messages go to the handler
// registered for their type, binary ones (images) to the image handler;
// "refused" and "error" answers go to the status line.
import { setStatus, ui } from './elements.js';

const RECONNECT_MS = 1000;
const CLOSE_GOING_AWAY = 1001;  // the studio stopped

let socket = null;
let seq = 0;
const handlers = new Map();
let imageHandler = () => {};

export function onMessage(type, handler) {
  handlers.set(type, handler);
}

export function onImage(handler) {
  imageHandler = handler;
}

export function connect() {
  const next = new WebSocket(`ws://${location.host}/ws`);
  next.binaryType = 'arraybuffer';
  socket = next;
  next.addEventListener('open', () => setLink('open', 'Connected'));
  next.addEventListener('message', (event) => {
    if (typeof event.data === 'string') receive(event.data);
    else imageHandler(event.data);
  });
  next.addEventListener('close', (event) => {
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
  ui.link.dataset.state = state;
  ui.linkText.textContent = text;
}

// Sends a request; its seq, or 0 when it could not be sent (then nothing
// the page shows may change on its account).
export function send(message) {
  if (!socket || socket.readyState !== WebSocket.OPEN) {
    setStatus('Not connected: the action was not sent.', 'error');
    return 0;
  }
  message.seq = ++seq;
  socket.send(JSON.stringify(message));
  return message.seq;
}

export function act(handle, action, fields = {}) {
  return send({type: 'action', dialog: handle, action, ...fields});
}

export function hostCommand(command, fields = {}) {
  return send({type: 'host', command, ...fields});
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
    case 'refused':
      setStatus(`Refused: ${message.reason}.`, 'refused');
      break;
    case 'error':
      setStatus(`Error: ${message.message}.`, 'error');
      break;
    default: {
      const handler = handlers.get(message.type);
      if (handler) handler(message);
      break;
    }
  }
}
