// "Fluido": the live view read from the multipart stream. The same picture gives the
// same canvas, scopes and advisor as the polled view; a burst draws only its newest
// picture; the rate and delay read-out; a stream that ends is opened again; and
// "SEM SINAL" in both modes when pictures stop or the camera is lost.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, canvasPixels, topLogLine, shownDigest } = require('./lib/page');
const { makePicture } = require('./lib/png');
const { BOUNDARY, part, serveStream: serveLib } = require('./lib/stream');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.98.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

function serveStream(t, feed) { serveLib(mock, t, feed); }

// Writes one part every `ms` until the response closes or `count` parts went out.
function steady(res, bytes, ms, count = 400, options = {}) {
  let n = 0;
  const timer = setInterval(() => {
    if (res.destroyed || n >= count) return clearInterval(timer);
    res.write(part(bytes, { frame: ++n, ...options, stamp: Date.now() / 1000 - (options.ageMs || 0) / 1000 }));
  }, ms);
  res.on('close', () => clearInterval(timer));
}

async function setFluid(page, on) {
  const now = await page.evaluate(() => document.getElementById('lvfluid').classList.contains('on'));
  if (now !== on) await page.click('#lvfluid');
}

// A camera-like JPEG made by the browser itself: gradient, colour patches, fine lines.
async function cameraJpeg(page) {
  const b64 = await page.evaluate(async () => {
    const c = document.createElement('canvas');
    c.width = 320; c.height = 212;
    const s = c.getContext('2d');
    const g = s.createLinearGradient(0, 0, 320, 0);
    g.addColorStop(0, '#000'); g.addColorStop(1, '#fff');
    s.fillStyle = g; s.fillRect(0, 0, 320, 70);
    ['#c33', '#3c3', '#33c', '#ee3', '#3cc', '#c3c', '#e0a080', '#fdfdfd'].forEach((col, i) => { s.fillStyle = col; s.fillRect(i * 40, 70, 40, 70); });
    for (let x = 0; x < 320; x += 2) { s.fillStyle = x % 4 ? '#111' : '#eee'; s.fillRect(x, 140, 1, 72); }
    const blob = await new Promise((r) => c.toBlob(r, 'image/jpeg', 0.85));
    const bytes = new Uint8Array(await blob.arrayBuffer());
    let text = '';
    for (const v of bytes) text += String.fromCharCode(v);
    return btoa(text);
  });
  return Buffer.from(b64, 'base64');
}

test('Fluido draws the same pixels, scopes and advisor as the polled view for the same picture', async (t) => {
  const maker = await openConsole(browser, mock, {}, t);
  const jpeg = await cameraJpeg(maker);
  const views = {};
  for (const mode of ['polled', 'fluid']) {
    const page = await openConsole(browser, mock, {}, t);
    await setFluid(page, mode === 'fluid');
    if (mode === 'polled') {
      mock.on('GET', '/liveview.jpg', (req, res) => { res.writeHead(200, { 'Content-Type': 'image/jpeg' }); res.end(jpeg); });
      t.after(() => mock.handlers.delete('GET /liveview.jpg'));
    } else {
      serveStream(t, (res) => steady(res, jpeg, 60));
    }
    await page.click('#lvbtn');
    await page.waitForFunction(() => document.getElementById('view').width === 320, null, { timeout: 5000 });
    for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
    await page.$eval('#zb', (el) => { el.value = '236'; el.dispatchEvent(new Event('input')); });
    await page.click('#looks > div:nth-child(3) canvas'); // Quente
    // Let a few pictures be drawn with these settings.
    await page.waitForTimeout(700);
    await page.click('#lvbtn');
    await page.waitForTimeout(200);
    views[mode] = await shownDigest(page);
    await page.close();
  }
  assert.deepEqual(views.fluid, views.polled);
  assert.match(views.fluid.advisor, /Exposição média/);
  assert.match(views.fluid.view, /^320x212:/);
});

test('Fluido: remembered, follows the stream, draws only the newest of a burst, rate and delay, reopens an ended stream', async (t) => {
  const colours = [[200, 0, 0], [0, 200, 0], [0, 0, 200], [200, 200, 0], [0, 200, 200], [90, 90, 90]];
  const small = colours.map((c) => makePicture(8, 6, () => c).png);
  const big = makePicture(64, 40, () => [120, 130, 140]).png;
  let streams = 0;
  serveStream(t, (res) => {
    streams++;
    if (streams === 1) {
      // A burst in one write: only its last picture is to be drawn. Then the closing boundary.
      res.write(Buffer.concat(small.map((png, i) => part(png, { type: 'image/png', frame: i + 1 }))));
      setTimeout(() => res.end(`--${BOUNDARY}--\r\n`), 400);
    } else {
      steady(res, big, 40, 400, { type: 'image/png', ageMs: 60 });
    }
  });
  const page = await openConsole(browser, mock, {}, t);
  await setFluid(page, true);
  await page.reload();
  assert.equal(await page.evaluate(() => document.getElementById('lvfluid').classList.contains('on')), true, 'remembered');
  await page.evaluate(() => {
    window.drawnColours = [];
    const draw = showPicture;
    showPicture = function (img) {
      draw(img);
      const d = viewCtx.getImageData(0, 0, 1, 1).data;
      window.drawnColours.push([d[0], d[1], d[2]]);
    };
  });
  const since = mock.requests.length;
  const opened = Date.now();
  await page.click('#lvbtn');
  await page.waitForFunction(() => window.drawnColours.length > 0);
  await page.waitForTimeout(200);
  assert.deepEqual(await page.evaluate(() => window.drawnColours), [[90, 90, 90]], 'one picture drawn, the newest');

  // The stream ended; the next one is asked for after a pause and then followed.
  const again = await mock.waitFor((r) => r.path === '/liveview.mjpg', 5000, mock.requests.findIndex((r, i) => i >= since && r.path === '/liveview.mjpg') + 1);
  assert.ok(again.at - opened >= 1300, 'reopened after the 400 ms stream and a pause: ' + (again.at - opened));
  await page.waitForFunction(() => document.getElementById('view').width === 64);
  await page.waitForTimeout(1500);
  const text = await page.textContent('#lvrate');
  const m = /^(\d+) qps · (\d+) ms$/.exec(text);
  assert.ok(m, 'rate and delay: ' + text);
  assert.ok(Number(m[1]) >= 15 && Number(m[1]) <= 30, 'about 25 pictures a second: ' + text);
  assert.ok(Number(m[2]) >= 60 && Number(m[2]) < 400, 'delay from the stamp 60 ms old: ' + text);
  const paths = mock.requests.slice(since).map((r) => r.path);
  assert.equal(paths.filter((p) => p === '/liveview.jpg').length, 0, 'Fluido asks for no single pictures');

  // Switched off while running: back to the polled view, the read-out cleared.
  await page.click('#lvfluid');
  assert.equal(await page.textContent('#lvrate'), '');
  await mock.waitFor((r) => r.path === '/liveview.jpg', 3000, since);
  await page.click('#lvbtn');
  await page.evaluate(() => localStorage.clear());
});

test('SEM SINAL over the dimmed last picture when pictures stop or the camera is lost, in both modes', async (t) => {
  const grey = makePicture(40, 30, () => [200, 200, 200]);
  let flowing = true;
  mock.on('GET', '/liveview.jpg', (req, res) => {
    if (!flowing) { res.writeHead(503, { 'Content-Type': 'application/json' }); return res.end('{"status":"live view indisponivel"}'); }
    res.writeHead(200, { 'Content-Type': 'image/png' });
    res.end(grey.png);
  });
  t.after(() => mock.handlers.delete('GET /liveview.jpg'));
  let streamRes = null;
  serveStream(t, (res) => { streamRes = res; steady(res, grey.png, 50, 10, { type: 'image/png' }); });

  const corner = async (page) => (await canvasPixels(page, 'view')).slice(0, 3);
  const logLines = (page) => page.evaluate(() => document.getElementById('log').textContent.split('\n').filter(Boolean));
  for (const mode of ['polled', 'fluid']) {
    const page = await openConsole(browser, mock, {}, t);
    await setFluid(page, mode === 'fluid');
    await page.click('#lvbtn');
    await page.waitForFunction(() => document.getElementById('view').width === 40);
    assert.deepEqual(await corner(page), [200, 200, 200], mode);
    // Pictures stop: the polled view gets 503s, the stream's 10 parts run out.
    flowing = false;
    await page.waitForFunction(() => document.getElementById('log').textContent.includes('SEM SINAL'), null, { timeout: 3000 });
    const dimmed = await corner(page);
    assert.ok(dimmed[0] < 100 && dimmed[0] > 40, `${mode}: the last picture dimmed: ${dimmed}`);
    await page.waitForTimeout(1200);
    assert.deepEqual(await logLines(page).then((l) => l.filter((x) => x.includes('SEM SINAL')).length), 1, `${mode}: said once`);
    // Pictures again.
    flowing = true;
    if (mode === 'fluid') steady(streamRes, grey.png, 50, 10, { type: 'image/png' });
    await page.waitForFunction(() => document.getElementById('log').textContent.includes('sinal restabelecido'), null, { timeout: 3000 });
    assert.deepEqual(await corner(page), [200, 200, 200], `${mode}: the picture shows again`);
    assert.match(await topLogLine(page), /live view: sinal restabelecido$/);
    await page.click('#lvbtn');
    await page.close();
  }

  // The camera reported lost while pictures still arrive (polled): SEM SINAL stays over each.
  const page = await openConsole(browser, mock, {}, t);
  await setFluid(page, false);
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.getElementById('view').width === 40);
  await page.evaluate(() => { window.cameraIsLost = () => true; });
  await page.waitForFunction(() => document.getElementById('log').textContent.includes('SEM SINAL'), null, { timeout: 2000 });
  await page.waitForTimeout(400);
  assert.ok((await corner(page))[0] < 100, 'dimmed while the camera is lost, though pictures arrive');
  await page.evaluate(() => { window.cameraIsLost = () => false; });
  await page.waitForFunction(() => document.getElementById('log').textContent.includes('sinal restabelecido'), null, { timeout: 2000 });
  assert.deepEqual(await corner(page), [200, 200, 200]);
  await page.click('#lvbtn');
});
