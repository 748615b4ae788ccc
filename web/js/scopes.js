// Scopes and advisor: the counts of one analysis picture, the four scope drawings
// and the exposure / white-balance advice drawn from them. Runs in the picture
// worker (and in the page, where the review card and the tests use it).
'use strict';

// ---- Counts -------------------------------------------------------------------

function newCounts(width) {
  return {
    hr: new Float64Array(256), hg: new Float64Array(256), hb: new Float64Array(256), hl: new Float64Array(256),
    wave: new Float64Array(width * 64),
    pr: new Float64Array(width * 64), pg: new Float64Array(width * 64), pb: new Float64Array(width * 64),
    vec: new Float64Array(128 * 128),
    sr: 0, sg: 0, sb: 0, count: 0, hi: 0, sh: 0, width: width
  };
}

// Counts one RGBA picture (the 160-wide analysis copy): into `reuse`, the counts of
// an earlier picture as this returned them, zeroed first, or else into fresh
// arrays. The worker reuses its own: a fresh half megabyte for every picture
// costs more than the counting on machines slow to hand out memory.
function measure(px, width, zebraLevel, reuse) {
  let m = reuse;
  if (!m || m.width !== width) m = newCounts(width);
  else Object.keys(m).forEach(function (k) { if (ArrayBuffer.isView(m[k])) m[k].fill(0); });
  const n = px.length >> 2;
  let sr = 0, sg = 0, sb = 0, hi = 0, sh = 0, col = 0;
  for (let p = 0, i = 0; p < n; p++, i += 4) {
    const r = px[i], g = px[i + 1], b = px[i + 2];
    const y = Math.floor((299 * r + 587 * g + 114 * b) / 1000);
    m.hr[r]++; m.hg[g]++; m.hb[b]++; m.hl[y]++;
    sr += r; sg += g; sb += b;
    if (y >= zebraLevel) hi++;
    if (y <= 5) sh++;
    const base = col * 64 + 63;
    m.wave[base - (y >> 2)]++;
    m.pr[base - (r >> 2)]++; m.pg[base - (g >> 2)]++; m.pb[base - (b >> 2)]++;
    // Rec. 601 colour differences, weights in thousandths so grey gives exactly 0.
    const cb = (-169 * r - 331 * g + 500 * b) / 1000;
    const cr = (500 * r - 419 * g - 81 * b) / 1000;
    let vc = Math.trunc(64 + 0.42 * cb), vr = Math.trunc(64 - 0.42 * cr);
    vc = vc < 0 ? 0 : vc > 127 ? 127 : vc;
    vr = vr < 0 ? 0 : vr > 127 ? 127 : vr;
    m.vec[vr * 128 + vc]++;
    if (++col === width) col = 0;
  }
  m.sr = sr; m.sg = sg; m.sb = sb; m.count = n; m.hi = hi; m.sh = sh;
  return m;
}

// ---- Scopes -----------------------------------------------------------------

const SW = 320, SH = 120;
const SCOPES = ['hist', 'wave', 'parade', 'vector'];
// The 2D context each scope draws on, by name: the worker's own canvases there,
// the page's canvases in the page.
const scopeCtx = {};

function peakOf(arrays) {
  let peak = 1;
  for (let a = 0; a < arrays.length; a++) {
    const arr = arrays[a];
    for (let i = 0; i < arr.length; i++) if (arr[i] > peak) peak = arr[i];
  }
  return peak;
}

function histArea(ctx, bins, peak, colour) {
  ctx.beginPath();
  ctx.moveTo(0, SH);
  for (let i = 0; i < 256; i++) ctx.lineTo(i / 255 * SW, SH - bins[i] / peak * SH);
  ctx.lineTo(SW, SH);
  ctx.closePath();
  ctx.fillStyle = colour;
  ctx.fill();
}

function drawHist(m) {
  const ctx = scopeCtx.hist;
  ctx.clearRect(0, 0, SW, SH);
  const peak = peakOf([m.hr, m.hg, m.hb, m.hl]);
  ctx.globalCompositeOperation = 'lighter';
  histArea(ctx, m.hr, peak, 'rgba(255,60,60,.5)');
  histArea(ctx, m.hg, peak, 'rgba(60,255,60,.5)');
  histArea(ctx, m.hb, peak, 'rgba(80,120,255,.5)');
  ctx.globalCompositeOperation = 'source-over';
  histArea(ctx, m.hl, peak, 'rgba(220,220,220,.35)');
}

// The 64 level bins of the waveform and the parade, per scope row.
const ROW_BIN = new Int32Array(SH);
for (let y = 0; y < SH; y++) ROW_BIN[y] = Math.floor(y / SH * 64);

// A scope's pixels, kept from picture to picture: cleared when `clear`.
const scopePixels = {};
function scopeImage(id, clear) {
  const img = scopePixels[id] || (scopePixels[id] = new ImageData(SW, SH));
  if (clear) img.data.fill(0);
  return img;
}

function drawWave(m) {
  const ctx = scopeCtx.wave;
  ctx.fillStyle = '#08090b';
  ctx.fillRect(0, 0, SW, SH);
  const peak = peakOf([m.wave]);
  const img = scopeImage('wave', false); // every pixel is written below
  const d = img.data;
  for (let x = 0; x < SW; x++) {
    const src = Math.floor(x / SW * m.width) * 64;
    for (let y = 0; y < SH; y++) {
      const v = m.wave[src + ROW_BIN[y]] / peak;
      const g = Math.min(255, 900 * v);
      const i = (y * SW + x) * 4;
      d[i] = 0.6 * g; d[i + 1] = g; d[i + 2] = 0.6 * g; d[i + 3] = 255;
    }
  }
  ctx.putImageData(img, 0, 0);
}

function drawParade(m) {
  const ctx = scopeCtx.parade;
  ctx.fillStyle = '#08090b';
  ctx.fillRect(0, 0, SW, SH);
  const peak = peakOf([m.pr, m.pg, m.pb]);
  const img = scopeImage('parade', true);
  const d = img.data;
  const third = SW / 3;
  const chans = [m.pr, m.pg, m.pb];
  for (let c = 0; c < 3; c++) {
    const bins = chans[c];
    for (let x = 0; x < third; x++) {
      const src = Math.floor(x / third * m.width) * 64;
      const dx = Math.floor(x + c * third);
      for (let y = 0; y < SH; y++) {
        const count = bins[src + ROW_BIN[y]];
        if (count === 0) continue;
        const i = (y * SW + dx) * 4;
        d[i + c] = Math.min(255, 900 * (count / peak));
        d[i + 3] = 255;
      }
    }
  }
  ctx.putImageData(img, 0, 0);
}

function drawVector(m) {
  const ctx = scopeCtx.vector;
  const cx = SW / 2, cy = SH / 2, rad = Math.min(SW, SH) / 2 - 4;
  ctx.globalAlpha = 1;
  ctx.fillStyle = '#08090b';
  ctx.fillRect(0, 0, SW, SH);
  ctx.strokeStyle = '#2a2f36';
  ctx.lineWidth = 1;
  ctx.beginPath();
  ctx.arc(cx, cy, rad, 0, Math.PI * 2);
  ctx.moveTo(cx - rad, cy); ctx.lineTo(cx + rad, cy);
  ctx.moveTo(cx, cy - rad); ctx.lineTo(cx, cy + rad);
  ctx.stroke();
  const skin = 123 * Math.PI / 180;
  ctx.strokeStyle = 'rgba(230,160,120,.5)';
  ctx.beginPath();
  ctx.moveTo(cx, cy);
  ctx.lineTo(cx + rad * Math.cos(skin), cy - rad * Math.sin(skin));
  ctx.stroke();
  const peak = peakOf([m.vec]);
  for (let r = 0; r < 128; r++) {
    for (let c = 0; c < 128; c++) {
      const count = m.vec[r * 128 + c];
      if (count <= 0) continue;
      const v = count / peak;
      const g = Math.min(255, 1400 * v);
      ctx.globalAlpha = Math.min(1, 6 * v);
      ctx.fillStyle = 'rgb(' + Math.floor(120 + 0.5 * g) + ',200,160)';
      ctx.fillRect(cx + (c - 64) / 64 * rad, cy + (r - 64) / 64 * rad, 1.4, 1.4);
    }
  }
  ctx.globalAlpha = 1;
}

// ---- Advisor ----------------------------------------------------------------

// Returns the advisor's lines as [kind, text] with kind '', 'good' or 'warn'.
function adviceLines(mr, mg, mb, hiFrac, shFrac, hist, count) {
  const lines = [];
  lines.push(['', 'Exposição média: ', luma(mr, mg, mb).toFixed(0), '/255']);
  if (hiFrac > 0.02) {
    lines.push(['warn', '⚠ Altas estourando ' + (hiFrac * 100).toFixed(1) + '% → reduza ~' +
      (hiFrac > 0.06 ? '1' : '0.7') + ' EV ou feche a abertura.']);
  }
  if (shFrac > 0.05) {
    lines.push(['warn', '⚠ Sombras esmagadas ' + (shFrac * 100).toFixed(1) + '% → +EV ou levante as sombras.']);
  }
  if (!(hiFrac > 0.02) && !(shFrac > 0.05)) lines.push(['good', '✓ Exposição equilibrada (poucos estouros).']);
  const avg = (mr + mg + mb) / 3, dr = mr - avg, db = mb - avg;
  if (Math.abs(dr) > 10 || Math.abs(db) > 10) {
    if (dr > db) lines.push(['warn', 'Dominante quente → esfrie o WB (' + (dr > 20 ? '-500' : '-200') + 'K aprox).']);
    else lines.push(['warn', 'Dominante fria → esquente o WB (' + (db > 20 ? '+500' : '+200') + 'K aprox).']);
  } else {
    lines.push(['good', '✓ Balanço de branco neutro (gray-world).']);
  }
  let total = 0, sum = 0;
  for (let i = 0; i < 256; i++) { total += hist[i]; sum += i * hist[i]; }
  if (total > 0) {
    const mean = sum / total;
    let varSum = 0;
    for (let i = 0; i < 256; i++) varSum += hist[i] * (i - mean) * (i - mean);
    const sigma = Math.sqrt(varSum / total);
    if (sigma < 42) {
      lines.push(['warn', 'Imagem achatada (σ=' + sigma.toFixed(0) + ') — parece Log. Ative o "LUT monitor (Log→709)".']);
    }
  }
  return lines;
}
