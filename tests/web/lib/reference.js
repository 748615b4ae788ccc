// Straightforward per-pixel versions of the console's pixel rules, written from the
// rules themselves (two passes, arrays per pixel, explicit rounding), injected into
// the page so the console's fast code can be compared with them in the same engine.
/* eslint-env browser */
window.REF = (function () {
  'use strict';
  function luma(r, g, b) { return (299 * r + 587 * g + 114 * b) / 1000; }
  function clamp(v) { return Math.min(255, Math.max(0, v)); }
  // Store rule of clamped pixel arrays: limit to 0..255, round half to even.
  function store(v) {
    if (!(v > 0)) return 0;
    if (v >= 255) return 255;
    const f = Math.floor(v);
    if (v - f > 0.5) return f + 1;
    if (v - f < 0.5) return f;
    return f % 2 === 0 ? f : f + 1;
  }
  const BANDS = [
    [8, [40, 40, 200]], [24, [0, 120, 255]], [92, [60, 60, 60]], [118, [0, 200, 120]],
    [132, [120, 120, 120]], [200, [170, 170, 170]], [235, [255, 200, 0]], [250, [255, 120, 0]],
  ];
  function band(y) {
    for (const [bound, c] of BANDS) if (y < bound) return c;
    return [255, 0, 0];
  }
  const looks = {
    'Neutro': (c) => c,
    'Rec.709': (c) => c.map((x) => {
      const t = x / 255;
      return 255 * (t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t));
    }),
    'Quente': ([r, g, b]) => [clamp(1.08 * r + 6), g, clamp(0.92 * b)],
    'Frio': ([r, g, b]) => [clamp(0.92 * r), g, clamp(1.1 * b + 6)],
    'Alto contraste': (c) => c.map((x) => clamp((x - 128) * 1.35 + 128)),
    'P&B': ([r, g, b]) => { const y = luma(r, g, b); return [y, y, y]; },
  };

  function overlays(src, width, o) {
    const px = Uint8Array.from(src);
    const n = px.length / 4;
    for (let k = 0; k < n; k++) {
      let c = [px[4 * k], px[4 * k + 1], px[4 * k + 2]];
      if (o.mlut) {
        c = c.map((v) => 255 * Math.pow(v / 255, 0.45));
        const y = luma(c[0], c[1], c[2]);
        c = c.map((v) => clamp(y + (v - y) * 1.25));
      }
      if (o.look && o.look !== 'Neutro') c = looks[o.look](c);
      const y = luma(c[0], c[1], c[2]);
      if (o.falseColor) c = band(y);
      const row = Math.floor(k / width);
      if (o.zebra && y > o.zebraLevel && (k + row) % 6 < 3) c = [255, 0, 180];
      px[4 * k] = store(c[0]); px[4 * k + 1] = store(c[1]); px[4 * k + 2] = store(c[2]);
    }
    if (o.peaking) {
      const before = Uint8Array.from(px);
      const ly = (k) => luma(before[4 * k], before[4 * k + 1], before[4 * k + 2]);
      for (let k = 0; k + 1 < n; k++) {
        if (Math.abs(ly(k) - ly(k + 1)) > o.peakThreshold) {
          px[4 * k] = 255; px[4 * k + 1] = 40; px[4 * k + 2] = 40;
        }
      }
    }
    return px;
  }

  return { luma, store, band, looks, overlays };
})();
