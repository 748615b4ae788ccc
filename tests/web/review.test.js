// The "Última foto" card: the newest picture shown by itself when a capture event
// arrives (or, without /events, at the next 2 s poll), its read-outs, clipped
// share and marks, the strip paging back with `before`, and the card following a
// capture made with a plain HTTP request against kamora --server and a virtual camera.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole } = require('./lib/page');
const { makePicture } = require('./lib/png');
const { binary, post, startProgram, BUILD } = require('./lib/procs');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.94.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

// A folder as the server lists it: names newest first, each with its entry and picture.
const folder = { order: [], entries: new Map() };

function listing(req, res, record) {
  const q = new URLSearchParams(record.query);
  const limit = Math.min(Number(q.get('limit')) || 50, 500);
  let start = 0;
  if (q.has('before')) {
    const at = folder.order.indexOf(q.get('before'));
    start = at < 0 ? folder.order.length : at + 1;
  }
  const names = folder.order.slice(start, start + limit);
  res.writeHead(200, { 'Content-Type': 'application/json' });
  res.end(JSON.stringify({
    pictures: names.map((n) => folder.entries.get(n)),
    more: start + limit < folder.order.length,
    total: folder.order.length,
  }));
}

function addPicture(name, picture, fields = {}) {
  folder.order.unshift(name);
  folder.entries.set(name, Object.assign({
    name, bytes: picture ? picture.png.length : 0, mtime: Date.now(), iso: null, fnumber: null, shutter: null,
    ev: null, model: null, taken: null, width: picture ? picture.width : null, height: picture ? picture.height : null,
  }, fields));
  if (picture) {
    mock.on('GET', '/captures/' + name, (req, res) => {
      res.writeHead(200, { 'Content-Type': 'image/png' });
      res.end(picture.png);
    });
  }
}

function resetFolder() {
  for (const n of folder.order) mock.handlers.delete('GET /captures/' + n);
  folder.order = [];
  folder.entries.clear();
  mock.on('GET', '/captures', listing);
}

const waitShown = (page, name, timeout = 5000) =>
  page.waitForFunction((n) => document.getElementById('rvview').dataset.name === n, name, { timeout });
const stripNames = (page) => page.$$eval('#rvstrip img', (imgs) => imgs.map((i) => i.dataset.name));
const tiles = (page) => page.evaluate(() => Array.from(document.querySelectorAll('#review [data-r]'),
  (el) => el.getAttribute('data-r') + '=' + el.textContent).join(' '));
// The RGB of the card's canvas at (x, y).
const pixelAt = (page, x, y) => page.evaluate(([px, py]) => Array.from(
  document.getElementById('rvview').getContext('2d').getImageData(px, py, 1, 1).data.slice(0, 3)), [x, y]);

// Four bands of ten columns: white, orange (red at 255, blue at 0), black, and a
// colour that touches neither end.
const BANDS = [[255, 255, 255], [255, 128, 0], [0, 0, 0], [100, 150, 200]];
const clipped = makePicture(40, 20, (x) => BANDS[Math.floor(x / 10)]);
const plain = makePicture(30, 20, (x, y) => [60 + x, 90 + y, 120]);

test('a capture event puts the new picture in the card within a second, with its settings and clipping', { timeout: 30000 }, async (t) => {
  resetFolder();
  addPicture('KAMORA_00001.JPG', plain, { iso: 100, fnumber: 5.6, shutter: '1/125', ev: 0 });
  // Every stream the page opens gets the events (another part may follow them too).
  const streams = new Set();
  mock.on('GET', '/events', (req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store' });
    res.write(': conectado\n\n');
    streams.add(res);
  });
  const page = await openConsole(browser, mock, {}, t);
  await waitShown(page, 'KAMORA_00001.JPG');
  assert.equal(await tiles(page), 'iso=100 fnumber=f/5.6 shutter=1/125 ev=+0.0');
  assert.equal(await page.isHidden('#rvempty'), true);
  await mock.waitFor((r) => r.path === '/events');
  while (streams.size === 0) await new Promise((r) => setTimeout(r, 20));

  addPicture('KAMORA_00002.JPG', clipped, { iso: 400, fnumber: 8, shutter: '2"', ev: -0.7, taken: '2026-01-02T10:03:21' });
  const sent = Date.now();
  for (const res of streams) res.write('id: 7\nevent: capture\ndata: {"name":"KAMORA_00002.JPG"}\n\n');
  await waitShown(page, 'KAMORA_00002.JPG', 1000);
  const elapsed = Date.now() - sent;
  assert.ok(elapsed < 1000, 'shown ' + elapsed + ' ms after the event');
  assert.equal(await tiles(page), 'iso=400 fnumber=f/8 shutter=2" ev=-0.7');
  assert.equal(await page.textContent('#rvname'), 'KAMORA_00002.JPG · 40 × 20 · 2026-01-02 10:03:21');
  // White: 10 columns at 255 in every channel, orange: red at 255 and blue at 0, black: 0.
  assert.equal(await page.textContent('#rvclip'),
    'Estouros (255): R 50.0% · G 25.0% · B 25.0%\nSombras (0): R 25.0% · G 25.0% · B 50.0%');
  const histDrawn = await page.evaluate(() => {
    const d = document.getElementById('rvhist').getContext('2d').getImageData(0, 0, 320, 120).data;
    let lit = 0;
    for (let i = 3; i < d.length; i += 4) if (d[i] > 0) lit++;
    return lit;
  });
  assert.ok(histDrawn > 0, 'the histogram is drawn');

  // The marks: highlights magenta, shadows blue, the rest untouched; off again restores.
  const bands = async () => Promise.all([5, 15, 25, 35].map((x) => pixelAt(page, x, 10)));
  assert.deepEqual(await bands(), BANDS);
  await page.click('#rvmark');
  assert.deepEqual(await bands(), [[255, 0, 180], [255, 0, 180], [0, 90, 255], [100, 150, 200]]);
  assert.equal(await page.getAttribute('#rvmark', 'class'), 'tg on');
  await page.click('#rvmark');
  assert.deepEqual(await bands(), BANDS);

  // The strip, newest first; a click shows that picture; "Abrir original" opens it whole.
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 2);
  assert.deepEqual(await stripNames(page), ['KAMORA_00002.JPG', 'KAMORA_00001.JPG']);
  assert.deepEqual(await page.$$eval('#rvstrip img.sel', (i) => i.map((x) => x.dataset.name)), ['KAMORA_00002.JPG']);
  await page.click('#rvstrip img[data-name="KAMORA_00001.JPG"]');
  await waitShown(page, 'KAMORA_00001.JPG');
  assert.equal(await tiles(page), 'iso=100 fnumber=f/5.6 shutter=1/125 ev=+0.0');
  const [opened] = await Promise.all([
    page.context().waitForEvent('page'),
    page.getByRole('button', { name: 'Abrir original', exact: true }).click(),
  ]);
  assert.equal(opened.url(), mock.url + '/captures/KAMORA_00001.JPG');
  await opened.close();

  // With the stream up, the folder is not polled as well.
  const polls = () => mock.requests.filter((r) => r.path === '/captures' && r.query === 'limit=1').length;
  const before = polls();
  await new Promise((r) => setTimeout(r, 2500));
  assert.equal(polls(), before);
  mock.handlers.delete('GET /events');
  for (const res of streams) res.end();
});

test('the strip pages back with `before` as it scrolls, and stops at the oldest', { timeout: 30000 }, async (t) => {
  resetFolder();
  mock.handlers.delete('GET /events');
  const names = [];
  for (let i = 1; i <= 120; i++) {
    const name = 'KAMORA_' + String(i).padStart(5, '0') + '.JPG';
    names.unshift(name);
    addPicture(name, null);
  }
  const page = await openConsole(browser, mock, {}, t);
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 50);
  const pages = () => mock.requests.filter((r) => r.path === '/captures' && r.query.includes('before='))
    .map((r) => new URLSearchParams(r.query).get('before'));
  assert.deepEqual(pages(), []);
  const scrollToEnd = () => page.evaluate(() => { const s = document.getElementById('rvstrip'); s.scrollLeft = s.scrollWidth; });
  await scrollToEnd();
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 100);
  await scrollToEnd();
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 120);
  await scrollToEnd();
  await page.waitForTimeout(300);
  assert.deepEqual(pages(), [names[49], names[99]]);
  assert.deepEqual(await stripNames(page), names);
});

const kamora = binary('kamora');
const vcam = binary('kamora-vcam');
const missing = [!kamora && 'kamora', !vcam && 'kamora-vcam'].filter(Boolean);
const skip = missing.length ? `needs ${missing.join(' and ')} in ${BUILD} (not built)` : false;

test('against kamora --server: a capture sent with a plain POST shows in the card by itself', { skip, timeout: 60000 }, async (t) => {
  const host = '127.0.94.2', camIp = '127.0.94.3', mac = '02:00:00:00:94:03';
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kamora-review-'));
  const camera = await startProgram(vcam, ['--ip', camIp, '--mac', mac], `http://${camIp}:15740/vcam/state`, { cwd: workDir });
  t.after(() => camera.stop());
  const server = await startProgram(kamora, ['--server', '--host', host, '--port', '8080'], `http://${host}:8080/status`, { cwd: workDir });
  t.after(async () => { await server.stop(); fs.rmSync(workDir, { recursive: true, force: true }); });
  const origin = `http://${host}:8080`;
  assert.equal((await post(`${origin}/connect?ip=${camIp}&mac=${mac}`)).status, 200);
  assert.equal((await post(`${origin}/exposure?iso=800&fnumber=4&shutter=1/500&ev=-1.3`)).status, 200);

  const page = await browser.newPage();
  t.after(() => page.close());
  await page.goto(origin + '/');
  assert.equal(await page.isVisible('#rvempty'), true);
  for (const n of [1, 2]) {
    const name = `KAMORA_0000${n}.JPG`;
    assert.equal((await post(`${origin}/capture`)).body, '{"status":"1 foto(s)"}');
    await waitShown(page, name, 5000);
  }
  assert.equal(await tiles(page), 'iso=800 fnumber=f/4 shutter=1/500 ev=-1.3');
  assert.match(await page.textContent('#rvname'), /^KAMORA_00002\.JPG · 3000 × 2000 · \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/);
  // The screen copy (at most 1600 px wide, aspect kept), not the 3000 px original.
  const [w, h] = await page.evaluate(() => [document.getElementById('rvview').width, document.getElementById('rvview').height]);
  assert.ok(w <= 1600 && w > 800 && Math.abs(h - w * 2 / 3) <= 1, w + ' x ' + h);
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 2);
  assert.deepEqual(await stripNames(page), ['KAMORA_00002.JPG', 'KAMORA_00001.JPG']);
  assert.deepEqual(browser.errors, []);
});

// Last: the fake clock stays installed in the browser's one context.
test('without /events (404) the card polls /captures?limit=1 every 2 s', { timeout: 30000 }, async (t) => {
  resetFolder();
  mock.on('GET', '/events', (req, res) => { res.writeHead(404); res.end(); });
  t.after(() => mock.handlers.delete('GET /events'));
  addPicture('KAMORA_00010.JPG', plain);
  const page = await openConsole(browser, mock, { clock: true }, t);
  await waitShown(page, 'KAMORA_00010.JPG');
  assert.equal(await tiles(page), 'iso=— fnumber=— shutter=— ev=—');
  const polls = () => mock.requests.filter((r) => r.path === '/captures' && r.query === 'limit=1').length;
  await mock.waitFor((r) => r.path === '/events');
  await page.waitForTimeout(200);
  let since = polls();
  await page.clock.runFor(1990);
  await page.waitForTimeout(200);
  assert.equal(polls(), since, 'no poll before 2 s');
  const at = mock.requests.length;
  await page.clock.runFor(10);
  await mock.waitFor((r) => r.path === '/captures' && r.query === 'limit=1', 3000, at);

  addPicture('KAMORA_00011.JPG', clipped);
  since = polls();
  await page.clock.runFor(2000);
  await waitShown(page, 'KAMORA_00011.JPG');
  assert.equal(polls(), since + 1);
  await page.waitForFunction(() => document.querySelectorAll('#rvstrip img').length === 2);
  assert.deepEqual(await stripNames(page), ['KAMORA_00011.JPG', 'KAMORA_00010.JPG']);
});
