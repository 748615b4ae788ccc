// The camera indicator beside the server's: the state of the camera in focus from
// its GET /camera, then from the "camera" events of /events, which also keep every
// other camera's state (for the tiles); each change goes to that camera's log.
// cameraIsLost() tells the other parts whether the focused camera's link is down,
// and onServerEvent() gives every part the page's one stream of server events.
'use strict';

// ---- The page's one event stream -------------------------------------------------

// A browser keeps at most six connections per server for all its tabs, so each
// part following the events on a stream of its own would cost one of them.
const serverStream = { source: null, listeners: [] };

// Calls fn(event) for each event of that type ("camera", "capture", ...; "open" on
// each (re)connection, "error" when it breaks, as EventSource names them). The
// browser reconnects by itself, asking for what it missed; a stream the server
// refused (not an event stream) is opened again 3 s later. The stream opens once
// every part has said what it follows (main.js, the last script): the parser may
// run an event between two scripts, and an event that comes before its listener
// (the "cameras" that begins the stream) is lost.
function onServerEvent(type, fn) {
  serverStream.listeners.push([type, fn]);
  if (serverStream.source) serverStream.source.addEventListener(type, fn);
}

function openServerEvents() {
  // rig=1: the stream begins with a "cameras" event, every camera as the server has
  // it, so the page learns the rig (js/rig.js) in order with the events.
  const source = new EventSource('/events?rig=1');
  serverStream.source = source;
  serverStream.listeners.forEach(function (l) { source.addEventListener(l[0], l[1]); });
  source.addEventListener('error', function () {
    if (source.readyState !== EventSource.CLOSED || serverStream.source !== source) return;
    setTimeout(function () { if (serverStream.source === source) openServerEvents(); }, 3000);
  });
}

// The camera an event is about: its data's "camera" (main when it names none).
function eventCamera(e) {
  try {
    const data = JSON.parse(e.data);
    if (data !== null && typeof data === 'object' && typeof data.camera === 'string') return data.camera;
  } catch (err) { /* not JSON: the server's own */ }
  return MAIN_CAMERA.id;
}

// ---- Every camera's state, and the indicator ---------------------------------------

// Each camera's state as the server last told it (id -> { state, attempt }); the
// indicator shows the one of `camera`, the camera in focus. watchers: fn(id, state)
// for each change of any camera (the tiles).
const health = { camera: MAIN_CAMERA, states: new Map(), heard: new Set(), watchers: [] };

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

function cameraStateOf(id) { return health.states.get(id) || { state: null, attempt: null }; }

// True while the link of camera `id` is down and the server is bringing it back.
function cameraLostById(id) {
  const now = cameraStateOf(id).state;
  return now === 'perdida' || now === 'reconectando';
}

// The same for the camera in focus.
function cameraIsLost() { return cameraLostById(health.camera.id); }

function showIndicator() {
  const now = cameraStateOf(health.camera.id);
  const look = cameraLook(now.state, now.attempt);
  byId('camdot').className = look[0];
  byId('camst').textContent = look[1];
}

// info: a "camera" event's data or a camera object of /camera or /cameras (state,
// attempt, error or last_error) about camera `id`. Each change but the first
// one heard goes to that camera's log.
function cameraChanged(id, info) {
  if (info === null || typeof info !== 'object' || typeof info.state !== 'string') return;
  const attempt = info.state === 'reconectando' ? info.attempt : null;
  const before = cameraStateOf(id);
  if (info.state === before.state && attempt === before.attempt) return;
  health.states.set(id, { state: info.state, attempt: attempt });
  if (id === health.camera.id) showIndicator();
  const text = cameraLook(info.state, attempt)[1];
  const error = info.error || info.last_error;
  if (before.state !== null) log(text + (info.state === 'perdida' && error ? ' (' + error + ')' : ''), { id: id });
  health.watchers.forEach(function (fn) { fn(id, health.states.get(id)); });
}

// The indicator of the camera in focus, given its /camera object.
function showCamera(info) { cameraChanged(health.camera.id, info); }

// Reads the state of the camera in focus, unless an event about it came first
// since the stream opened (an event is newer than any answer).
function healthRead() {
  const camera = health.camera;
  requestJson(camera.url('/camera'))
    .then(function (o) { if (!health.heard.has(camera.id) && camera === health.camera) showCamera(o); })
    .catch(function () { /* keep what is shown */ });
}

// The indicator shows `camera` from now on: what is known of it at once, then its
// state as the server has it.
function healthShow(camera) {
  if (camera === health.camera) return;
  health.camera = camera;
  showIndicator();
  healthRead();
}

onServerEvent('camera', function (e) {
  let info = null;
  try { info = JSON.parse(e.data); } catch (err) { return; /* not JSON: ignore */ }
  const id = eventCamera(e);
  health.heard.add(id);
  cameraChanged(id, info);
});
// Read once the stream is open, so no change falls between the two.
onServerEvent('open', function () {
  health.heard.clear();
  healthRead();
});
