// Live view, the page's side: the overlay switches, sliders and look, the two ways
// of getting pictures (one every 150 ms, or "Fluido", the server's stream), and
// the drawing of what the picture worker (picture.js) sends back: the finished
// picture, the four scopes and the advisor's lines. No pixel is computed here, so
// the main thread stays free for the PTZ keys, the gamepad and the lease.
'use strict';

// ---- Settings the worker paints with ---------------------------------------------

const modes = { peaking: false, zebra: false, false: false, mlut: false };
let activeLook = 'Neutro';
let settingsRev = 0; // bumped on each change; every picture says which one it used

function viewSettings() {
  return {
    mlut: modes.mlut, look: activeLook, falseColor: modes.false, zebra: modes.zebra, peaking: modes.peaking,
    zebraLevel: Number(byId('zb').value), peakThreshold: Number(byId('pk').value), rev: settingsRev
  };
}

// A change applies from the next picture the worker paints; nothing is redrawn.
function settingsChanged() {
  settingsRev++;
  if (lv.host !== null) lv.host.post({ kind: 'settings', settings: viewSettings() });
}

function tog(btn) {
  const m = btn.getAttribute('data-m');
  modes[m] = !modes[m];
  btn.classList.toggle('on', modes[m]);
  settingsChanged();
}

byId('pk').addEventListener('input', settingsChanged);
byId('zb').addEventListener('input', settingsChanged);

// ---- The picture worker, seen from the page --------------------------------------

// The workers run the page's own scripts marked data-worker (pixels.js,
// scopes.js, canvases.js, decode.js, convert.js, feed.js, tilereader.js,
// picture.js) from a Blob, so the page stays one file and they run exactly the
// code the page holds: the picture worker, the converter beside it, and for
// "Fluido" the stream's reader, which hands the newest picture straight to the
// picture worker on a channel of their own (the tiles' reader: tiles.js).
// Thread-bound: the page's.
class PictureHost {
  constructor(onPicture) {
    this.picture = pageWorker('picture');
    this.picture.addEventListener('message', function (e) { onPicture(e.data); });
    // The converter decodes camera JPEGs beside it, on a channel of their own.
    const converter = pageWorker('convert');
    const channel = new MessageChannel();
    converter.postMessage({ kind: 'port', port: channel.port1 }, [channel.port1]);
    this.post({ kind: 'converter', port: channel.port2 }, [channel.port2]);
    this.reader = null; // made with the first stream
    this.tiles = null;  // the tiles' worker it takes full pictures from, once linked
  }

  post(msg, transfer) { this.picture.postMessage(msg, transfer || []); }

  follow(url) {
    if (this.reader === null) this.reader = pageWorker('feed');
    const channel = new MessageChannel();
    this.reader.postMessage({ kind: 'follow', url: url, port: channel.port1 }, [channel.port1]);
    this.post({ kind: 'stream', port: channel.port2 }, [channel.port2]);
  }

  // With several cameras the tiles' worker hands the focused camera's full
  // pictures straight to the picture worker, on a channel of their own: through
  // the page each was two more messages for its main thread, and waited behind
  // whatever that thread was doing.
  followTiles(tiles, camera, fluid) {
    if (this.tiles !== tiles) {
      this.tiles = tiles;
      const channel = new MessageChannel();
      tiles.postMessage({ kind: 'pictures', port: channel.port1 }, [channel.port1]);
      this.post({ kind: 'tiles', port: channel.port2 }, [channel.port2]);
    }
    this.post({ kind: 'followTiles', camera: camera, fluid: fluid });
  }

  stop() {
    if (this.reader !== null) this.reader.postMessage({ kind: 'stop' });
    this.post({ kind: 'stop' });
  }
}

// A worker running the page's worker parts; its name says which of them it is
// (pictureWorkerMain). One Blob of their source serves every worker of the page.
let pageWorkerUrl = null;
function pageWorker(name) {
  if (pageWorkerUrl === null) {
    const parts = Array.from(document.querySelectorAll('script[data-worker]'), function (s) { return s.textContent; });
    pageWorkerUrl = URL.createObjectURL(new Blob([parts.join('\n') + '\npictureWorkerMain(self);\n'], { type: 'text/javascript' }));
  }
  return new Worker(pageWorkerUrl, { name: name });
}

// ---- Live view --------------------------------------------------------------------

// base: the camera shown, as the prefix of its routes ('' for the main camera,
// '/cameras/<id>' for another); timer: the polled view's; fluid: the stream runs.
// rig: with several cameras the pictures come with the tiles (js/rig.js), the
// focused camera's full ones handed by the tiles' worker to the picture worker.
const lv = { camera: MAIN_CAMERA, timer: null, fluid: false, host: null, rig: false };
const LV_POLL_FPS = 7; // the polled view's pace, one picture every 150 ms
let lvFeed = null; // "Fluido" while it runs: { dropped } pictures, as the worker last counted
let looksBuilt = false;
const viewCanvas = byId('view');
const viewCtx = viewCanvas.getContext('2d', { willReadFrequently: true });
SCOPES.forEach(function (id) { scopeCtx[id] = byId(id).getContext('2d'); });

const FLUID_KEY = 'kamora.fluido';
let fluid = readSetting(FLUID_KEY) === '1';
byId('lvfluid').classList.toggle('on', fluid);

// Storage may be refused (privacy settings, some embedded views): the switch
// then simply starts off every time.
function readSetting(key) {
  try { return localStorage.getItem(key); } catch (e) { return null; }
}
function writeSetting(key, value) {
  try { localStorage.setItem(key, value); } catch (e) { /* not remembered */ }
}

function pictureHost() {
  if (lv.host === null) {
    lv.host = new PictureHost(pictureReady);
    lv.host.post({ kind: 'settings', settings: viewSettings() });
  }
  return lv.host;
}

function lvRunning() { return lv.timer !== null || lvFeed !== null || lv.rig; }

function lvToggle() {
  const btn = byId('lvbtn');
  if (lvRunning()) {
    lvHalt();
    btn.textContent = '▶ Iniciar';
    return;
  }
  btn.textContent = '⏸ Parar';
  lvBegin();
}

function lvBegin() {
  watchStart();
  if (fluid) lvFeed = { dropped: 0 }; // the rate and delay read-out, whichever stream brings the pictures
  if (typeof rigStreamFull === 'function' && rigStreamFull(lv.camera, fluid ? 0 : LV_POLL_FPS)) {
    lv.rig = true;
    pictureHost().followTiles(tileWorker(), lv.camera.id, fluid);
  } else if (fluid) {
    pictureHost().follow(new URL(lv.camera.url('/liveview.mjpg'), location.href).href);
  } else {
    lv.timer = setInterval(tick, 150);
  }
}

// A running view starts again the way it should now (another camera, a rig that
// came or went).
function lvReopen() {
  if (lvRunning()) { lvHalt(true); lvBegin(); }
}

// again: lvBegin follows at once, so the tiles' stream is not opened without the
// full pictures in between (each opening costs the page a connection).
function lvHalt(again) {
  if (lv.timer !== null) { clearInterval(lv.timer); lv.timer = null; }
  lvFeed = null;
  if (lv.rig) {
    lv.rig = false;
    if (!again) rigStreamFull(null);
  }
  if (lv.host !== null) lv.host.stop();
  watchStop();
  drawnAt = [];
  lastDelayMs = null;
  byId('lvrate').textContent = '';
}

// Shows `camera` from now on: a CameraRef, or the prefix of its routes ('' for
// main, '/cameras/<id>'). A running view changes over at once.
function lvCamera(camera) {
  if (typeof camera === 'string') {
    camera = camera === '' ? MAIN_CAMERA : rigRef(decodeURIComponent(camera.replace(/^\/cameras\//, '')));
  }
  if (camera === lv.camera) return;
  lv.camera = camera;
  lvReopen();
}

// "Fluido": follow the server's stream instead of asking for one picture per tick.
function fluidToggle(btn) {
  fluid = !fluid;
  btn.classList.toggle('on', fluid);
  writeSetting(FLUID_KEY, fluid ? '1' : '0');
  lvReopen();
}

// The picture's bytes go to the worker as they came; a failed answer is skipped.
function tick() {
  const camera = lv.camera;
  fetch(camera.url('/liveview.jpg?t=' + Date.now()))
    .then(function (r) {
      if (!r.ok) return;
      return r.arrayBuffer().then(function (buffer) {
        if (camera !== lv.camera) return;
        const type = r.headers.get('Content-Type') || '';
        pictureHost().post({ kind: 'picture', bytes: new Uint8Array(buffer), type: type, camera: camera.id }, [buffer]);
      });
    })
    .catch(function () { /* skipped: the previous picture stays */ });
}

// A finished picture from the worker. It is told once the picture is shown, and
// meanwhile keeps only its newest one, so pictures never queue up here.
function pictureReady(p) {
  try {
    if (p.looks && !looksBuilt) buildLooks(p.looks);
    // Painted before the focus moved to another camera: not shown.
    if (p.camera && p.camera !== lv.camera.id) return;
    showPicture(p);
    if (p.fluid && lvFeed !== null) {
      lvFeed.dropped = p.dropped.stream + p.dropped.waiting + p.dropped.decoded + p.dropped.finished;
      feedPicture(p.stamp);
    }
  } finally {
    closePicture(p);
    lv.host.post({ kind: 'shown' });
  }
}

function closePicture(p) {
  p.view.close();
  SCOPES.forEach(function (id) { p.scopes[id].close(); });
  if (p.looks) p.looks.forEach(function (l) { l.bitmap.close(); });
}

// One new picture, from either mode: the view, the scopes and the advisor.
function showPicture(p) {
  pictureArrived();
  // Assigning the size reallocates the canvas even when unchanged; do it only on a change.
  if (viewCanvas.width !== p.width) viewCanvas.width = p.width;
  if (viewCanvas.height !== p.height) viewCanvas.height = p.height;
  drawReplacing(viewCtx, p.view, p.width, p.height);
  SCOPES.forEach(function (id) { drawReplacing(scopeCtx[id], p.scopes[id], SW, SH); });
  if (typeof tilesDrawReady === 'function') tilesDrawReady(); // in this picture's frame
  showAdvice(p.advice);
  if (noSignal) drawNoSignal();
}

// Rewrites the advisor box from the worker's lines ([kind, text] or, for the mean,
// [kind, before, bold, after]); lines equal to those shown leave the box alone.
let adviceShown = '';
function showAdvice(lines) {
  const key = JSON.stringify(lines);
  if (key === adviceShown) return;
  adviceShown = key;
  const box = byId('advisor');
  box.textContent = '';
  lines.forEach(function (line, n) {
    if (n > 0) box.appendChild(document.createElement('br'));
    if (line.length === 4) {
      // The mean line: the number in bold between its two texts.
      const bold = document.createElement('b');
      bold.textContent = line[2];
      box.appendChild(document.createTextNode(line[1]));
      box.appendChild(bold);
      box.appendChild(document.createTextNode(line[3]));
      return;
    }
    const span = document.createElement('span');
    span.className = line[0];
    span.textContent = line[1];
    box.appendChild(span);
  });
}

// ---- No signal ----------------------------------------------------------------
// A picture that stays on the canvas must not pass for live: after a second
// without a new one, or while the camera is known lost, the last picture is
// dimmed under "SEM SINAL" until pictures come back.

const SILENCE_MS = 1000;
let lastPictureAt = 0;
let noSignal = false;
let watchTimer = null;

function cameraLost() { return typeof cameraIsLost === 'function' && !!cameraIsLost(); }

function watchStart() {
  lastPictureAt = Date.now();
  noSignal = false;
  watchTimer = setInterval(watchSignal, 250);
}

function watchStop() {
  if (watchTimer !== null) { clearInterval(watchTimer); watchTimer = null; }
}

function watchSignal() {
  if (lvFeed !== null) showRate();
  if (noSignal || !(cameraLost() || Date.now() - lastPictureAt > SILENCE_MS)) return;
  noSignal = true;
  drawNoSignal();
  log('live view: SEM SINAL');
}

function pictureArrived() {
  lastPictureAt = Date.now();
  if (!noSignal || cameraLost()) return;
  noSignal = false;
  log('live view: sinal restabelecido');
}

function drawNoSignal() {
  const w = viewCanvas.width, h = viewCanvas.height;
  viewCtx.fillStyle = 'rgba(0, 0, 0, 0.6)';
  viewCtx.fillRect(0, 0, w, h);
  viewCtx.fillStyle = '#e8eaed';
  viewCtx.font = 'bold ' + Math.max(12, Math.round(w / 12)) + 'px system-ui, sans-serif';
  viewCtx.textAlign = 'center';
  viewCtx.textBaseline = 'middle';
  viewCtx.fillText('SEM SINAL', w / 2, h / 2);
}

// ---- Rate and delay of "Fluido" -------------------------------------------------

let drawnAt = [];      // when each picture of the last second was drawn (ms)
let lastDelayMs = null; // drawing time minus the picture's X-Timestamp

// The read-out is rewritten by the signal watch four times a second, not per
// picture: a text change costs the page a layout, at up to 30 pictures a second.
function feedPicture(stamp) {
  const now = Date.now();
  drawnAt.push(now);
  lastDelayMs = stamp > 0 ? now - stamp * 1000 : null;
}

function showRate() {
  const now = Date.now();
  while (drawnAt.length && now - drawnAt[0] > 1000) drawnAt.shift();
  const n = drawnAt.length;
  // Pictures per second over the last second's draws, from the first second on.
  const rate = n >= 2 ? Math.round((n - 1) * 1000 / Math.max(1, drawnAt[n - 1] - drawnAt[0])) : n;
  byId('lvrate').textContent = rate + ' qps' + (n && lastDelayMs !== null ? ' · ' + Math.max(0, Math.round(lastDelayMs)) + ' ms' : '');
}
