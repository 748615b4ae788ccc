#!/usr/bin/env node
// Per-picture cost of the console's picture chain, before ÷ after, side by side in
// one run: "Fluido" with every overlay, the look "Quente" and the four scopes, fed
// a virtual camera's picture a few times a second (slow enough that nothing is
// dropped: this is the cost of one picture, not the rate). The page before is
// built from an older revision (default: the last one whose chain ran on the main
// thread); there the stages are timed by wrapping its functions, and a page with
// the picture worker reports them from its worker. Also checks that both pages show the
// same pixels, scopes and advisor for the same picture.
// Usage: node bench/console/chain-bench.js [pictures=40] [before-rev] [WxH ...]
//   (needs kamora-vcam built and `npm ci` in tests/web; loopback 127.0.232.x)
'use strict';
const path = require('path');
const web = path.join(__dirname, '..', '..', 'tests', 'web');
const { startMock } = require(path.join(web, 'lib', 'mock-server'));
const { launchBrowser } = require(path.join(web, 'lib', 'browser'));
const { part } = require(path.join(web, 'lib', 'stream'));
const { until } = require(path.join(web, 'lib', 'until'));
const { shownDigest } = require(path.join(web, 'lib', 'page'));
const { pageAt, cameraPicture, installProbes, median, percentile } = require('./pages');

const PICTURES = Math.min(Math.max(Number(process.argv[2]) || 40, 5), 500);
const BEFORE = process.argv[3] || '1b074b7';
const SIZES = process.argv.slice(4).length ? process.argv.slice(4) : ['640x426', '1024x680', '1920x1080'];
const STAGES = ['decode', 'convert', 'read', 'overlays', 'write', 'measure', 'hist', 'wave', 'parade', 'vector', 'advisor'];

// In the page before: each stage of its main-thread chain timed by wrapping the
// functions it calls by name; the times of one picture go with its showPicture.
function timeOldStages() {
  let now = {};
  const add = (stage, ms) => { now[stage] = (now[stage] || 0) + ms; };
  const wrap = (name, stage) => {
    const f = window[name];
    window[name] = function (...args) {
      const t0 = performance.now();
      try { return f.apply(this, args); } finally { add(stage, performance.now() - t0); }
    };
  };
  // renderView = draw and read + overlays + write; analyze = copy and measure + scopes + advisor.
  [['renderView', 'view'], ['paintOverlays', 'overlays'], ['analyze', 'analysis'], ['drawHist', 'hist'],
    ['drawWave', 'wave'], ['drawParade', 'parade'], ['drawVector', 'vector'], ['advise', 'advisor']].forEach((w) => wrap(w[0], w[1]));
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    const t0 = performance.now();
    try { return put.apply(this, args); } finally { add('write', performance.now() - t0); }
  };
  const decode = window.createImageBitmap;
  window.createImageBitmap = function (...args) {
    const t0 = performance.now();
    return decode.apply(this, args).then((b) => { add('decode', performance.now() - t0); return b; });
  };
  const show = showPicture;
  showPicture = function (img) {
    show(img);
    const t = now;
    now = {};
    t.read = t.view - t.overlays - t.write;
    t.measure = t.analysis - t.hist - t.wave - t.parade - t.vector - t.advisor;
    img.times = t;
  };
}

async function run(browser, mock, jpeg, old) {
  const page = await browser.newPage();
  await page.goto(mock.url + '/');
  await page.evaluate(() => localStorage.setItem('kamora.fluido', '1'));
  await page.reload();
  if (old) await page.evaluate(timeOldStages);
  await page.evaluate(installProbes);
  let frame = 0;
  const stream = [];
  mock.on('GET', '/liveview.mjpg', (req, res) => {
    res.writeHead(200, { 'Content-Type': 'multipart/x-mixed-replace; boundary=kamoraframe' });
    stream.push(res);
    const timer = setInterval(() => res.write(part(jpeg, { frame: ++frame })), 250);
    res.on('close', () => clearInterval(timer));
  });
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6, null, { timeout: 20000 });
  for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
  await page.click('#looks > div:nth-child(3) canvas'); // Quente
  const from = await until(() => page.evaluate(() => window.probe.shown.length), 20000, (n) => n >= 3, 'first pictures') + 2;
  await until(() => page.evaluate(() => window.probe.shown.length), 10000 + PICTURES * 1000, (n) => n >= from + PICTURES, `${PICTURES} pictures`);
  const shown = await page.evaluate((f) => window.probe.shown.slice(f), from);
  const digest = await shownDigest(page);
  await page.click('#lvbtn');
  for (const res of stream) res.destroy();
  await page.close();
  const stage = {};
  for (const s of STAGES) stage[s] = median(shown.map((p) => (p.times && p.times[s]) || 0));
  const chain = shown.map((p) => STAGES.reduce((sum, s) => sum + ((p.times && p.times[s]) || 0), 0));
  return { stage, chain: median(chain), chainP90: percentile(chain, 0.9), main: median(shown.map((p) => p.main)), digest };
}

async function main() {
  const before = await startMock('127.0.232.1');
  before.page = pageAt(BEFORE);
  const after = await startMock('127.0.232.2');
  const browser = await launchBrowser({ viewport: { width: 1400, height: 1000 } });
  let differ = 0;
  try {
    for (const size of SIZES) {
      const jpeg = await cameraPicture('127.0.232.3', size);
      const b = await run(browser, before, jpeg, !before.page.includes('class PictureWorker'));
      const a = await run(browser, after, jpeg, false);
      const f = (v) => v.toFixed(2);
      const same = JSON.stringify(a.digest) === JSON.stringify(b.digest);
      if (!same) differ++;
      console.log(`${size}, every overlay + Quente + scopes, ${PICTURES} pictures each (before = ${BEFORE}):`);
      console.log(`  whole chain median ${f(b.chain)} -> ${f(a.chain)} ms (p90 ${f(b.chainP90)} -> ${f(a.chainP90)}), ` +
        `ratio ${f(a.chain / b.chain)}; on the main thread ${f(b.main)} -> ${f(a.main)} ms a picture`);
      console.log('  stages (median ms, before -> after): ' + STAGES.map((s) => `${s} ${f(b.stage[s])} -> ${f(a.stage[s])}`).join(', '));
      console.log(`  same pixels, scopes and advisor: ${same ? 'yes' : 'NO ' + JSON.stringify([b.digest, a.digest])}`);
      console.log(`RESULT chain_${size}_before=${f(b.chain)} chain_${size}_after=${f(a.chain)} main_${size}_before=${f(b.main)} main_${size}_after=${f(a.main)} ` +
        STAGES.map((s) => `${s}_${size}_before=${f(b.stage[s])} ${s}_${size}_after=${f(a.stage[s])}`).join(' '));
    }
  } finally {
    await browser.close();
    await before.stop();
    await after.stop();
  }
  // A benchmark reports time; only a different picture is a failure.
  if (differ) process.exitCode = 1;
}

main().catch((e) => { console.log(String(e && e.stack ? e.stack : e)); process.exitCode = 1; });
