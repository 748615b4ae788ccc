#!/usr/bin/env node
// The console's "Fluido" live view in headless Chromium against a running kamora
// --server with a camera connected: every overlay and a look on, pictures drawn per
// second against the feed's rate (counted from X-Frame by a second viewer here), and
// the per-picture cost on the main thread (everything showPicture does: drawing the
// finished picture and scopes the picture worker sent, and the advisor's lines).
// Usage: node bench/console/stream-bench.js http://127.0.85.2:8080 [seconds=10]
//   (needs `npm ci` in tests/web)
'use strict';
const path = require('path');
const web = path.join(__dirname, '..', '..', 'tests', 'web');
const { frameCounter } = require('./pages');
const { launchBrowser } = require(path.join(web, 'lib', 'browser'));

const URL_BASE = process.argv[2] || 'http://127.0.85.2:8080';
const SECONDS = Math.min(Math.max(Number(process.argv[3]) || 10, 3), 120);
if (!/^http:\/\/127\.\d+\.\d+\.\d+(:\d+)?$/.test(URL_BASE)) {
  console.log('usage: stream-bench.js http://127.x.y.z:port [seconds]');
  process.exit(2);
}


async function main() {
  const counter = frameCounter(URL_BASE + '/liveview.mjpg');
  const browser = await launchBrowser({ viewport: { width: 1400, height: 1000 } });
  try {
    const page = await browser.newPage();
    await page.goto(URL_BASE + '/');
    await page.evaluate(() => localStorage.setItem('kamora.fluido', '1'));
    await page.reload();
    await page.evaluate(() => {
      window.bench = { drawn: 0, costs: [] };
      const show = showPicture;
      showPicture = function (img) {
        const t0 = performance.now();
        show(img);
        window.bench.costs.push(performance.now() - t0);
        window.bench.drawn++;
      };
    });
    await page.click('#lvbtn');
    await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6, null, { timeout: 10000 });
    for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
    await page.click('#looks > div:nth-child(3) canvas'); // Quente
    await page.waitForTimeout(2000);
    const start = await page.evaluate(() => ({ drawn: window.bench.drawn, costs: window.bench.costs.length, dropped: lvFeed.dropped }));
    const frame0 = counter.frame;
    await page.waitForTimeout(SECONDS * 1000);
    const frame1 = counter.frame;
    const end = await page.evaluate(() => ({
      drawn: window.bench.drawn, costs: window.bench.costs, dropped: lvFeed.dropped,
      size: [document.getElementById('view').width, document.getElementById('view').height],
      rate: document.getElementById('lvrate').textContent,
    }));
    const costs = end.costs.slice(start.costs).sort((a, b) => a - b);
    const drawnRate = (end.drawn - start.drawn) / SECONDS;
    const feedRate = (frame1 - frame0) / SECONDS;
    const pct = (p) => costs[Math.min(costs.length - 1, Math.floor(costs.length * p))];
    console.log(`Fluido ${end.size[0]}x${end.size[1]}, every overlay + Quente + scopes, ${SECONDS} s: ` +
      `${drawnRate.toFixed(2)} pictures drawn/s, feed ${feedRate.toFixed(2)}/s, ${end.dropped - start.dropped} dropped; ` +
      `per picture median ${pct(0.5).toFixed(2)} ms, p90 ${pct(0.9).toFixed(2)} ms; card shows "${end.rate}"`);
    console.log(`RESULT console_stream_drawn_fps=${drawnRate.toFixed(2)} feed_fps=${feedRate.toFixed(2)} ` +
      `ratio=${(feedRate > 0 ? drawnRate / feedRate : 0).toFixed(3)} cost_ms=${pct(0.5).toFixed(2)} cost_p90_ms=${pct(0.9).toFixed(2)}`);
  } finally {
    counter.req.destroy();
    await browser.close();
  }
}

main().catch((e) => { console.log(String(e && e.stack ? e.stack : e)); process.exitCode = 1; });
