// Requests and the log: the camera a part addresses (CameraRef), the ordinary
// requests every part makes, the log, the command calls of the markup's
// buttons, the status and settings polls, and byId, which every other part uses.
'use strict';

function byId(id) { return document.getElementById(id); }

// ---- The camera a part addresses ----------------------------------------------------

// A camera as the console's parts address it: its id and the prefix of its routes
// ('' for main, whose routes are the unprefixed ones; '/cameras/<id>' for the
// others). Each per-camera part keeps the one it was last handed, so focusing
// another camera is one call per part (js/rig.js). Immutable.
class CameraRef {
  constructor(id) {
    this.id = id;
    this.base = id === 'main' ? '' : '/cameras/' + encodeURIComponent(id);
    Object.freeze(this);
  }

  url(path) { return this.base + path; }
}

const MAIN_CAMERA = new CameraRef('main');

// ---- Ordinary requests -------------------------------------------------------------
// Polls, commands and the cards' pictures. A browser keeps at most six connections
// per server for all its tabs; with several cameras the page holds two streams
// (events, and every camera's pictures) and lets its other requests take at most
// two more, queued in order (rig.js sets the limit). Opening the pictures' stream
// (again) takes a turn too, until its answer comes: a request the browser cannot
// place on a free connection gets a new one, which stays open, idle, when a busy
// one frees first. With one camera nothing waits.

const requests = { limit: Infinity, running: 0, waiting: [] };

function requestsLimit(n) {
  requests.limit = n;
  requestsNext();
}

// A request counts as running from the moment it is let go, not once its turn's
// promise has run: several let go in one loop would otherwise all pass.
function requestsNext() {
  while (requests.running < requests.limit && requests.waiting.length) {
    requests.running++;
    requests.waiting.shift()();
  }
}

// Resolves with { status, ok, body }, the body read as `kind` ('json', 'blob' or
// 'text'); rejects when the request fails or the body does not parse. The request
// counts against the limit until its body has arrived, since until then it holds
// its connection.
function request(url, init, kind) {
  return requestTurn().then(function () {
    let status = 0, ok = false;
    return fetch(url, init)
      .then(function (r) { status = r.status; ok = r.ok; return r[kind || 'json'](); })
      .then(function (body) { return { status: status, ok: ok, body: body }; })
      .finally(requestDone);
  });
}

// Resolves when a request may go; requestDone() once it holds no connection.
function requestTurn() {
  return new Promise(function (resolve) {
    requests.waiting.push(resolve);
    requestsNext();
  });
}

function requestDone() {
  requests.running--;
  requestsNext();
}

function requestJson(url) {
  return request(url, { cache: 'no-store' }, 'json').then(function (r) { return r.body; });
}

// An <img> of `url` that loads when it comes into sight: the browser's lazy
// loading, or, while requests are limited, an ordinary request once it shows.
let lazyPictures = null;
function lazyPicture(img, url) {
  if (requests.limit === Infinity) {
    img.loading = 'lazy';
    img.src = url;
    return;
  }
  img.dataset.src = url;
  if (lazyPictures === null) {
    lazyPictures = new IntersectionObserver(function (seen) {
      seen.forEach(function (e) {
        if (!e.isIntersecting) return;
        lazyPictures.unobserve(e.target);
        pictureInto(e.target, e.target.dataset.src).catch(function () { /* stays empty */ });
      });
    }, { rootMargin: '240px' });
  }
  lazyPictures.observe(img);
}

// Loads `url` into `img`; resolves once it is decoded. While requests are limited
// the bytes come through an ordinary request and a blob: address.
function pictureInto(img, url) {
  if (requests.limit === Infinity) {
    img.src = url;
    return img.decode();
  }
  return request(url, { cache: 'no-store' }, 'blob').then(function (r) {
    if (!r.ok) throw new Error('HTTP ' + r.status);
    const blobUrl = URL.createObjectURL(r.body);
    img.src = blobUrl;
    return img.decode().finally(function () { URL.revokeObjectURL(blobUrl); });
  });
}

// ---- Log -----------------------------------------------------------------------------
// Every line is kept with the camera it is about ('' for the console and the rig as
// a whole); the box shows the lines about the camera in focus and the others,
// newest first, and is never trimmed.

const logBook = { lines: [], shown: MAIN_CAMERA.id };

function logLine(text) {
  const box = byId('log');
  box.insertBefore(document.createTextNode(box.firstChild ? text + '\n' : text), box.firstChild);
}

function log(msg, camera) {
  const line = { camera: camera ? camera.id : '', text: new Date().toLocaleTimeString() + '  ' + msg };
  logBook.lines.push(line);
  if (line.camera === '' || line.camera === logBook.shown) logLine(line.text);
}

// The box shows the lines about `camera` from now on, its earlier ones included.
function logShow(camera) {
  if (camera.id === logBook.shown) return;
  logBook.shown = camera.id;
  byId('log').textContent = '';
  logBook.lines.forEach(function (line) {
    if (line.camera === '' || line.camera === camera.id) logLine(line.text);
  });
}

// ---- Command calls --------------------------------------------------------------------

// The camera the command cards (Conexão, Exposição, 📸 Capturar) address.
const commandCards = { camera: MAIN_CAMERA };

// Builds "name=value&..." from "name=fieldId&..." so the parameter order is the
// markup's and every value is URI-component encoded (an empty field sends "").
function fields(layout) {
  return layout.split('&').map(function (pair) {
    const parts = pair.split('=');
    return parts[0] + '=' + encodeURIComponent(byId(parts[1]).value);
  }).join('&');
}

// A command on `camera` (the command cards' camera when none is given); its reply's
// status goes to that camera's log under the route's own path.
function api(path, query, camera) {
  const target = camera || commandCards.camera;
  // Commands carry their parameters in the query string and send no body.
  return request(target.url(query ? path + '?' + query : path), { method: 'POST' }, 'json')
    .then(function (r) { log(path + ' → ' + r.body.status, target); })
    .catch(function (e) { log(path + ' ✗ ' + (e && e.message ? e.message : String(e)), target); });
}

function showValue(spanId, input) { byId(spanId).textContent = input.value; }

// ---- Status and settings polls ----------------------------------------------------------

function setOnline(online) {
  byId('dot').classList.toggle('on', online);
  byId('st').textContent = online ? 'servidor online' : 'offline';
}

function ping() {
  return requestJson('/status')
    .then(function (j) { setOnline(j !== null && typeof j === 'object' && j.status === 'online'); })
    .catch(function () { setOnline(false); });
}

function readoutText(key, v) {
  if (key === 'battery') return v === undefined || v === null || v < 0 ? '—' : v + '%';
  return v === undefined || v === null || v === '' ? '—' : String(v);
}

// The read-outs of "Configurações ao vivo" and the camera they show.
const settings = { camera: MAIN_CAMERA };

function showSettings(o) {
  byId('reads').querySelectorAll('[data-p]').forEach(function (el) {
    const key = el.getAttribute('data-p');
    el.textContent = readoutText(key, o[key]);
  });
}

function pollProps() {
  const camera = settings.camera;
  return requestJson(camera.url('/properties'))
    .then(function (o) {
      // A reply about a camera no longer shown is dropped.
      if (o === null || typeof o !== 'object' || camera !== settings.camera) return;
      showSettings(o);
    })
    .catch(function () { /* keep the last read-outs */ });
}

// The read-outs show `camera` from its next poll on (asked at once); until then
// they are empty rather than another camera's.
function settingsShow(camera) {
  if (camera === settings.camera) return;
  settings.camera = camera;
  showSettings({});
  pollProps();
}
