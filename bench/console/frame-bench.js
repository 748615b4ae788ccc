#!/usr/bin/env node
// Per-frame cost of the console in headless Chromium: renderView with every overlay
// on and a look active, plus analyze and the four scopes, on a 1024 x 680 picture.
// Also checks that the fast pixel loop gives the same pixels as the plain reference.
// Loads the page as served (build/web/console.html, or $KAMORA_BUILD/web/console.html).
// Usage: node bench/console/frame-bench.js [frames]   (needs `make build` and `npm ci` in tests/web)
'use strict';
const path = require('path');
const web = path.join(__dirname, '..', '..', 'tests', 'web');
const { startMock } = require(path.join(web, 'lib', 'mock-server'));
const { launchBrowser } = require(path.join(web, 'lib', 'browser'));
const { openConsole } = require(path.join(web, 'lib', 'page'));

const FRAMES = Number(process.argv[2]) || 60;

async function main() {
  const mock = await startMock('127.0.95.1');
  const browser = await launchBrowser();
  try {
    const page = await openConsole(browser, mock, { reference: true });
    const result = await page.evaluate(async (frames) => {
      // A camera-like picture: gradients, colour patches, fine detail and noise, as a JPEG.
      const W = 1024, H = 680;
      const src = document.createElement('canvas');
      src.width = W; src.height = H;
      const s = src.getContext('2d');
      const grad = s.createLinearGradient(0, 0, W, 0);
      grad.addColorStop(0, '#000'); grad.addColorStop(1, '#fff');
      s.fillStyle = grad; s.fillRect(0, 0, W, H / 3);
      const colours = ['#c33', '#3c3', '#33c', '#cc3', '#3cc', '#c3c', '#e0a080', '#808080'];
      colours.forEach((c, i) => { s.fillStyle = c; s.fillRect(i * W / 8, H / 3, W / 8, H / 3); });
      for (let x = 0; x < W; x += 2) { s.fillStyle = x % 4 ? '#111' : '#eee'; s.fillRect(x, 2 * H / 3, 1, H / 3); }
      const blob = await new Promise((r) => src.toBlob(r, 'image/jpeg', 0.85));
      const img = new Image();
      img.src = URL.createObjectURL(blob);
      await img.decode();

      const median = (a) => { const b = a.slice().sort((x, y) => x - y); return b[b.length >> 1]; };
      const pct = (a, p) => { const b = a.slice().sort((x, y) => x - y); return b[Math.min(b.length - 1, Math.floor(b.length * p))]; };
      const view = document.getElementById('view');
      const ctx = view.getContext('2d');

      // The picture as drawn, before any overlay, for the reference computation.
      renderView(img);
      const plain = ctx.getImageData(0, 0, W, H).data;

      lastImg = img;
      for (const m of ['peaking', 'zebra', 'false', 'mlut']) modes[m] = true;
      const looks = ['Rec.709', 'Quente', 'Frio', 'Alto contraste', 'P&B'];
      const perLook = {};
      const all = [];
      let mismatches = 0;
      for (const look of looks) {
        activeLook = look;
        for (let i = 0; i < 5; i++) { renderView(img); analyze(); } // warm-up
        const times = [];
        for (let i = 0; i < frames; i++) {
          const t0 = performance.now();
          renderView(img);
          analyze();
          times.push(performance.now() - t0);
        }
        all.push(...times);
        perLook[look] = median(times);
        const shown = ctx.getImageData(0, 0, W, H).data;
        const ref = REF.overlays(plain, W, {
          mlut: true, look, falseColor: true, zebra: true, peaking: true,
          zebraLevel: Number(document.getElementById('zb').value), peakThreshold: Number(document.getElementById('pk').value),
        });
        for (let i = 0; i < shown.length; i++) if (shown[i] !== ref[i]) mismatches++;
      }

      // Where the time goes, for the record.
      const parts = { getImageData: [], paintOverlays: [], putImageData: [], drawImage: [], analyze: [] };
      const opts = { mlut: true, look: 'Rec.709', falseColor: true, zebra: true, peaking: true, zebraLevel: 250, peakThreshold: 34 };
      for (let i = 0; i < frames; i++) {
        let t = performance.now();
        ctx.drawImage(img, 0, 0, W, H);
        parts.drawImage.push(performance.now() - t);
        t = performance.now();
        const f = ctx.getImageData(0, 0, W, H);
        parts.getImageData.push(performance.now() - t);
        t = performance.now();
        paintOverlays(f.data, W, opts);
        parts.paintOverlays.push(performance.now() - t);
        t = performance.now();
        ctx.putImageData(f, 0, 0);
        parts.putImageData.push(performance.now() - t);
        t = performance.now();
        analyze();
        parts.analyze.push(performance.now() - t);
      }
      const breakdown = {};
      for (const k of Object.keys(parts)) breakdown[k] = median(parts[k]);
      return { median: median(all), p90: pct(all, 0.9), min: Math.min(...all), perLook, breakdown, mismatches, frames: all.length };
    }, FRAMES);
    const f = (v) => v.toFixed(2);
    console.log(`console frame work, 1024x680, every overlay on + look, renderView + analyze + scopes (${result.frames} frames)`);
    console.log(`  median ${f(result.median)} ms, p90 ${f(result.p90)} ms, min ${f(result.min)} ms (budget 30 ms)`);
    console.log('  median per look: ' + Object.entries(result.perLook).map(([k, v]) => `${k} ${f(v)}`).join(', '));
    console.log('  parts (median ms): ' + Object.entries(result.breakdown).map(([k, v]) => `${k} ${f(v)}`).join(', '));
    console.log(`  pixels differing from the reference computation: ${result.mismatches}`);
    // A benchmark reports time; only wrong pixels are a failure.
    if (result.mismatches !== 0) process.exitCode = 1;
  } finally {
    await browser.close();
    await mock.stop();
  }
}

main().catch((e) => { console.log(String(e && e.stack ? e.stack : e)); process.exitCode = 1; });
