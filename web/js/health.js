// The camera indicator beside the server's: the camera's state from GET /camera,
// then from the "camera" events of /events; each change goes to the log.
// cameraIsLost() tells the other parts whether the camera's link is down, and
// onServerEvent() gives every part the page's one stream of server events.
'use strict';

// ---- The page's one event stream -------------------------------------------------

// A browser keeps at most six connections per server for all its tabs, so each
// part following the events on a stream of its own would cost one of them.
const serverStream = { source: null, listeners: [] };

// Calls fn(event) for each event of that type ("camera", "capture", ...; "open" on
// each (re)connection, "error" when it breaks, as EventSource names them). The
// browser reconnects by itself, asking for what it missed; a stream the server
// refused (not an event stream) is opened again 3 s later.
function onServerEvent(type, fn) {
  serverStream.listeners.push([type, fn]);
  if (serverStream.source) serverStream.source.addEventListener(type, fn);
  else openServerEvents();
}

function openServerEvents() {
  const source = new EventSource('/events');
  serverStream.source = source;
  serverStream.listeners.forEach(function (l) { source.addEventListener(l[0], l[1]); });
  source.addEventListener('error', function () {
    if (source.readyState !== EventSource.CLOSED || serverStream.source !== source) return;
    setTimeout(function () { if (serverStream.source === source) openServerEvents(); }, 3000);
  });
}

// ---- The camera indicator --------------------------------------------------------

let cameraNow = { state: null, attempt: null };
let cameraHeard = false;  // a camera event came since the stream last opened

// [dot class, text] per state; anything unknown reads as no camera.
function cameraLook(state, attempt) {
  switch (state) {
    case 'conectada': return ['ok', 'câmera conectada'];
    case 'conectando': return ['wait', 'conectando…'];
    case 'reconectando': return ['wait', 'reconectando (' + attempt + ')…'];
    case 'perdida': return ['lost', 'câmera perdida'];
    default: return ['', 'sem câmera'];
  }
}

// True while the link is down and the server is bringing it back.
function cameraIsLost() { return cameraNow.state === 'perdida' || cameraNow.state === 'reconectando'; }

// info: a "camera" event's data or the /camera object (state, attempt, error or
// last_error).
function showCamera(info) {
  if (info === null || typeof info !== 'object' || typeof info.state !== 'string') return;
  const attempt = info.state === 'reconectando' ? info.attempt : null;
  if (info.state === cameraNow.state && attempt === cameraNow.attempt) return;
  const known = cameraNow.state !== null;
  cameraNow = { state: info.state, attempt: attempt };
  const look = cameraLook(info.state, attempt);
  byId('camdot').className = look[0];
  byId('camst').textContent = look[1];
  const error = info.error || info.last_error;
  if (known) log(look[1] + (info.state === 'perdida' && error ? ' (' + error + ')' : ''));
}

onServerEvent('camera', function (e) {
  cameraHeard = true;
  try { showCamera(JSON.parse(e.data)); } catch (err) { /* not JSON: ignore */ }
});
// Read once the stream is open, so no change falls between the two; an event that
// comes first is newer than the answer.
onServerEvent('open', function () {
  cameraHeard = false;
  fetch('/camera', { cache: 'no-store' })
    .then(function (r) { return r.json(); })
    .then(function (o) { if (!cameraHeard) showCamera(o); })
    .catch(function () { /* keep what is shown */ });
});
