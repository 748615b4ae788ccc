// Pixel arithmetic shared by the live view, the scopes and the looks: luma, clamp,
// the false-colour and tone tables and the looks themselves.
'use strict';

// Luma weights in thousandths: the sum of integers is exact, so a grey pixel of
// level v has luma exactly v. With the decimal weights 0.299/0.587/0.114 a
// quarter of the grey levels (8, 118, 235, 251, ...) come out a hair below v
// and land in the band, bin or zebra test below their own level.
function luma(r, g, b) { return (299 * r + 587 * g + 114 * b) / 1000; }

function clamp(v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

function falseColor(y) {
  if (y < 8) return [40, 40, 200];
  if (y < 24) return [0, 120, 255];
  if (y < 92) return [60, 60, 60];
  if (y < 118) return [0, 200, 120];
  if (y < 132) return [120, 120, 120];
  if (y < 200) return [170, 170, 170];
  if (y < 235) return [255, 200, 0];
  if (y < 250) return [255, 120, 0];
  return [255, 0, 0];
}

// False colour per integer part of luma: the band bounds are whole numbers, so
// y < bound holds exactly when floor(y) < bound, and a 256-entry table is exact.
const FC_R = new Uint8Array(256), FC_G = new Uint8Array(256), FC_B = new Uint8Array(256);
for (let i = 0; i < 256; i++) {
  const c = falseColor(i);
  FC_R[i] = c[0]; FC_G[i] = c[1]; FC_B[i] = c[2];
}

function s709(x) {
  let t = x / 255;
  t = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
  return 255 * t;
}

// Each look writes its result into out[0..2] so the per-pixel loop allocates nothing.
const LOOKS = [
  { name: 'Neutro', fn: function (r, g, b, out) { out[0] = r; out[1] = g; out[2] = b; } },
  { name: 'Rec.709', fn: function (r, g, b, out) { out[0] = s709(r); out[1] = s709(g); out[2] = s709(b); } },
  { name: 'Quente', fn: function (r, g, b, out) { out[0] = clamp(1.08 * r + 6); out[1] = g; out[2] = clamp(0.92 * b); } },
  { name: 'Frio', fn: function (r, g, b, out) { out[0] = clamp(0.92 * r); out[1] = g; out[2] = clamp(1.1 * b + 6); } },
  { name: 'Alto contraste', fn: function (r, g, b, out) {
    out[0] = clamp((r - 128) * 1.35 + 128); out[1] = clamp((g - 128) * 1.35 + 128); out[2] = clamp((b - 128) * 1.35 + 128);
  } },
  { name: 'P&B', fn: function (r, g, b, out) { const y = luma(r, g, b); out[0] = y; out[1] = y; out[2] = y; } }
];

function findLook(name) {
  for (let i = 0; i < LOOKS.length; i++) if (LOOKS[i].name === name) return LOOKS[i];
  return null;
}

// The tone curve of an 8-bit channel has only 256 inputs, so a table is exact.
const TONE = new Float64Array(256);
for (let i = 0; i < 256; i++) TONE[i] = 255 * Math.pow(i / 255, 0.45);
