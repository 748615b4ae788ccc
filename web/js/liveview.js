// Live view: fetches the pictures, draws them with the overlays and the active look,
// and hands each one to the scopes.
'use strict';

// ---- Overlays -----------------------------------------------------------------

const LOOK_OUT = new Float64Array(3);

// Applies tone curve, look, false colour, zebra and focus peaking in place to
// RGBA pixels (row-major, `width` per row). Peaking runs one pixel behind the
// other steps so it compares stored (rounded) values, as a second pass would.
function paintOverlays(px, width, o) {
  const n = px.length >> 2;
  const tone = !!o.mlut, fc = !!o.falseColor, zebra = !!o.zebra, peak = !!o.peaking;
  const look = o.look && o.look !== 'Neutro' ? findLook(o.look) : null;
  const lookFn = look ? look.fn : null;
  const zl = o.zebraLevel, th = o.peakThreshold;
  const out = LOOK_OUT, toneLut = TONE, fcR = FC_R, fcG = FC_G, fcB = FC_B;
  const needY = fc || zebra;
  let col = 0, phase = 0; // phase = (k + row) mod 6
  let prevN = 0;
  const th1000 = th * 1000;
  for (let k = 0, i = 0; k < n; k++, i += 4) {
    let r = px[i], g = px[i + 1], b = px[i + 2];
    if (tone) {
      r = toneLut[r]; g = toneLut[g]; b = toneLut[b];
      const ym = (299 * r + 587 * g + 114 * b) / 1000;
      r = ym + (r - ym) * 1.25; r = r < 0 ? 0 : r > 255 ? 255 : r;
      g = ym + (g - ym) * 1.25; g = g < 0 ? 0 : g > 255 ? 255 : g;
      b = ym + (b - ym) * 1.25; b = b < 0 ? 0 : b > 255 ? 255 : b;
    }
    if (lookFn !== null) {
      lookFn(r, g, b, out);
      r = out[0]; g = out[1]; b = out[2];
    }
    if (needY) {
      const y = (299 * r + 587 * g + 114 * b) / 1000;
      if (zebra && y > zl && phase < 3) {
        r = 255; g = 0; b = 180;
      } else if (fc) {
        const yi = y | 0;
        r = fcR[yi]; g = fcG[yi]; b = fcB[yi];
      }
    }
    // The clamped array rounds half to even and limits to 0..255 on store.
    px[i] = r; px[i + 1] = g; px[i + 2] = b;
    if (peak) {
      // Stored values are integers, so luma × 1000 is an exact integer: a gap of a
      // whole unit or more from threshold × 1000 decides without dividing; only
      // the cases right at the threshold take the division the rule is written with.
      const ns = 299 * px[i] + 587 * px[i + 1] + 114 * px[i + 2];
      if (k > 0) {
        const gap = (ns > prevN ? ns - prevN : prevN - ns) - th1000;
        if (gap >= 1 || (gap > -1 && Math.abs(ns / 1000 - prevN / 1000) > th)) {
          px[i - 4] = 255; px[i - 3] = 40; px[i - 2] = 40;
        }
      }
      prevN = ns;
    }
    if (++phase === 6) phase = 0;
    if (++col === width) { col = 0; if (++phase === 6) phase = 0; }
  }
}

// ---- Live view ----------------------------------------------------------------

const modes = { peaking: false, zebra: false, false: false, mlut: false };
let activeLook = 'Neutro';
let lvTimer = null;
let lvFeed = null; // the stream run of "Fluido" (feed.js) while it runs
let lastImg = null;
let looksBuilt = false;
const viewCanvas = byId('view');
const viewCtx = viewCanvas.getContext('2d', { willReadFrequently: true });
const AW = 160, AH = 107;
const anaCanvas = document.createElement('canvas');
anaCanvas.width = AW; anaCanvas.height = AH;
const anaCtx = anaCanvas.getContext('2d', { willReadFrequently: true });

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

function lvRunning() { return lvTimer !== null || lvFeed !== null; }

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
  if (fluid) lvFeed = feedStart(feedPicture);
  else lvTimer = setInterval(tick, 150);
}

function lvHalt() {
  if (lvTimer !== null) { clearInterval(lvTimer); lvTimer = null; }
  if (lvFeed !== null) { feedStop(lvFeed); lvFeed = null; }
  watchStop();
  drawnAt = [];
  lastDelayMs = null;
  byId('lvrate').textContent = '';
}

// "Fluido": follow the server's stream instead of asking for one picture per tick.
function fluidToggle(btn) {
  fluid = !fluid;
  btn.classList.toggle('on', fluid);
  writeSetting(FLUID_KEY, fluid ? '1' : '0');
  if (lvRunning()) { lvHalt(); lvBegin(); }
}

function tog(btn) {
  const m = btn.getAttribute('data-m');
  modes[m] = !modes[m];
  btn.classList.toggle('on', modes[m]);
}

function tick() {
  const img = new Image();
  img.onload = function () { showPicture(img); };
  img.onerror = function () { /* skipped: the previous picture stays */ };
  img.src = '/liveview.jpg?t=' + Date.now();
}

// One new picture, from either mode: the view, the scopes and the advisor.
function showPicture(img) {
  pictureArrived();
  // A decoded bitmap holds its pixels until closed; the looks were built from it already.
  if (lastImg !== null && lastImg !== img && typeof lastImg.close === 'function') lastImg.close();
  lastImg = img;
  renderView(img);
  analyze();
  if (!looksBuilt) buildLooks(img);
  if (noSignal) drawNoSignal();
}

// Draws `img` replacing whatever the canvas held, as a freshly sized canvas would.
function drawReplacing(ctx, img, w, h) {
  ctx.globalCompositeOperation = 'copy';
  ctx.drawImage(img, 0, 0, w, h);
  ctx.globalCompositeOperation = 'source-over';
}

// An <img> has its size as naturalWidth (0 when it failed); a decoded bitmap as width.
function pictureSize(img) {
  if (img.naturalWidth === undefined) return [img.width, img.height];
  return [img.naturalWidth || 640, img.naturalHeight || 426];
}

function renderView(img) {
  const pk = Number(byId('pk').value), zb = Number(byId('zb').value);
  const [w, h] = pictureSize(img);
  // Assigning the size reallocates the canvas even when unchanged; do it only on a change.
  if (viewCanvas.width !== w) viewCanvas.width = w;
  if (viewCanvas.height !== h) viewCanvas.height = h;
  drawReplacing(viewCtx, img, w, h);
  if (!modes.peaking && !modes.zebra && !modes.false && !modes.mlut && activeLook === 'Neutro') return;
  const frame = viewCtx.getImageData(0, 0, w, h);
  paintOverlays(frame.data, w, {
    mlut: modes.mlut, look: activeLook, falseColor: modes.false, zebra: modes.zebra, peaking: modes.peaking,
    zebraLevel: zb, peakThreshold: pk
  });
  viewCtx.putImageData(frame, 0, 0);
}

function analyze() {
  if (!lastImg) return null;
  drawReplacing(anaCtx, lastImg, AW, AH);
  const m = measure(anaCtx.getImageData(0, 0, AW, AH).data, AW, Number(byId('zb').value));
  drawHist(m);
  drawWave(m);
  drawParade(m);
  drawVector(m);
  advise(m.sr / m.count, m.sg / m.count, m.sb / m.count, m.hi / m.count, m.sh / m.count, m.hl, m.count);
  return m;
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

function feedPicture(bitmap, stamp) {
  showPicture(bitmap);
  const now = Date.now();
  drawnAt.push(now);
  lastDelayMs = stamp > 0 ? now - stamp * 1000 : null;
  showRate();
}

function showRate() {
  const now = Date.now();
  while (drawnAt.length && now - drawnAt[0] > 1000) drawnAt.shift();
  const n = drawnAt.length;
  // Pictures per second over the last second's draws, from the first second on.
  const rate = n >= 2 ? Math.round((n - 1) * 1000 / Math.max(1, drawnAt[n - 1] - drawnAt[0])) : n;
  byId('lvrate').textContent = rate + ' qps' + (n && lastDelayMs !== null ? ' · ' + Math.max(0, Math.round(lastDelayMs)) + ' ms' : '');
}
