// The camera indicator beside the server's: the camera's state from GET /camera at
// load, then from the "camera" events of /events; each change goes to the log.
// cameraIsLost() tells the other parts whether the camera's link is down.
'use strict';

let cameraNow = { state: null, attempt: null };
let cameraStream = null;

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

// Follows the events; when the stream ends (server gone or restarted, which numbers
// its events anew), starts over a second later with a fresh stream and the state
// read again, so nothing from before the gap is trusted.
function followCamera() {
  const source = new EventSource('/events');
  cameraStream = source;
  let heard = false;
  source.addEventListener('camera', function (e) {
    heard = true;
    try { showCamera(JSON.parse(e.data)); } catch (err) { /* not JSON: ignore */ }
  });
  // Read once the stream is open, so no change falls between the two.
  source.onopen = function () {
    fetch('/camera', { cache: 'no-store' })
      .then(function (r) { return r.json(); })
      .then(function (o) { if (!heard) showCamera(o); })
      .catch(function () { /* keep what is shown */ });
  };
  source.onerror = function () {
    source.close();
    if (cameraStream === source) setTimeout(followCamera, 1000);
  };
}

followCamera();
