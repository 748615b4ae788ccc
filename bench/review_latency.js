// From a finished download to the picture painted in the console's "Última foto"
// card: kamora --server and a virtual camera (3000 x 2000 stills) on loopback, the
// console in headless Chromium, shots fired with a plain POST /capture.
//   node bench/review_latency.js [build dir, default build] [--shots 20] [--mode events|relay|poll]
// Modes: events (default when the server answers GET /events) follows the server's
// own capture events; relay, for a server without /events, puts a small proxy in
// front that publishes a `capture` event when kamora prints its download line, so
// the card's event path is measured with everything else real; poll serves the page
// without events, the card's fallback.
// Start: the moment kamora's "[callback] OnCompleteDownload" line reaches this
// process, and (earlier still) the picture file's modification time. Painted: the
// card's canvas takes the picture's name after drawing it, then two animation
// frames pass (the first runs before the frame holding the drawing is painted, the
// second after it).
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

const args = process.argv.slice(2);
const opt = (name, fallback) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : fallback; };
const buildArg = args[0] && !args[0].startsWith('--') ? args[0] : 'build';
process.env.KAMORA_BUILD = path.resolve(buildArg);
const { launchBrowser } = require('../tests/web/lib/browser');
const { binary, get, post, startProgram } = require('../tests/web/lib/procs');

const SHOTS = Number(opt('--shots', 20));
const HOST = '127.0.174.31', CAM = '127.0.174.30', RELAY = '127.0.174.32', MAC = '02:00:00:00:74:30';

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.floor(p / 100 * sorted.length))];
}

// A proxy to kamora that answers /events itself: one `capture` event per download
// line kamora prints (or 404 in poll mode).
function startRelay(kamoraOrigin, downloads, withEvents) {
  const clients = new Set();
  let id = 0;
  downloads.on('line', (file) => {
    const data = JSON.stringify({ name: path.basename(file) });
    id++;
    for (const res of clients) res.write(`id: ${id}\nevent: capture\ndata: ${data}\n\n`);
  });
  const server = http.createServer((req, res) => {
    if (req.url.split('?')[0] === '/events') {
      if (!withEvents) { res.writeHead(404); return res.end(); }
      res.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store' });
      res.write('retry: 1000\n\n');
      clients.add(res);
      req.on('close', () => clients.delete(res));
      return;
    }
    const headers = Object.assign({}, req.headers, { host: new URL(kamoraOrigin).host });
    delete headers.origin;
    const upstream = http.request(kamoraOrigin + req.url, { method: req.method, headers }, (up) => {
      res.writeHead(up.statusCode, up.headers);
      up.pipe(res);
    });
    upstream.on('error', () => { res.writeHead(502); res.end(); });
    req.pipe(upstream);
  });
  return new Promise((resolve) => server.listen(8080, RELAY, () => resolve(server)));
}

async function main() {
  const kamora = binary('kamora'), vcam = binary('kamora-vcam');
  if (!kamora || !vcam) throw new Error('needs kamora and kamora-vcam in ' + process.env.KAMORA_BUILD);
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-latency-'));
  const camera = await startProgram(vcam, ['--ip', CAM, '--mac', MAC], `http://${CAM}:15740/vcam/state`, { cwd: workDir });
  const server = await startProgram(kamora, ['--server', '--host', HOST, '--port', '8080'], `http://${HOST}:8080/status`, { cwd: workDir });
  let relay = null, browser = null;
  try {
    const origin = `http://${HOST}:8080`;
    // Each download line, with the moment it arrived here.
    const downloads = new (require('events'))();
    const lineAt = new Map();
    let pending = '';
    server.child.stdout.on('data', (chunk) => {
      const now = Date.now();
      pending += chunk;
      let nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, nl);
        pending = pending.slice(nl + 1);
        const m = /^\[callback\] OnCompleteDownload: (.*)$/.exec(line);
        if (m) { lineAt.set(path.basename(m[1]), now); downloads.emit('line', m[1]); }
      }
    });

    const hasEvents = await new Promise((resolve) => {
      const req = http.get(origin + '/events', (res) => { resolve(res.statusCode === 200); req.destroy(); });
      req.on('error', () => resolve(false));
      req.setTimeout(2000, () => { req.destroy(); resolve(false); });
    });
    const mode = opt('--mode', hasEvents ? 'events' : 'relay');
    if (mode === 'events' && !hasEvents) throw new Error('the server does not answer GET /events');
    let pageOrigin = origin;
    if (mode !== 'events') {
      relay = await startRelay(origin, downloads, mode === 'relay');
      pageOrigin = `http://${RELAY}:8080`;
    }
    if ((await post(`${origin}/connect?ip=${CAM}&mac=${MAC}`)).status !== 200) throw new Error('connect failed');

    browser = await launchBrowser();
    const page = await browser.newPage();
    await page.goto(pageOrigin + '/');
    await page.evaluate(() => {
      window.paintedAt = {};
      window.eventsAt = [];
      if (rv.events) rv.events.addEventListener('capture', () => window.eventsAt.push(Date.now()));
      new MutationObserver(() => {
        const name = document.getElementById('rvview').dataset.name;
        requestAnimationFrame(() => requestAnimationFrame(() => { window.paintedAt[name] = Date.now(); }));
      }).observe(document.getElementById('rvview'), { attributes: true, attributeFilter: ['data-name'] });
    });
    await page.waitForTimeout(1500);

    const fromLine = [], fromFile = [];
    const parts = { delivery: [], listing: [], screen: [], browser: [] };
    console.log(`mode ${mode}, ${SHOTS} shots of 3000x2000, page at ${pageOrigin}`);
    for (let i = 0; i < SHOTS; i++) {
      const reply = await post(`${origin}/capture`);
      if (reply.body !== '{"status":"1 foto(s)"}') throw new Error('capture: ' + reply.body);
      const name = `KAMORA_${String(i + 1).padStart(5, '0')}.JPG`;
      for (let wait = 0; !lineAt.has(name); wait += 5) {
        if (wait > 5000) throw new Error('no download line for ' + name);
        await new Promise((r) => setTimeout(r, 5));
      }
      const painted = await page.waitForFunction((n) => window.paintedAt[n], name, { timeout: 10000 }).then((h) => h.jsonValue());
      const mtime = fs.statSync(path.join(workDir, 'captures', name)).mtimeMs;
      // Where the time went, from the page's resource timings (epoch ms).
      const t = await page.evaluate((n) => {
        const abs = (x) => performance.timeOrigin + x;
        const res = performance.getEntriesByType('resource');
        const screen = res.filter((r) => r.name.includes('/captures/' + n + '?size=screen')).pop();
        const list = res.filter((r) => r.name.endsWith('/captures?limit=1') && r.startTime <= screen.startTime).pop();
        return { event: window.eventsAt[window.eventsAt.length - 1], listStart: abs(list.startTime), listEnd: abs(list.responseEnd),
          screenStart: abs(screen.startTime), screenEnd: abs(screen.responseEnd) };
      }, name);
      if (t.event !== undefined) parts.delivery.push(t.event - lineAt.get(name));
      parts.listing.push(t.listEnd - t.listStart);
      parts.screen.push(t.screenEnd - t.screenStart);
      parts.browser.push(painted - t.screenEnd);
      fromLine.push(painted - lineAt.get(name));
      fromFile.push(painted - mtime);
      console.log(`  ${name}: ${painted - lineAt.get(name)} ms after the download line, ${(painted - mtime).toFixed(1)} ms after the file's mtime`);
      await page.waitForTimeout(700);
    }
    for (const [what, sample] of [['download line', fromLine], ["file's mtime", fromFile]]) {
      const s = sample.slice().sort((a, b) => a - b);
      console.log(`from the ${what} to painted: median ${percentile(s, 50).toFixed(1)} ms, p95 ${percentile(s, 95).toFixed(1)} ms, max ${s[s.length - 1].toFixed(1)} ms (n=${s.length})`);
    }
    const med = (a) => (a.length ? a.slice().sort((x, y) => x - y)[Math.floor(a.length / 2)].toFixed(1) : '-');
    console.log(`medians: download line -> event in the page ${med(parts.delivery)} ms, /captures?limit=1 ${med(parts.listing)} ms, ` +
      `?size=screen ${med(parts.screen)} ms, screen copy received -> painted ${med(parts.browser)} ms`);
    await get(`${origin}/status`);
  } finally {
    if (browser) await browser.close();
    if (relay) relay.close();
    await server.stop();
    await camera.stop();
    fs.rmSync(workDir, { recursive: true, force: true });
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
