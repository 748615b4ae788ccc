// PTZ: the pad's commands and every way of driving the head by holding. The
// arrows start the head turning at the slider's speed, Parar stops it, ⌂ sends
// it home. Held controls (the pad with "Segurar para mover", the keyboard, a
// gamepad, a drag on the picture) move with a lease the server ends by itself
// when the renewals stop, so a lost tab or network never leaves the head running.
// Every command goes to the camera the card addresses (ptzShow).
'use strict';

// The camera the card drives, and what the card knows of it: its model as the
// server lists it (undefined: the one the connection form names), whether it
// answers (connected) and whether it has a head (a drag on the picture moves it
// only then).
const ptzCamera = { camera: MAIN_CAMERA, model: undefined, connected: false, head: false };

// Pan and tilt are speeds, the sign the direction; they go into the query as the
// numbers read ("pan=-30&tilt=0").
function ptzMove(pan, tilt) { return api('/ptz/move', 'pan=' + pan + '&tilt=' + tilt, ptzCamera.camera); }

function ptzHome() { return api('/ptz/home', '', ptzCamera.camera); }

function ptzStop(camera) { return api('/ptz/stop', '', camera || ptzCamera.camera); }

// ---- Held moves -------------------------------------------------------------

const PTZ_HOLD_MS = 600;   // the lease each held move asks for
const PTZ_RENEW_MS = 200;  // renewal period: two renewals may be lost
const PTZ_GAP_MS = 170;    // least time between two commands: at most 6 a second

// The one held move under way, whichever control drives it, and the camera it moves.
const ptzDrive = { source: null, pan: 0, tilt: 0, step: 0, moving: false, sentPan: 0, sentTilt: 0, lastSend: 0, timer: 0, camera: null };

function ptzSpeed() { return Number(byId('ptzspeed').value); }

// Renewals and follow-up speeds go unlogged: only the start and the stop of a hold
// reach the log.
function ptzQuiet(path, query) {
  const url = ptzDrive.camera.url(query ? path + '?' + query : path);
  return request(url, { method: 'POST' }, 'text').catch(function () { /* the lease covers it */ });
}

// True when the wanted speeds differ from those sent by at least `step` (an axis that
// starts, stops or turns round always counts).
function driveChanged() {
  const axes = [[ptzDrive.pan, ptzDrive.sentPan], [ptzDrive.tilt, ptzDrive.sentTilt]];
  return axes.some(function (a) {
    return Math.sign(a[0]) !== Math.sign(a[1]) || Math.abs(a[0] - a[1]) >= Math.max(ptzDrive.step, 1);
  });
}

// Sends what is due now (a new speed or a renewal) and plans the next look.
function driveTick() {
  clearTimeout(ptzDrive.timer);
  ptzDrive.timer = 0;
  if (!ptzDrive.source) return;
  const since = performance.now() - ptzDrive.lastSend;
  const changed = !ptzDrive.moving || driveChanged();
  if (changed && (!ptzDrive.moving || since >= PTZ_GAP_MS)) {
    const query = 'pan=' + ptzDrive.pan + '&tilt=' + ptzDrive.tilt + '&hold=' + PTZ_HOLD_MS;
    if (ptzDrive.moving) ptzQuiet('/ptz/move', query); else api('/ptz/move', query, ptzDrive.camera);
    ptzDrive.moving = true;
    ptzDrive.sentPan = ptzDrive.pan;
    ptzDrive.sentTilt = ptzDrive.tilt;
    ptzDrive.lastSend = performance.now();
  } else if (!changed && since >= PTZ_RENEW_MS) {
    ptzQuiet('/ptz/renew');
    ptzDrive.lastSend = performance.now();
  }
  // A change still waiting for its gap, else the next renewal.
  const due = driveChanged() ? PTZ_GAP_MS : PTZ_RENEW_MS;
  ptzDrive.timer = setTimeout(driveTick, Math.max(0, ptzDrive.lastSend + due - performance.now()));
}

// `source` wants the head at these speeds; it takes over from any other control.
// step: the least change worth a new command (0: any).
function driveTo(source, pan, tilt, step) {
  if (pan === 0 && tilt === 0) return driveStop(source);
  if (!ptzDrive.moving) ptzDrive.camera = ptzCamera.camera;
  ptzDrive.source = source;
  ptzDrive.pan = pan;
  ptzDrive.tilt = tilt;
  ptzDrive.step = step || 0;
  driveTick();
}

// Ends the held move of `source` (null: of any control); the stop goes at once.
function driveStop(source) {
  if (source && ptzDrive.source !== source) return;
  const moving = ptzDrive.moving, camera = ptzDrive.camera;
  driveForget();
  if (moving) ptzStop(camera);
}

// Forgets the held move without a stop (another command took the head over).
function driveForget() {
  clearTimeout(ptzDrive.timer);
  Object.assign(ptzDrive, { source: null, pan: 0, tilt: 0, moving: false, sentPan: 0, sentTilt: 0, timer: 0, camera: null });
}

// Every held control lets go: the window lost focus or the page is hidden.
function ptzReleaseAll() {
  ptzKeysDown.clear();
  ptzDragFrom = null;
  driveStop(null);
}

// ---- The pad ------------------------------------------------------------------

function ptzHoldMode() { return byId('ptzhold').checked; }

function ptzHoldToggle(box) {
  try { localStorage.setItem('kamora.ptzHold', box.checked ? '1' : '0'); } catch (e) { /* private mode */ }
}

function ptzPadWire(button) {
  const dir = button.getAttribute('data-dir').split(',').map(Number);
  const speeds = function () { const s = ptzSpeed(); return [dir[0] * s, dir[1] * s]; };
  button.addEventListener('click', function () {
    if (!ptzHoldMode()) ptzMove(speeds()[0], speeds()[1]);
  });
  button.addEventListener('pointerdown', function (e) {
    if (!ptzHoldMode() || e.button !== 0) return;
    e.preventDefault();
    driveTo('pad', speeds()[0], speeds()[1], 0);
  });
  for (const end of ['pointerup', 'pointerleave', 'pointercancel']) {
    button.addEventListener(end, function () { driveStop('pad'); });
  }
}

// ---- Presets --------------------------------------------------------------------

let ptzPresetsKnown = [];
let ptzPresetStep = -1;  // the gamepad's place in ptzPresetsKnown

function presetsShow(list) {
  ptzPresetsKnown = Array.isArray(list) ? list.filter(Number.isInteger) : [];
  document.querySelectorAll('#ptzpresets [data-n]').forEach(function (el) {
    el.classList.toggle('on', ptzPresetsKnown.includes(Number(el.getAttribute('data-n'))));
  });
}

function presetsRefresh() {
  const camera = ptzCamera.camera;
  return request(camera.url('/ptz/presets'), { cache: 'no-store' }, 'json')
    .then(function (r) { if (camera === ptzCamera.camera) presetsShow(r.ok ? r.body : []); })
    .catch(function () { /* keep the row as it was */ });
}

function presetRecall(n) { return api('/ptz/preset/recall', 'num=' + n, ptzCamera.camera); }
function presetStore(n) { return api('/ptz/preset/set', 'num=' + n, ptzCamera.camera).then(presetsRefresh); }
function presetClear(n) { return api('/ptz/preset/clear', 'num=' + n, ptzCamera.camera).then(presetsRefresh); }

// The gamepad's shoulders: the next or previous preset that exists, round the row.
function presetStepBy(delta) {
  if (!ptzPresetsKnown.length) return;
  ptzPresetStep = (ptzPresetStep + delta + ptzPresetsKnown.length) % ptzPresetsKnown.length;
  presetRecall(ptzPresetsKnown[ptzPresetStep]);
}

// Click recalls, Shift+click or a 600 ms press stores, × clears.
function presetWire(el) {
  const n = Number(el.getAttribute('data-n'));
  const [main, clear] = el.querySelectorAll('button');
  let timer = 0, stored = false;
  main.addEventListener('pointerdown', function (e) {
    if (e.button !== 0) return;
    stored = false;
    timer = setTimeout(function () { timer = 0; stored = true; presetStore(n); }, 600);
  });
  for (const end of ['pointerup', 'pointerleave', 'pointercancel']) {
    main.addEventListener(end, function () { clearTimeout(timer); timer = 0; });
  }
  main.addEventListener('click', function (e) {
    if (stored) { stored = false; return; }
    if (e.shiftKey) presetStore(n); else presetRecall(n);
  });
  clear.addEventListener('click', function () { presetClear(n); });
}

// ---- Connection: the read-outs show a camera once it answers -------------------

const HEAD_MODELS = ['CB_P7', 'PZ_M7'];

function ptzCameraWatch() {
  const connected = Array.from(byId('reads').querySelectorAll('[data-p]')).some(function (el) { return el.textContent !== '—'; });
  if (connected === ptzCamera.connected) return;
  ptzCamera.connected = connected;
  ptzCamera.head = connected && HEAD_MODELS.includes(ptzCamera.model !== undefined ? ptzCamera.model : byId('model').value);
  if (connected) presetsRefresh(); else presetsShow([]);
}

function hasHead(model) { return HEAD_MODELS.includes(model); }

// The card drives `camera` from now on (model: its model, null when not known yet);
// a held move on the camera before is stopped first.
function ptzShow(camera, model) {
  if (camera === ptzCamera.camera && model === ptzCamera.model) return;
  if (ptzDrive.moving && ptzDrive.camera !== camera) ptzReleaseAll();
  const another = camera !== ptzCamera.camera;
  ptzCamera.camera = camera;
  ptzCamera.model = model;
  if (another) {
    ptzCamera.connected = false;
    presetsShow([]);
  } else {
    ptzCamera.head = ptzCamera.connected && hasHead(model);
  }
  ptzCameraWatch();
}

// ---- Keyboard: held keys move, never while the user types in a field ------------

const KEY_DIRS = {
  ArrowUp: [0, 1], KeyW: [0, 1], ArrowDown: [0, -1], KeyS: [0, -1],
  ArrowLeft: [-1, 0], KeyA: [-1, 0], ArrowRight: [1, 0], KeyD: [1, 0],
};
const ptzKeysDown = new Set();

function typingIn(el) {
  return !!el && (el.isContentEditable || ['INPUT', 'SELECT', 'TEXTAREA'].includes(el.tagName));
}

function keysDrive() {
  let pan = 0, tilt = 0;
  ptzKeysDown.forEach(function (code) { pan += KEY_DIRS[code][0]; tilt += KEY_DIRS[code][1]; });
  const s = ptzSpeed();
  driveTo('keys', Math.sign(pan) * s, Math.sign(tilt) * s, 0);
}

function ptzKeyDown(e) {
  if (typingIn(e.target) || e.ctrlKey || e.metaKey || e.altKey) return;
  const digit = /^(Digit|Numpad)([1-9])$/.exec(e.code);
  if (KEY_DIRS[e.code]) {
    e.preventDefault();
    // A repeat is the key still held: a renewal when one is due, never a new move.
    if (e.repeat && ptzKeysDown.has(e.code)) return driveTick();
    ptzKeysDown.add(e.code);
    keysDrive();
  } else if (e.code === 'Home') {
    e.preventDefault();
    ptzKeysDown.clear();
    driveForget();
    ptzHome();
  } else if (e.code === 'Escape' || (e.code === 'Space' && e.target.tagName !== 'BUTTON')) {
    // (Space on a focused button presses that button, as it always has.)
    e.preventDefault();
    ptzKeysDown.clear();
    driveForget();
    ptzStop();
  } else if (digit && !e.repeat) {
    e.preventDefault();
    if (e.shiftKey) presetStore(Number(digit[2])); else presetRecall(Number(digit[2]));
  }
}

function ptzKeyUp(e) {
  if (!ptzKeysDown.delete(e.code)) return;
  if (ptzKeysDown.size) keysDrive(); else driveStop('keys');
}

// ---- Gamepad: the left stick, polled each frame while a gamepad is there ---------

const STICK_DEAD = 0.15;
let ptzPadFrame = 0;
let ptzPadButtons = [];

// Cubic: fine control near the centre, the slider's speed at full deflection.
function stickSpeed(v, cap) {
  const a = Math.min(Math.abs(v || 0), 1);
  if (a < STICK_DEAD) return 0;
  return Math.sign(v) * Math.max(1, Math.round(a * a * a * cap));
}

function firstGamepad() {
  const list = navigator.getGamepads ? Array.from(navigator.getGamepads()) : [];
  return list.find(function (g) { return g && g.connected !== false; }) || null;
}

function gamepadPoll() {
  ptzPadFrame = 0;
  const g = firstGamepad();
  if (!g) return driveStop('gamepad');  // gone: the loop ends here
  const cap = ptzSpeed();
  const pan = stickSpeed(g.axes[0], cap), tilt = stickSpeed(-(g.axes[1] || 0), cap);
  if (pan || tilt) driveTo('gamepad', pan, tilt, 0.05 * cap); else driveStop('gamepad');
  const pressed = (g.buttons || []).map(function (b) { return !!(b && b.pressed); });
  const edge = function (i) { return pressed[i] && !ptzPadButtons[i]; };
  if (edge(0)) { driveForget(); ptzHome(); }
  if (edge(4)) presetStepBy(-1);
  if (edge(5)) presetStepBy(1);
  ptzPadButtons = pressed;
  ptzPadFrame = requestAnimationFrame(gamepadPoll);
}

function gamepadStart() { if (!ptzPadFrame) ptzPadFrame = requestAnimationFrame(gamepadPoll); }

// ---- Drag on the picture: speed follows the offset from the press point ----------

let ptzDragFrom = null;

function dragSpeed(offset, quarter, cap) {
  return Math.sign(offset) * Math.round(Math.min(Math.abs(offset) / quarter, 1) * cap);
}

function dragWire(view) {
  view.addEventListener('pointerdown', function (e) {
    if (!ptzCamera.head || e.button !== 0) return;
    ptzDragFrom = { x: e.clientX, y: e.clientY, moved: false };
    view.setPointerCapture(e.pointerId);
  });
  view.addEventListener('pointermove', function (e) {
    if (!ptzDragFrom) return;
    const dx = e.clientX - ptzDragFrom.x, dy = e.clientY - ptzDragFrom.y;
    // A few pixels of hand tremor are still a click, and a click does nothing.
    if (!ptzDragFrom.moved && Math.hypot(dx, dy) < 6) return;
    ptzDragFrom.moved = true;
    const quarter = view.getBoundingClientRect().width / 4, cap = ptzSpeed();
    driveTo('drag', dragSpeed(dx, quarter, cap), dragSpeed(-dy, quarter, cap), 0.05 * cap);
  });
  for (const end of ['pointerup', 'pointercancel', 'lostpointercapture']) {
    view.addEventListener(end, function () { ptzDragFrom = null; driveStop('drag'); });
  }
}

// ---- Wiring -------------------------------------------------------------------------

function ptzWire() {
  try { byId('ptzhold').checked = localStorage.getItem('kamora.ptzHold') === '1'; } catch (e) { /* private mode */ }
  document.querySelectorAll('#ptzpad [data-dir]').forEach(ptzPadWire);
  document.querySelectorAll('#ptzpresets [data-n]').forEach(presetWire);
  dragWire(byId('view'));
  new MutationObserver(ptzCameraWatch).observe(byId('reads'), { childList: true, subtree: true, characterData: true });
  document.addEventListener('keydown', ptzKeyDown);
  document.addEventListener('keyup', ptzKeyUp);
  window.addEventListener('blur', ptzReleaseAll);
  document.addEventListener('visibilitychange', function () { if (document.hidden) ptzReleaseAll(); });
  // Closing the tab: the stop must outlive the page.
  window.addEventListener('pagehide', function () {
    if (ptzDrive.moving) fetch(ptzDrive.camera.url('/ptz/stop'), { method: 'POST', keepalive: true }).catch(function () {});
    driveForget();
  });
  window.addEventListener('gamepadconnected', gamepadStart);
  window.addEventListener('gamepaddisconnected', function () { if (!firstGamepad()) driveStop('gamepad'); });
  if (firstGamepad()) gamepadStart();
}

ptzWire();
