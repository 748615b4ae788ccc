#!/usr/bin/env node
// The console with eight cameras in headless Chromium, against kamora --server and
// eight virtual cameras it starts on loopback: each tile's pictures per second, the
// focused camera's "Fluido" (every overlay and a look) drawn ÷ feed beside the same
// with main alone, the connections the server holds for the page, the time from
// a click on a tile to the live view drawing that camera, "Disparar todas" to its
// chart, and with HEAP_MINUTES the page's JS heap after that many minutes ÷ after one.
// With BEFORE (a revision), the page at BEFORE and the page now are then opened in
// turn, twice each, behind a stand-in that serves them, for the same figures side
// by side.
// Usage: node bench/console/rig-bench.js BUILD_DIR [seconds=30] [HEAP_MINUTES=0] [BEFORE]   (needs `npm ci`
//   in tests/web; run it in a network namespace of its own, it takes 127.24.1.1-9)
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const web = path.join(__dirname, '..', '..', 'tests', 'web');
process.env.KAMORA_BUILD = path.resolve(process.argv[2] || 'build');
const { frameCounter, installProbes, browserThreads, browserCpu, releases, spread, pageAt, pageProxy, servedPage } = require('./pages');
const { launchBrowser } = require(path.join(web, 'lib', 'browser'));
const { binary, post, startProgram } = require(path.join(web, 'lib', 'procs'));
const { sampleConnections } = require(path.join(web, 'lib', 'connections'));

const SECONDS = Math.min(Math.max(Number(process.argv[3]) || 30, 5), 120);
const HEAP_MINUTES = Math.min(Math.max(Number(process.argv[4]) || 0, 0), 60);
const BEFORE = process.argv[5] || null;
const HOST = '127.24.1.1';
const BASE = `http://${HOST}:8080`;
const CAMERAS = ['main', 'c2', 'c3', 'c4', 'c5', 'c6', 'c7', 'c8'].map((id, i) => ({
  id, ip: `127.24.1.${i + 2}`, mac: `02:00:00:24:01:0${i + 2}`,
}));
const KEY_PRESSES = 100;
const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));


// Fluido with every overlay and Quente on the camera in focus, for SECONDS:
// { drawn, feed } pictures a second, each tile's, the page's main thread's CPU
// (ms a second) and KEY_PRESSES held arrow keys' release → stop request.
async function fluido(page) {
  await page.evaluate(installProbes);
  await page.evaluate(() => {
    window.bench = { drawn: 0 };
    const show = showPicture;
    showPicture = function (img) { show(img); window.bench.drawn++; };
  });
  // A browser started again has a profile of its own: "Fluido" is switched on here.
  await page.evaluate(() => { if (!fluid) fluidToggle(byId('lvfluid')); });
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6, null, { timeout: 10000 });
  for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
  await page.click('#looks > div:nth-child(3) canvas'); // Quente
  await wait(2000);
  const counter = frameCounter(BASE + '/liveview.mjpg');
  await wait(1000);
  const tiles = () => page.evaluate(() => Array.from(rig.tiles.values(), (t) => [t.id, t.drawn]));
  const t0 = await tiles();
  const d0 = await page.evaluate(() => window.bench.drawn);
  const f0 = counter.frame, cpu0 = browserThreads(process.pid);
  await wait(SECONDS * 1000);
  const f1 = counter.frame, cpu1 = browserThreads(process.pid);
  const d1 = await page.evaluate(() => window.bench.drawn);
  const t1 = await tiles();
  counter.req.destroy();
  const used = browserCpu(cpu0, cpu1);
  return {
    drawn: (d1 - d0) / SECONDS, feed: (f1 - f0) / SECONDS,
    tiles: t1.map(([id, n], i) => [id, (n - t0[i][1]) / SECONDS]),
    main: used ? used.main / SECONDS : NaN,
    keys: await releases(page, KEY_PRESSES), // ms, one per press
  };
}

function mainAndKeys(m) {
  const keys = spread(m.keys);
  return `page's main thread ${m.main.toFixed(0)} ms of CPU a second; held arrow released → stop request ` +
    `p50 ${keys.p50.toFixed(1)} / p95 ${keys.p95.toFixed(1)} ms (${keys.n} presses)`;
}

// The page at BEFORE and the page now, each opened twice in turn with main in
// focus: Fluido's drawn ÷ feed, the main thread's CPU and the key releases.
async function sideBySide(browser) {
  const pages = [['before', pageAt(BEFORE)], ['now', servedPage()]];
  const proxies = await Promise.all(pages.map((p, i) => pageProxy(HOST, 8090 + i, p[1], BASE)));
  const runs = { before: [], now: [] };
  try {
    for (let round = 0; round < 2; round++) {
      for (let i = 0; i < pages.length; i++) {
        const page = await browser.newPage();
        await page.goto(proxies[i].url + '/#camera=main');
        await page.waitForFunction(() => document.querySelectorAll('#tiles .tile').length === 8, null, { timeout: 30000 });
        runs[pages[i][0]].push(await fluido(page));
        await page.close();
      }
    }
  } finally {
    for (const p of proxies) await p.close();
  }
  for (const [name, list] of Object.entries(runs)) {
    const keys = spread(list.flatMap((m) => m.keys));
    const mean = (f) => list.reduce((a, m) => a + f(m), 0) / list.length;
    console.log(`side by side, 8 cameras, page ${name === 'before' ? 'at ' + BEFORE : 'now'} (${list.length} runs): ` +
      `drawn ÷ feed ${mean((m) => m.drawn / m.feed).toFixed(3)}; main thread ${mean((m) => m.main).toFixed(0)} ms of CPU a second; ` +
      `key release p50 ${keys.p50.toFixed(1)} / p95 ${keys.p95.toFixed(1)} ms (${keys.n} presses)`);
  }
}

// Runs in the page: a click on "Disparar todas" until the chart holds a row per camera
// and a frame has been painted; { total, reply, after } in ms, reply when the
// volley's answer arrived (or the chart was painted, if its event came first).
function volleyToChart(cameras) {
  return new Promise((resolve) => {
    const chart = byId('vchart');
    const plainFetch = window.fetch;
    let reply = 0;
    window.fetch = function (url) {
      const answer = plainFetch.apply(this, arguments);
      if (String(url).includes('/volley')) answer.then(() => { reply = performance.now(); });
      return answer;
    };
    chart.textContent = '';
    const seen = new MutationObserver(() => {
      if (chart.querySelectorAll('.vrow').length !== cameras) return;
      seen.disconnect();
      window.fetch = plainFetch;
      requestAnimationFrame(() => {
        const now = performance.now();
        const replied = reply || now; // the volley's event may fill the chart first
        resolve({ total: now - at, reply: replied - at, after: now - replied });
      });
    });
    seen.observe(chart, { childList: true });
    const at = performance.now();
    byId('volleybtn').click();
  });
}

async function main() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-rig-bench-'));
  const procs = [];
  let browser = null;
  try {
    for (const c of CAMERAS) {
      procs.push(await startProgram(binary('kamora-vcam'), ['--ip', c.ip, '--mac', c.mac],
        `http://${c.ip}:15740/vcam/state`, { cwd: dir }));
    }
    procs.push(await startProgram(binary('kamora'), ['--server', '--host', HOST, '--port', '8080'], `${BASE}/status`, { cwd: dir }));
    await post(`${BASE}/connect?ip=${CAMERAS[0].ip}&mac=${CAMERAS[0].mac}`);

    browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
    let page = await browser.newPage();
    await page.goto(BASE + '/');
    await page.evaluate(() => localStorage.setItem('kamora.fluido', '1'));
    await page.reload();
    const alone = await fluido(page);
    await page.close();
    console.log(`main alone, Fluido + every overlay + Quente, ${SECONDS} s: drawn ${alone.drawn.toFixed(2)}/s, ` +
      `feed ${alone.feed.toFixed(2)}/s, ratio ${(alone.drawn / alone.feed).toFixed(3)}; ${mainAndKeys(alone)}`);

    for (const c of CAMERAS.slice(1)) await post(`${BASE}/cameras?id=${c.id}&ip=${c.ip}&mac=${c.mac}`);
    await browser.close();
    browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
    const sampler = sampleConnections(HOST, 8080, 10);
    page = await browser.newPage();
    await page.goto(BASE + '/#camera=main');
    await page.waitForFunction(() => document.querySelectorAll('#tiles .tile').length === 8, null, { timeout: 30000 });
    await wait(3000); // the first requests' connections idle out (2 s)
    const loading = sampler.stop();
    const busy = sampleConnections(HOST, 8080, 10);
    const rig = await fluido(page);
    const held = busy.stop();
    console.log(`8 cameras, main in focus, the same ${SECONDS} s: drawn ${rig.drawn.toFixed(2)}/s, ` +
      `feed ${rig.feed.toFixed(2)}/s, ratio ${(rig.drawn / rig.feed).toFixed(3)}; ÷ alone ` +
      `${((rig.drawn / rig.feed) / (alone.drawn / alone.feed)).toFixed(3)}; ${mainAndKeys(rig)}; ` +
      `key release p95 ÷ alone ${(spread(rig.keys).p95 / spread(alone.keys).p95).toFixed(2)}`);
    console.log(`tiles, pictures/s: ${rig.tiles.map(([id, r]) => `${id} ${r.toFixed(2)}`).join(', ')}`);
    console.log(`connections held (count: samples): loading ${JSON.stringify(loading.histogram)}, ` +
      `then ${JSON.stringify(held.histogram)}`);

    // A click on a tile to the live view drawing that camera's picture.
    const times = [];
    for (let i = 0; i < 20; i++) {
      const id = CAMERAS[1 + (i % 7)].id;
      await page.evaluate((want) => {
        window.benchSeen = new Promise((resolve) => {
          const show = showPicture;
          showPicture = function (img) { show(img); if (lv.camera.id === want) { showPicture = show; resolve(Date.now()); } };
        });
      }, id);
      const at = Date.now();
      await page.click(`#tiles .tile[data-camera="${id}"]`);
      times.push((await page.evaluate(() => window.benchSeen)) - at);
      await wait(300);
    }
    times.sort((a, b) => a - b);
    console.log(`click on a tile to its picture drawn, 20 clicks: median ${times[10]} ms, p95 ${times[18]} ms, max ${times[19]} ms`);

    const volleys = [];
    for (let i = 0; i < 10; i++) {
      volleys.push(await page.evaluate(volleyToChart, CAMERAS.length));
      await wait(500);
    }
    const by = (key) => volleys.map((v) => v[key]).sort((a, b) => a - b);
    const [total, reply, after] = [by('total'), by('reply'), by('after')];
    console.log(`"Disparar todas" to the chart painted, 10 volleys: median ${total[5].toFixed(1)} ms ` +
      `(its reply ${reply[5].toFixed(1)} ms, then ${after[5].toFixed(1)} ms), max after the reply ${after[9].toFixed(1)} ms`);

    if (HEAP_MINUTES > 1) {
      const cdp = await page.context().newCDPSession(page);
      const heap = async () => {
        await cdp.send('HeapProfiler.collectGarbage');
        return (await cdp.send('Runtime.getHeapUsage')).usedSize;
      };
      await wait(60000);
      const one = await heap();
      await wait((HEAP_MINUTES - 1) * 60000);
      const end = await heap();
      console.log(`JS heap with 8 tiles and Fluido: after 1 min ${(one / 1e6).toFixed(2)} MB, after ` +
        `${HEAP_MINUTES} min ${(end / 1e6).toFixed(2)} MB, ratio ${(end / one).toFixed(3)}`);
    }
    if (BEFORE) {
      await page.close();
      await sideBySide(browser);
    }
  } finally {
    if (browser) await browser.close();
    for (const p of procs.reverse()) await p.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((e) => { console.log(String(e && e.stack ? e.stack : e)); process.exitCode = 1; });
