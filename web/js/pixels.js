// Pixel rules of the live view: luma, clamp, the false-colour and tone tables, the
// looks, and paintOverlays, the one pass that applies them. Runs in the picture
// worker (and in the page, where the tests call it on synthetic pictures).
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

// ---- Looks ----------------------------------------------------------------------
// Each channel formula is written once here; the looks below and the per-pixel
// loop both call them directly, which the engine inlines.

function s709(x) {
  let t = x / 255;
  t = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
  return 255 * t;
}
function warmRed(x) { return clamp(1.08 * x + 6); }
function warmBlue(x) { return clamp(0.92 * x); }
function coolRed(x) { return clamp(0.92 * x); }
function coolBlue(x) { return clamp(1.1 * x + 6); }
function contrast(x) { return clamp((x - 128) * 1.35 + 128); }

// The looks in gallery order. Each writes its result into out[0..2] so a loop over
// pixels allocates nothing; `channels` is false for the one that mixes channels.
const LOOKS = [
  { name: 'Neutro', channels: true, fn: function (r, g, b, out) { out[0] = r; out[1] = g; out[2] = b; } },
  { name: 'Rec.709', channels: true, fn: function (r, g, b, out) { out[0] = s709(r); out[1] = s709(g); out[2] = s709(b); } },
  { name: 'Quente', channels: true, fn: function (r, g, b, out) { out[0] = warmRed(r); out[1] = g; out[2] = warmBlue(b); } },
  { name: 'Frio', channels: true, fn: function (r, g, b, out) { out[0] = coolRed(r); out[1] = g; out[2] = coolBlue(b); } },
  { name: 'Alto contraste', channels: true, fn: function (r, g, b, out) { out[0] = contrast(r); out[1] = contrast(g); out[2] = contrast(b); } },
  { name: 'P&B', channels: false, fn: function (r, g, b, out) { const y = luma(r, g, b); out[0] = y; out[1] = y; out[2] = y; } }
];
// Positions in LOOKS, for the per-pixel loop's switch.
const LOOK_709 = 1, LOOK_WARM = 2, LOOK_COOL = 3, LOOK_CONTRAST = 4, LOOK_BW = 5;

function findLook(name) {
  for (let i = 0; i < LOOKS.length; i++) if (LOOKS[i].name === name) return LOOKS[i];
  return null;
}

// The tone curve of an 8-bit channel has only 256 inputs, so a table is exact.
const TONE = new Float64Array(256);
for (let i = 0; i < 256; i++) TONE[i] = 255 * Math.pow(i / 255, 0.45);

// A look that works channel by channel, on whole-number inputs (no tone curve
// before it), has 256 possible results per channel: tables of the same values.
const LOOK_TABLES = LOOKS.map(function (look) {
  if (!look.channels) return null;
  const t = [new Float64Array(256), new Float64Array(256), new Float64Array(256)];
  const out = new Float64Array(3);
  for (let v = 0; v < 256; v++) {
    look.fn(v, v, v, out);
    t[0][v] = out[0]; t[1][v] = out[1]; t[2][v] = out[2];
  }
  return t;
});

// ---- The per-pixel pass ------------------------------------------------------------

// Adding and taking away 1.5 × 2^52 leaves a double in 0..255 rounded to a whole
// number, halves to even: the store rule of clamped pixel arrays.
const ROUND_EVEN = 6755399441055744;
// Byte positions inside one 32-bit pixel, from the machine's byte order.
const LITTLE_ENDIAN = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;
const SH_R = LITTLE_ENDIAN ? 0 : 24, SH_G = LITTLE_ENDIAN ? 8 : 16, SH_B = LITTLE_ENDIAN ? 16 : 8;
const ALPHA_MASK = LITTLE_ENDIAN ? 0xff000000 | 0 : 0xff;
const PEAK_RGB = (255 << SH_R) | (40 << SH_G) | (40 << SH_B);

// Applies tone curve, look, false colour, zebra and focus peaking in place to
// RGBA pixels (row-major, `width` per row), in one pass over 32-bit words.
// Peaking runs one pixel behind the other steps so it compares stored (rounded)
// values, as a second pass would. A live picture repeats a word along a row
// (most of a flat area): a run of equal words takes one result, written
// as it is, so the work follows the picture's changes more than its size.
// bgrx: the bytes come as B, G, R and a fourth byte of no meaning (an opaque
// picture in its decoder's own order, copied without converting); the result
// is RGBA all the same, opaque.
function paintOverlays(px, width, o, bgrx) {
  const n = px.length >> 2;
  // A view on the pixels' own bytes needs them 4-aligned; otherwise work on a copy.
  const aligned = (px.byteOffset & 3) === 0;
  const words = aligned ? new Int32Array(px.buffer, px.byteOffset, n) : new Int32Array(new Uint8Array(px.subarray(0, n * 4)).buffer);
  paintWords(words, width, o, !!bgrx);
  if (!aligned) px.set(new Uint8Array(words.buffer));
}

// Everything but zebra's stripes and peaking depends on a pixel's colour alone, and
// a picture repeats its colours (neighbours, the frames before it): each colour's
// result is kept in a table of 2^18 slots, one colour per slot, made anew when a
// setting it depends on changes. Thread-bound: one per page or worker.
const MEMO_BITS = 18;
const memo = { settings: '', keys: new Int32Array(1 << MEMO_BITS).fill(-1), results: new Int32Array(1 << MEMO_BITS) };
const RGB_MASK = ~ALPHA_MASK;
// Set in a result (in its alpha byte, which is not kept) when the luma is above the zebra level.
const OVER_ZEBRA = LITTLE_ENDIAN ? 1 << 24 : 1;

// The overlays' result for one colour: the stored colour after tone curve, look and
// false colour, with OVER_ZEBRA when the luma is above the zebra level.
// inR, inB: where red and blue sit in p (SH_R and SH_B, or swapped for B, G, R order).
function colourOf(p, inR, inB, tone, tables, lookId, fc, zl) {
  const r0 = (p >>> inR) & 255, g0 = (p >>> SH_G) & 255, b0 = (p >>> inB) & 255;
  let r = r0, g = g0, b = b0;
  if (tables !== null) {
    r = tables[0][r0]; g = tables[1][g0]; b = tables[2][b0];
  } else {
    if (tone) {
      const cr = TONE[r0], cg = TONE[g0], cb = TONE[b0];
      const ym = (299 * cr + 587 * cg + 114 * cb) / 1000;
      r = clamp(ym + (cr - ym) * 1.25);
      g = clamp(ym + (cg - ym) * 1.25);
      b = clamp(ym + (cb - ym) * 1.25);
    }
    switch (lookId) {
      case LOOK_709: r = s709(r); g = s709(g); b = s709(b); break;
      case LOOK_WARM: r = warmRed(r); b = warmBlue(b); break;
      case LOOK_COOL: r = coolRed(r); b = coolBlue(b); break;
      case LOOK_CONTRAST: r = contrast(r); g = contrast(g); b = contrast(b); break;
      case LOOK_BW: r = luma(r, g, b); g = r; b = r; break;
      default: break;
    }
  }
  const y = (299 * r + 587 * g + 114 * b) / 1000;
  let rgb;
  if (fc) {
    const yi = y | 0;
    rgb = (FC_R[yi] << SH_R) | (FC_G[yi] << SH_G) | (FC_B[yi] << SH_B);
  } else {
    // Every step above keeps values within 0..255, so only rounding is left.
    rgb = ((r + ROUND_EVEN - ROUND_EVEN) << SH_R) | ((g + ROUND_EVEN - ROUND_EVEN) << SH_G) |
      ((b + ROUND_EVEN - ROUND_EVEN) << SH_B);
  }
  return y > zl ? rgb | OVER_ZEBRA : rgb;
}

function paintWords(words, width, o, bgrx) {
  const n = words.length;
  const tone = !!o.mlut, fc = !!o.falseColor, zebra = !!o.zebra, peak = !!o.peaking;
  const lookId = Math.max(0, LOOKS.indexOf(findLook(o.look)));
  // Without the tone curve the inputs are whole numbers and a per-channel look is
  // a table; after the curve they are fractions and the formulas run per colour.
  const tables = tone ? null : LOOK_TABLES[lookId];
  const zl = o.zebraLevel, th = o.peakThreshold, th1000 = th * 1000;
  const settings = tone + ' ' + lookId + ' ' + fc + ' ' + zl + ' ' + bgrx;
  const inR = bgrx ? SH_B : SH_R, inB = bgrx ? SH_R : SH_B;
  // What of a word's alpha is kept, and what is set: all of it, or opaque for B, G, R, X.
  const keep = bgrx ? 0 : ALPHA_MASK, set = bgrx ? ALPHA_MASK : 0;
  if (memo.settings !== settings) { memo.settings = settings; memo.keys.fill(-1); }
  const keys = memo.keys, results = memo.results, shift = 32 - MEMO_BITS;
  const zebraRgb = (255 << SH_R) | (0 << SH_G) | (180 << SH_B);
  let prevN = 0; // luma × 1000 of the word before, as stored
  let k = 0;
  for (let row = 0; k < n; row++) {
    const end = Math.min(n, k + width);
    while (k < end) {
      const p = words[k];
      const colour = p & RGB_MASK;
      const slot = Math.imul(colour, 0x9e3779b1) >>> shift;
      let v = results[slot];
      if (keys[slot] !== colour) {
        v = colourOf(p, inR, inB, tone, tables, lookId, fc, zl);
        keys[slot] = colour; results[slot] = v;
      }
      // The run of words equal to this one: one result for all of it.
      let e = k + 1;
      while (e < end && words[e] === p) e++;
      const plain = v & RGB_MASK;
      const base = (p & keep) | set; // the word's alpha as stored
      const out = base | plain;
      if (zebra && (v & OVER_ZEBRA) !== 0) {
        // Stripes: stored values change inside the run, and peaking sees each change.
        let phase = (k + row) % 6;
        for (; k < e; k++) {
          const rgb = phase < 3 ? zebraRgb : plain;
          words[k] = base | rgb;
          if (peak) prevN = peakAt(words, k, rgb, prevN, th, th1000);
          if (++phase === 6) phase = 0;
        }
        continue;
      }
      if (peak) prevN = peakAt(words, k, plain, prevN, th, th1000);
      // Inside the run the stored value repeats: a gap of 0 peaks only below a zero threshold.
      if (peak && th < 0) {
        for (let i = k; i < e; i++) { words[i] = out; if (i > k) words[i - 1] = (words[i - 1] & ALPHA_MASK) | PEAK_RGB; }
      } else {
        for (let i = k; i < e; i++) words[i] = out;
      }
      k = e;
    }
  }
}

// Focus peaking at word k, whose stored colour is rgb: marks word k - 1 when the
// luma step from it passes the threshold; returns k's luma × 1000.
function peakAt(words, k, rgb, prevN, th, th1000) {
  const ns = 299 * ((rgb >>> SH_R) & 255) + 587 * ((rgb >>> SH_G) & 255) + 114 * ((rgb >>> SH_B) & 255);
  if (k > 0) {
    const gap = (ns > prevN ? ns - prevN : prevN - ns) - th1000;
    if (gap >= 1 || (gap > -1 && Math.abs(ns / 1000 - prevN / 1000) > th)) {
      words[k - 1] = (words[k - 1] & ALPHA_MASK) | PEAK_RGB;
    }
  }
  return ns;
}
