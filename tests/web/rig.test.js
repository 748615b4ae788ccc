// The console as a rig console against kamora --server and eight virtual cameras:
// no Câmeras card with main alone, cameras added through the form (and one
// refused), the tiles with names, models, states and live pictures (read and
// decoded off the page's main thread), the tiles' stream opened again when it
// ends, a killed camera shown lost within 2 s, every card addressing the camera
// in focus, the focus kept in the page address, the volley's chart, removing a
// camera, and the connections the page holds.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { launchBrowser } = require('./lib/browser');
const { binary, post, startProgram, BUILD } = require('./lib/procs');
const { until } = require('./lib/until');
const { sampleConnections, serverConnections } = require('./lib/connections');

const HOST = '127.19.2.1';
const BASE = `http://${HOST}:8080`;
// main and seven more; c3 has a pan/tilt head.
const CAMERAS = ['main', 'c2', 'c3', 'c4', 'c5', 'c6', 'c7', 'c8'].map((id, i) => ({
  id, ip: `127.19.2.${i + 2}`, mac: `02:00:00:13:02:0${i + 2}`, model: id === 'c3' ? 'PZ_M7' : 'SB_A4',
}));
const kamora = binary('kamora');
const vcam = binary('kamora-vcam');
const missing = [!kamora && 'kamora', !vcam && 'kamora-vcam'].filter(Boolean);
const skip = missing.length ? `needs ${missing.join(' and ')} in ${BUILD} (not built)` : false;

let server, workDir;
const vcams = new Map();
before(async () => {
  if (skip) return;
  workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-rig-'));
  for (const c of CAMERAS) {
    vcams.set(c.id, await startProgram(vcam, ['--ip', c.ip, '--mac', c.mac, '--model', c.model],
      `http://${c.ip}:15740/vcam/state`, { cwd: workDir }));
  }
  server = await startProgram(kamora, ['--server', '--host', HOST, '--port', '8080'], `${BASE}/status`, { cwd: workDir });
  assert.equal((await post(`${BASE}/connect?ip=${CAMERAS[0].ip}&mac=${CAMERAS[0].mac}`)).body, '{"status":"conectado"}');
});
after(async () => {
  if (server) await server.stop();
  for (const p of vcams.values()) await p.stop();
  if (workDir) fs.rmSync(workDir, { recursive: true, force: true });
});

// A console page with every request it makes (path and query) in `seen`, in a
// browser of its own: a browser keeps six connections per server for all its
// tabs, and a page just closed may still hold some.
async function openPage(t, address = BASE + '/') {
  const browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
  t.after(() => browser.close());
  const page = await browser.newPage();
  page.errors = browser.errors;
  page.seen = [];
  page.on('request', (r) => page.seen.push(r.method() + ' ' + r.url().slice(BASE.length)));
  await page.goto(address);
  return page;
}

// Waits for a tile per camera (n of them); on failure names what the page asked.
const tilesShown = (page, n = 8) => until(() => page.evaluate(() => document.querySelectorAll('#tiles .tile').length),
  30000, (k) => k === n, `${n} tiles`).catch((e) => {
  throw new Error(`${e.message}; asked ${page.seen.join(', ')}; errors ${page.errors.join(' | ')}`);
});
const tileIds = (page) => page.$$eval('#tiles .tile', (ts) => ts.map((t) => t.dataset.camera));
const focused = (page) => page.$$eval('#tiles .tile.focus', (ts) => ts.map((t) => t.dataset.camera));
const tileOf = (id) => `#tiles .tile[data-camera="${id}"]`;
// Waits until the page has asked for `request` ("METHOD /path?query", or a RegExp) since index `from`.
// On failure it names the requests made since.
const asked = (page, request, from = 0, deadline = 5000) => until(
  () => page.seen.slice(from),
  deadline, (since) => since.some((s) => (request instanceof RegExp ? request.test(s) : s === request)),
  `request ${request}`);

test('main alone: no Câmeras card and no tile stream; cameras added through the form, a bad one refused',
  { skip, timeout: 120000 }, async (t) => {
    const page = await openPage(t);
    await page.waitForFunction(() => document.getElementById('camst').textContent === 'câmera conectada');
    assert.equal(await page.isHidden('#rig'), true);
    assert.equal(page.seen.some((s) => s.includes('/tiles.mjpg')), false);
    assert.equal(new URL(page.url()).hash, '');

    await page.click('#rigadd summary');
    const add = async (id, ip, mac) => {
      await page.fill('#addid', id);
      await page.fill('#addip', ip);
      await page.fill('#addmac', mac);
      await page.click('#addbtn');
    };
    await add('c2', CAMERAS[1].ip, 'nada');
    await page.waitForFunction(() => document.getElementById('rigmsg').textContent === 'ip ou mac invalido');
    await add('c2', CAMERAS[1].ip, CAMERAS[1].mac);
    await page.waitForFunction(() => document.getElementById('rigmsg').textContent === 'câmera c2 adicionada: câmera conectada',
      null, { timeout: 20000 });
    await page.waitForFunction(() => !document.getElementById('rig').hidden && document.querySelectorAll('#tiles .tile').length === 2);
    await asked(page, 'GET /tiles.mjpg');
    await add('c2', CAMERAS[1].ip, CAMERAS[1].mac);
    await page.waitForFunction(() => document.getElementById('rigmsg').textContent === 'id em uso');
    // The rest straight to the server, in order; the page follows its rig events.
    for (const c of CAMERAS.slice(2)) await post(`${BASE}/cameras?id=${c.id}&ip=${c.ip}&mac=${c.mac}&model=${c.model}`);
    await page.waitForFunction(() => document.querySelectorAll('#tiles .tile').length === 8, null, { timeout: 10000 });
    assert.deepEqual(page.errors, []);
  });

test('tiles: every camera in the server\'s order with its model, state and a live picture; main cannot be removed',
  { skip, timeout: 60000 }, async (t) => {
    const page = await openPage(t);
    await tilesShown(page);
    assert.deepEqual(await tileIds(page), CAMERAS.map((c) => c.id));
    const rows = await page.$$eval('#tiles .tile', (ts) => ts.map((t) => [t.querySelector('.tid').textContent,
      t.querySelector('.tmodel').textContent, t.querySelector('.tstate').textContent,
      getComputedStyle(t.querySelector('.tdot')).backgroundColor, !!t.querySelector('.tdel')]));
    assert.deepEqual(rows, CAMERAS.map((c) => [c.id, c.model, 'câmera conectada', 'rgb(51, 204, 102)', c.id !== 'main']));
    // Each tile's picture keeps coming, through the one stream, read and decoded
    // off the page's main thread: the page reads none of the stream's parts and
    // makes no Blob of a picture's bytes.
    await page.evaluate(() => {
      const Plain = Blob;
      window.pictureBlobs = 0;
      window.Blob = function (parts, options) {
        if (options && /^image\//.test(options.type)) window.pictureBlobs++;
        return new Plain(parts, options);
      };
      window.partsRead = 0;
      const push = PartReader.prototype.push;
      PartReader.prototype.push = function (bytes) { window.partsRead++; return push.call(this, bytes); };
    });
    const drawn = () => page.evaluate(() => Array.from(rig.tiles.values(), (tile) => tile.drawn));
    const first = await drawn();
    await until(drawn, 10000, (now) => now.every((n, i) => n >= first[i] + 5), 'five more pictures on every tile');
    assert.deepEqual(await page.evaluate(() => [window.pictureBlobs, window.partsRead]), [0, 0]);
    assert.equal(page.seen.filter((s) => s.startsWith('GET /tiles.mjpg')).length, 1);
    assert.equal(page.seen.some((s) => s.includes('/liveview.mjpg')), false);
  });

test('focus: every card addresses the focused camera, the tile is outlined, the address keeps it',
  { skip, timeout: 120000 }, async (t) => {
    const page = await openPage(t);
    await tilesShown(page);
    assert.deepEqual(await focused(page), ['main']);
    let from = page.seen.length;
    await page.click(tileOf('c3'));
    assert.equal(new URL(page.url()).hash, '#camera=c3');
    assert.deepEqual(await focused(page), ['c3']);
    // One request per card, each under /cameras/c3.
    await asked(page, 'GET /cameras/c3/camera', from);                 // the camera indicator
    await asked(page, 'GET /cameras/c3/properties', from);             // Configurações ao vivo
    await asked(page, 'GET /cameras/c3/captures?limit=1', from);       // Última foto
    await asked(page, 'GET /cameras/c3/ptz/presets', from);            // PTZ, shown for a head
    await asked(page, 'GET /cameras/c3/sequence', from);               // Sequência
    assert.equal(await page.isVisible('#ptzpad'), true);
    const cards = [
      ['#lvbtn', /^POST \/tiles\/full\?stream=[0-9a-f]{16}&full=c3&fps=7$/],
      ['button:text-is("Aplicar")', 'POST /cameras/c3/exposure?iso=&fnumber=&shutter=&ev='],
      ['button:text-is("📸 Capturar")', 'POST /cameras/c3/capture?shots=1'],
      ['button:text-is("⌂")', 'POST /cameras/c3/ptz/home'],
    ];
    for (const [control, request] of cards) {
      from = page.seen.length;
      await page.click(control);
      await asked(page, request, from);
    }
    // "Fluido": c3's every picture with the tiles, and the rate and delay it is drawn
    // at. The pictures go from the tiles' worker to the picture worker: the page
    // hands no worker a picture's bytes.
    await page.evaluate(() => {
      window.picturesPosted = 0;
      const post = Worker.prototype.postMessage;
      Worker.prototype.postMessage = function (msg, transfer) {
        if (msg && msg.bytes) window.picturesPosted++;
        return post.call(this, msg, transfer);
      };
    });
    from = page.seen.length;
    await page.click('#lvfluid');
    await asked(page, /^POST \/tiles\/full\?stream=[0-9a-f]{16}&full=c3$/, from);
    await page.waitForFunction(() => /^\d+ qps · \d+ ms$/.test(document.getElementById('lvrate').textContent));
    assert.equal(await page.evaluate(() => window.picturesPosted), 0);
    await page.click('#lvfluid');
    await page.click('#lvbtn');
    await page.fill('#ip', CAMERAS[2].ip);
    await page.fill('#mac', CAMERAS[2].mac);
    await page.selectOption('#model', 'PZ_M7');
    from = page.seen.length;
    await page.click('button:text-is("Conectar")');
    await asked(page, `POST /cameras/c3/connect?ip=${CAMERAS[2].ip}&mac=${encodeURIComponent(CAMERAS[2].mac)}&model=PZ_M7&ssh=0`, from);
    // The log: c3's replies under their own paths; gone from the box when c2 is in focus.
    const logText = () => page.textContent('#log');
    await page.waitForFunction(() => /\/capture → 1 foto\(s\)/.test(document.getElementById('log').textContent), null, { timeout: 20000 });
    await page.waitForFunction(() => document.getElementById('log').textContent.includes('/connect → conectado'), null, { timeout: 20000 });
    assert.match(await logText(), /\/ptz\/home → ok/);
    // The picture just taken: in Última foto and as c3's tile's latest shot.
    await page.waitForFunction(() => /^KAMORA_\d+\.JPG$/.test(document.getElementById('rvview').dataset.name || ''), null, { timeout: 10000 });
    await page.waitForFunction(() => !document.querySelector('#tiles .tile[data-camera="c3"] .tshot').hidden, null, { timeout: 10000 });
    from = page.seen.length;
    await page.keyboard.press('Alt+2');
    assert.equal(new URL(page.url()).hash, '#camera=c2');
    assert.deepEqual(await focused(page), ['c2']);
    assert.equal(await page.isVisible('#ptzpad'), false, 'no PTZ card for a camera without a head');
    await asked(page, 'GET /cameras/c2/properties', from);
    assert.doesNotMatch(await logText(), /\/ptz\/home/);
    assert.equal(await page.textContent('#rvempty'), 'Nenhuma foto ainda.');

    // The address names the focus: a new hash moves it, a reload keeps it.
    await page.goto(BASE + '/#camera=c3');
    await page.waitForFunction(() => document.querySelector('#tiles .tile.focus')?.dataset.camera === 'c3');
    from = page.seen.length;
    await page.reload();
    await page.waitForFunction(() => document.querySelector('#tiles .tile.focus')?.dataset.camera === 'c3');
    await asked(page, 'GET /cameras/c3/properties', from);
    assert.deepEqual(page.errors, []);
  });

test('Disparar todas: the button waits for the volley; the chart has every camera, its offset and its files',
  { skip, timeout: 120000 }, async (t) => {
    const page = await openPage(t);
    await tilesShown(page);
    await page.fill('#vshots', '2');
    const from = page.seen.length;
    await page.click('#volleybtn');
    assert.equal(await page.isDisabled('#volleybtn'), true);
    await asked(page, 'POST /volley?shots=2', from);
    await page.waitForFunction(() => !document.getElementById('volleybtn').disabled, null, { timeout: 60000 });
    const rows = await page.$$eval('#vchart .vrow', (rs) => rs.map((r) => ({
      id: r.dataset.camera, ok: !r.classList.contains('err'), value: r.querySelector('.vval').textContent,
      bar: parseFloat(r.querySelector('.vbar span').style.width),
      files: Array.from(r.querySelectorAll('.vfiles a'), (a) => [a.textContent, a.getAttribute('href')]),
    })));
    assert.deepEqual(rows.map((r) => r.id), CAMERAS.map((c) => c.id));
    for (const r of rows) {
      assert.ok(r.ok, `${r.id}: ${r.value}`);
      assert.match(r.value, /^\d+\.\d\d ms$/);
      assert.ok(r.bar >= 0 && r.bar <= 100, `${r.id} bar ${r.bar}%`);
      assert.equal(r.files.length, 2);
      for (const [name, href] of r.files) {
        const file = name.split('/').pop();
        assert.equal(name, r.id === 'main' ? file : `${r.id}/${file}`);
        assert.equal(href, (r.id === 'main' ? '' : `/cameras/${r.id}`) + `/captures/${file}`);
      }
    }
    assert.ok(rows.some((r) => r.bar === 100), 'the latest press fills its row');
    assert.match(await page.textContent('#vsum'), /^Rajada \d+ · dispersão \d+\.\d\d ms$/);
    const link = await page.evaluate((href) => fetch(href).then((r) => [r.status, r.headers.get('Content-Type')]),
      rows[1].files[0][1]);
    assert.deepEqual(link, [200, 'image/jpeg']);
  });

test('connections: with 8 cameras the page holds the page and at most 3 more', { skip, timeout: 120000 }, async (t) => {
  const loading = sampleConnections(HOST, 8080);
  t.after(() => loading.stop());
  const page = await openPage(t, BASE + '/#camera=c2');
  await tilesShown(page);
  // Until it has heard of the other cameras the page loads as main's console
  // does, its first requests all at once; the server lets their connections go
  // once idle (2 s).
  await until(() => serverConnections(HOST, 8080), 10000, (n) => n <= 4, 'the first requests\' connections gone');
  t.diagnostic(`while loading (samples per count): ${JSON.stringify(loading.stop().histogram)}`);
  const sampler = sampleConnections(HOST, 8080, 25, 4);
  t.after(() => sampler.stop());
  // What the page's requests did, when: read beside the samples above 4 on a failure.
  const timeline = [];
  const mark = (what, r) => timeline.push([Date.now(), what, r.method() + ' ' + r.url().slice(BASE.length)]);
  page.on('request', (r) => mark('asked', r));
  page.on('requestfinished', (r) => mark('finished', r));
  page.on('requestfailed', (r) => mark('failed ' + r.failure()?.errorText, r));
  // The busiest the page gets: the live view on, the focus going round, a capture
  // and a volley under way while it polls.
  const clicked = Date.now();
  await page.click('#lvbtn');
  // Its first full picture. The tiles' stream may still have been opening at the
  // click (the page's first requests go two at a time): it then asks for the full
  // pictures as it leaves, or moves over once answered, and is not opened again.
  await page.waitForFunction(() => document.getElementById('view').width === 1024);
  for (const id of ['c3', 'c4', 'main', 'c5', 'c2']) {
    const from = page.seen.length;
    await page.click(tileOf(id));
    await asked(page, new RegExp(`^POST /tiles/full\\?stream=[0-9a-f]{16}&full=${id}&fps=7$`), from);
    await page.waitForFunction(() => document.getElementById('view').width === 1024);
  }
  // A second move asked while the first is under way goes after it, naming the
  // camera wanted then: two at once could reach the server in either order.
  // The move to c3 is held in the browser until the page has done all c4 asks.
  await page.evaluate(() => {
    window.shownFrom = [];
    const show = showPicture;
    showPicture = function (p) { window.shownFrom.push(p.camera); show(p); };
  });
  const moves = [];
  let held = null;
  await page.route('**/tiles/full?*', (route) => {
    moves.push(new URL(route.request().url()).searchParams.get('full'));
    if (held === null) held = route;
    else route.continue();
  });
  const from = page.seen.length;
  await page.keyboard.press('Alt+3');
  await until(() => moves, 5000, (m) => m.length === 1, 'the move to c3, held');
  await page.keyboard.press('Alt+4');
  await asked(page, 'GET /cameras/c4/sequence', from); // the focus's last request, after its move
  assert.deepEqual(moves, ['c3'], 'no second move while the first is under way');
  await held.continue();
  await until(() => moves, 5000, (m) => m.length === 2, 'the move to c4 after it');
  assert.deepEqual(moves, ['c3', 'c4']);
  await page.unroute('**/tiles/full?*');
  await until(() => page.evaluate(() => window.shownFrom), 10000,
    (seen) => seen.filter((id) => id === 'c4').length >= 5, 'five pictures of c4 shown');
  await page.click('button:text-is("📸 Capturar")');
  await page.click('#volleybtn');
  await page.waitForFunction(() => !document.getElementById('volleybtn').disabled, null, { timeout: 60000 });
  const seen = sampler.stop();
  t.diagnostic(`then (samples per count): ${JSON.stringify(seen.histogram)}`);
  t.diagnostic(`above 4: [when, count] ${JSON.stringify(seen.over)}; held in two samples running: at most ${seen.held}`);
  const opened = timeline.filter(([, what, asked]) => what === 'asked' && asked.startsWith('GET /tiles.mjpg'));
  t.diagnostic(`the tiles' stream asked for: ${opened.length} time(s) since the sampling began, ` +
    `ms after the live view's click: ${JSON.stringify(opened.map(([at]) => at - clicked))}`);
  if (seen.held > 4) {
    const [first, last] = [seen.over[0][0] - 1000, seen.over[seen.over.length - 1][0] + 500];
    t.diagnostic(`the page's requests from 1 s before: ${JSON.stringify(timeline.filter(([at]) => at >= first && at <= last))}`);
  }
  // The event stream, the tiles' stream and two requests at a time, one on the page's own connection.
  assert.ok(seen.held <= 4, `at most the page and 3 more; held ${seen.held}`);
  // Every change of the full pictures moved the one stream: it was opened once.
  assert.equal(page.seen.filter((s) => s.startsWith('GET /tiles.mjpg')).length, 1,
    `the tiles' stream opened once; asked ${page.seen.filter((s) => s.includes('tiles')).join(', ')}`);
});

test('a change asked while the tiles\' stream opens moves it once answered; it is not opened again',
  { skip, timeout: 60000 }, async (t) => {
  const browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
  t.after(() => browser.close());
  const page = await browser.newPage();
  // The stream's first request is held on its way: the page sees it left, unanswered.
  const streams = [], moves = [];
  let held = null;
  await page.route('**/tiles.mjpg*', (route) => {
    streams.push(route.request().url().slice(BASE.length));
    if (held === null) held = route;
    else route.continue();
  });
  page.on('request', (r) => { if (r.url().includes('/tiles/full')) moves.push(r.url().slice(BASE.length)); });
  await page.goto(BASE + '/#camera=c2');
  await until(() => streams, 30000, (s) => s.length === 1, 'the tiles\' stream asked for');
  await page.click('#lvbtn');
  await page.waitForFunction(() => rig.stream.full === 'c2');
  await held.continue();
  await until(() => moves, 5000, (m) => m.length === 1, 'the move once answered');
  assert.match(moves[0], /^\/tiles\/full\?stream=[0-9a-f]{16}&full=c2&fps=7$/);
  await page.waitForFunction(() => document.getElementById('view').width === 1024);
  assert.deepEqual(streams, ['/tiles.mjpg']);
  assert.deepEqual(browser.errors, []);
});

test('a tiles\' stream that ends is opened again and the tiles go on', { skip, timeout: 60000 }, async (t) => {
  const browser = await launchBrowser({ viewport: { width: 1400, height: 1300 } });
  t.after(() => browser.close());
  const page = await browser.newPage();
  // The first stream's answer ends at once, as a server going away would end it.
  const streams = [];
  await page.route('**/tiles.mjpg*', (route) => {
    streams.push(Date.now());
    if (streams.length > 1) return route.continue();
    return route.fulfill({ status: 200, headers: { 'Content-Type': 'multipart/x-mixed-replace; boundary=kamoraframe' },
      body: '--kamoraframe--\r\n' });
  });
  await page.goto(BASE + '/');
  await until(() => streams, 30000, (s) => s.length === 2, 'the tiles\' stream asked for again');
  const drawn = () => page.evaluate(() => Array.from(rig.tiles.values(), (tile) => tile.drawn));
  await until(drawn, 10000, (now) => now.length === 8 && now.every((n) => n >= 3), 'three pictures on every tile');
  assert.ok(streams[1] - streams[0] >= 900, `opened again ${streams[1] - streams[0]} ms after, not at once`);
  assert.equal(streams.length, 2);
  assert.deepEqual(browser.errors, []);
});

test('a killed camera\'s tile shows it lost, under SEM SINAL, within 2 s', { skip, timeout: 60000 }, async (t) => {
  const page = await openPage(t);
  await tilesShown(page);
  const tile = tileOf('c8');
  await page.waitForFunction((s) => document.querySelector(s).querySelector('.tstate').textContent === 'câmera conectada', tile);
  const at = Date.now();
  vcams.get('c8').child.kill('SIGKILL');
  await page.waitForFunction((s) => {
    const el = document.querySelector(s);
    return el.querySelector('.tstate').textContent === 'câmera perdida' && el.classList.contains('nosignal');
  }, tile, { timeout: 2000 });
  t.diagnostic(`shown lost ${Date.now() - at} ms after the kill`);
  assert.equal(await page.$eval(tile, (el) => getComputedStyle(el.querySelector('.tnosig')).display), 'flex');
  assert.equal(await page.textContent('#camst'), 'câmera conectada', 'the indicator is main\'s');
});

// Last: c7 sits between cameras, so its removal is the one the tile stream
// must let go of in the middle of the rig.
test('removing: a confirmed remove takes the camera away, a dismissed one sends nothing',
  { skip, timeout: 60000 }, async (t) => {
  const page = await openPage(t);
  await tilesShown(page);
  let answer = 'dismiss';
  page.on('dialog', (d) => { assert.equal(d.message(), 'Remover a câmera c7?'); d[answer](); });
  await page.click(`${tileOf('c7')} .tdel`);
  assert.equal(page.seen.some((s) => s.startsWith('DELETE')), false);
  answer = 'accept';
  await page.click(`${tileOf('c7')} .tdel`);
  await page.waitForFunction(() => document.getElementById('rigmsg').textContent === 'c7: removida');
  await tilesShown(page, 7);
  assert.deepEqual(await tileIds(page), CAMERAS.filter((c) => c.id !== 'c7').map((c) => c.id));
});
