#!/usr/bin/env node
// Console frame cost in headless Chromium at several picture sizes: one
// live-view frame drawn with every overlay on (peaking, zebra, false colour,
// log-to-video curve) and a look, plus the analysis and the four scopes.
// Loads the page as served (build/web/console.html, or $KAMORA_BUILD/web/console.html).
// Usage: node bench/perf_console.js [frames=40] [WxH ...]   (needs `make build` and `npm ci` in tests/web)
'use strict';
const path = require('path');
const web = path.join(__dirname, '..', 'tests', 'web');
const { startMock } = require(path.join(web, 'lib', 'mock-server'));
const { launchBrowser } = require(path.join(web, 'lib', 'browser'));
const { openConsole } = require(path.join(web, 'lib', 'page'));

const FRAMES = Math.min(Math.max(Number(process.argv[2]) || 40, 5), 500);
const SIZES = (process.argv.slice(3).length ? process.argv.slice(3) : ['640x426', '1024x680'])
  .map((s) => s.split('x').map(Number));

async function main() {
  const mock = await startMock('127.0.86.1');
  const browser = await launchBrowser();
  try {
    const page = await openConsole(browser, mock);
    for (const [W, H] of SIZES) {
      const r = await page.evaluate(async ({ W, H, frames }) => {
        // A camera-like picture: a gradient, colour patches and fine detail.
        const src = document.createElement('canvas');
        src.width = W; src.height = H;
        const s = src.getContext('2d');
        const grad = s.createLinearGradient(0, 0, W, 0);
        grad.addColorStop(0, '#000'); grad.addColorStop(1, '#fff');
        s.fillStyle = grad; s.fillRect(0, 0, W, H / 3);
        ['#c33', '#3c3', '#33c', '#cc3', '#3cc', '#c3c', '#e0a080', '#808080'].forEach((c, i) => {
          s.fillStyle = c; s.fillRect(i * W / 8, H / 3, W / 8, H / 3);
        });
        for (let x = 0; x < W; x += 2) { s.fillStyle = x % 4 ? '#111' : '#eee'; s.fillRect(x, 2 * H / 3, 1, H / 3); }
        const blob = await new Promise((res) => src.toBlob(res, 'image/jpeg', 0.85));
        const img = new Image();
        img.src = URL.createObjectURL(blob);
        await img.decode();
        lastImg = img;
        for (const m of ['peaking', 'zebra', 'false', 'mlut']) modes[m] = true;
        activeLook = 'Quente';
        for (let i = 0; i < 5; i++) { renderView(img); analyze(); }
        const t = [];
        for (let i = 0; i < frames; i++) {
          const t0 = performance.now();
          renderView(img);
          analyze();
          t.push(performance.now() - t0);
        }
        t.sort((a, b) => a - b);
        const drawn = document.getElementById('view');
        return { median: t[t.length >> 1], p90: t[Math.floor(t.length * 0.9)], w: drawn.width, h: drawn.height };
      }, { W, H, frames: FRAMES });
      if (r.w !== W || r.h !== H) throw new Error(`drew ${r.w}x${r.h}, expected ${W}x${H}`);
      console.log(`console frame ${W}x${H}, every overlay + look + scopes: median ${r.median.toFixed(2)} ms, p90 ${r.p90.toFixed(2)} ms (${FRAMES} frames)`);
      console.log(`RESULT console_${W}x${H}_ms=${r.median.toFixed(2)} p90=${r.p90.toFixed(2)}`);
    }
  } finally {
    await browser.close();
    await mock.stop();
  }
}

main().catch((e) => { console.log(String(e && e.stack ? e.stack : e)); process.exitCode = 1; });
