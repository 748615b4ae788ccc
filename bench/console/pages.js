// The console before and after a change, for figures measured side by side: the
// page as served by the build, the page as it was at an older revision (inlined
// from that revision's own sources with its own inline.cmake), a loopback proxy
// that serves either page in front of a running server, the virtual camera's
// pictures, and the page-side probes both pages share.
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const web = path.join(__dirname, '..', '..', 'tests', 'web');
const { servedPage } = require(path.join(web, 'lib', 'served-page'));
const { binary, get, startProgram } = require(path.join(web, 'lib', 'procs'));
const { until } = require(path.join(web, 'lib', 'until'));

const REPO = path.join(__dirname, '..', '..');

// The page as it was at `rev`: that revision's web/ inlined by its own build step.
function pageAt(rev) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-before-'));
  try {
    const tar = execFileSync('git', ['-C', REPO, 'archive', rev, 'web'], { maxBuffer: 64 << 20 });
    execFileSync('tar', ['-x', '-C', dir], { input: tar });
    const out = path.join(dir, 'page.html');
    // A revision whose page carries WebAssembly makes it first, as its build does.
    const generated = path.join(dir, 'generated');
    if (fs.existsSync(path.join(dir, 'web', 'wasm.cmake'))) {
      execFileSync('cmake', ['-DCLANG=clang', `-DSOURCE=${path.join(dir, 'web', 'wasm', 'planes.c')}`,
        `-DOUTPUT=${path.join(generated, 'wasm', 'planes.js')}`, '-P', path.join(dir, 'web', 'wasm.cmake')]);
    }
    execFileSync('cmake', [`-DINPUT=${path.join(dir, 'web', 'console.html')}`, `-DOUTPUT=${out}`,
      `-DGENERATED=${generated}`, '-P', path.join(dir, 'web', 'inline.cmake')]);
    return fs.readFileSync(out);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// Serves `page` at "/" on host:port and passes every other request to `target`
// (http://host:port of a running server), streams included.
function pageProxy(host, port, page, target) {
  const to = new URL(target);
  const server = http.createServer((req, res) => {
    if (req.method === 'GET' && req.url === '/') {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      return res.end(page);
    }
    const up = http.request({ host: to.hostname, port: to.port, method: req.method, path: req.url, headers: req.headers }, (answer) => {
      res.writeHead(answer.statusCode, answer.headers);
      answer.pipe(res);
    });
    up.on('error', () => res.destroy());
    res.on('close', () => up.destroy());
    req.pipe(up);
  });
  return new Promise((resolve) => server.listen(port, host, () => resolve({
    url: `http://${host}:${port}`,
    close: () => new Promise((done) => { server.closeAllConnections(); server.close(() => done()); }),
  })));
}

// One picture from a virtual camera rendering at `size` (WxH), on loopback.
async function cameraPicture(ip, size) {
  const vcam = binary('kamora-vcam');
  if (!vcam) throw new Error('kamora-vcam is not built');
  const cam = await startProgram(vcam, ['--ip', ip, '--mac', '02:00:00:00:00:01', '--lv-size', size],
    `http://${ip}:15740/vcam/state`);
  try {
    return (await get(`http://${ip}:15740/vcam/liveview.jpg`)).body;
  } finally {
    await cam.stop();
  }
}

// Probes put into a page (either version) before its live view starts: every
// picture shown with the main thread's time for it (and, from the worker, its
// stage times), the delay the card shows, the main thread's long tasks, and when
// a stop request left after a key was let go.
function installProbes() {
  const probe = window.probe = { shown: [], delays: [], longTasks: [], keyUps: [], stops: [] };
  const show = showPicture;
  showPicture = function (p) {
    const t0 = performance.now();
    show(p);
    const now = performance.now();
    probe.shown.push({ at: now, main: now - t0, times: p && p.times ? p.times : null, work: p && p.work, dropped: p && p.dropped ? p.dropped : null });
  };
  const fed = feedPicture;
  feedPicture = function (...args) {
    fed.apply(this, args);
    if (lastDelayMs !== null) probe.delays.push({ at: performance.now(), ms: lastDelayMs });
  };
  new PerformanceObserver((list) => {
    for (const e of list.getEntries()) probe.longTasks.push({ at: e.startTime, ms: e.duration });
  }).observe({ type: 'longtask' });
  window.addEventListener('keyup', (e) => probe.keyUps.push(e.timeStamp), true);
  const send = window.fetch;
  window.fetch = function (url, init) {
    if (String(url).endsWith('/ptz/stop')) probe.stops.push(performance.now());
    return send.call(this, url, init);
  };
}

// CPU time (ms) used so far by each thread of the browser's processes (those
// under `root` named chrom*), from /proc: { pid: { tid: [name, ms, process type] } }. Null where
// there is no /proc.
function browserThreads(root) {
  if (!fs.existsSync('/proc/self/task')) return null;
  const stat = (file) => {
    const text = fs.readFileSync(file, 'utf8');
    const f = text.slice(text.lastIndexOf(')') + 2).split(' ');
    return { name: text.slice(text.indexOf('(') + 1, text.lastIndexOf(')')), parent: f[1], ms: (Number(f[11]) + Number(f[12])) * 10 };
  };
  const procs = {};
  for (const pid of fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try { procs[pid] = stat(`/proc/${pid}/stat`); } catch (e) { /* gone */ }
  }
  const under = (pid) => { for (let p = pid; p && p !== '0'; p = procs[p] && procs[p].parent) if (p === String(root)) return true; return false; };
  const out = {};
  for (const pid of Object.keys(procs).filter((p) => /^chrom/.test(procs[p].name) && under(p))) {
    try {
      out[pid] = {};
      const type = /--type=([\w-]+)/.exec(fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8'));
      for (const tid of fs.readdirSync(`/proc/${pid}/task`)) {
        const t = stat(`/proc/${pid}/task/${tid}/stat`);
        out[pid][tid] = [t.name, t.ms, type ? type[1] : 'browser'];
      }
    } catch (e) { /* gone */ }
  }
  return out;
}

// The browser's CPU between two browserThreads() snapshots, split into the page's
// main thread and its workers (the renderer busiest meanwhile) and all the rest.
function browserCpu(from, to) {
  if (!from || !to) return null;
  const used = (pid, tid) => to[pid][tid][1] - ((from[pid] && from[pid][tid]) ? from[pid][tid][1] : 0);
  let total = 0, page = null, pageUsed = -1;
  const byThread = {};
  for (const pid of Object.keys(to)) {
    let sum = 0;
    for (const tid of Object.keys(to[pid])) {
      const ms = used(pid, tid);
      sum += ms;
      const key = `${to[pid][tid][2]}:${to[pid][tid][0].replace(/\d+$/, '')}`;
      byThread[key] = (byThread[key] || 0) + ms;
    }
    total += sum;
    const renderer = Object.values(to[pid]).some((t) => t[0] === 'Compositor');
    if (renderer && sum > pageUsed) { page = pid; pageUsed = sum; }
  }
  let main = 0, worker = 0;
  if (page !== null) {
    main = used(page, page);
    for (const tid of Object.keys(to[page])) if (to[page][tid][0].startsWith('DedicatedWorker')) worker += used(page, tid);
  }
  return { main, worker, rest: total - main - worker, byThread };
}

// Holds an arrow key `presses` times; each release → the stop request leaving the
// page, in ms.
async function releases(page, presses) {
  await page.bringToFront();
  const from = await page.evaluate(() => [window.probe.keyUps.length, window.probe.stops.length]);
  for (let i = 0; i < presses; i++) {
    await page.keyboard.down('ArrowLeft');
    await page.waitForTimeout(250); // held, as a person would
    await page.keyboard.up('ArrowLeft');
    await until(() => page.evaluate(() => window.probe.stops.length), 5000, (n) => n >= from[1] + i + 1, 'the stop request');
    await page.waitForTimeout(100);
  }
  return page.evaluate((f) => window.probe.stops.slice(f[1]).map((t, i) => t - window.probe.keyUps[f[0] + i]), from);
}

// A list of latencies: { p50, p95, n }.
function spread(lat) { return { p50: percentile(lat, 0.5), p95: percentile(lat, 0.95), n: lat.length }; }

function median(list) { return percentile(list, 0.5); }
function percentile(list, p) {
  if (!list.length) return NaN;
  const s = list.slice().sort((a, b) => a - b);
  return s[Math.min(s.length - 1, Math.floor(s.length * p))];
}

// Follows a camera's /liveview.mjpg at `url` and keeps the newest X-Frame
// seen: the feed's rate beside what a page draws. state.req ends it.
function frameCounter(url) {
  const state = { frame: 0, req: null };
  state.req = http.get(url, (res) => {
    let tail = '';
    res.on('data', (chunk) => {
      const text = tail + chunk.toString('latin1');
      const re = /X-Frame: (\d+)\r\n/g;
      let m;
      while ((m = re.exec(text)) !== null) state.frame = Number(m[1]);
      tail = text.slice(-64);
    });
  });
  state.req.on('error', () => {});
  return state;
}

module.exports = {
  frameCounter, pageAt, pageProxy, cameraPicture, installProbes, browserThreads, browserCpu, median, percentile, servedPage,
  releases, spread,
};
