// The live view's pixel work: false colour, zebra, peaking, tone curve and looks,
// checked on synthetic pictures against hand-worked values and against a
// straightforward reference computation run in the same browser.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, canvasPixels } = require('./lib/page');
const { makePicture } = require('./lib/png');

let browser, mock, page;
before(async () => {
  mock = await startMock('127.0.91.1');
  browser = await launchBrowser();
  page = await openConsole(browser, mock, { reference: true });
});
after(async () => {
  await browser.close();
  await mock.stop();
});

const OFF = { mlut: false, look: 'Neutro', falseColor: false, zebra: false, peaking: false, zebraLevel: 250, peakThreshold: 34 };

// Runs the console's paintOverlays on rows of [r, g, b] pixels; returns rows of [r, g, b].
async function paint(rows, options) {
  const width = rows[0].length;
  const flat = rows.flat().flatMap((c) => [c[0], c[1], c[2], 255]);
  const out = await page.evaluate(([px, w, o]) => {
    const data = new Uint8ClampedArray(px);
    paintOverlays(data, w, o);
    return Array.from(data);
  }, [flat, width, { ...OFF, ...options }]);
  const result = [];
  for (let y = 0; y < rows.length; y++) {
    const row = [];
    for (let x = 0; x < width; x++) {
      const i = (y * width + x) * 4;
      assert.equal(out[i + 3], 255, 'alpha is never changed');
      row.push([out[i], out[i + 1], out[i + 2]]);
    }
    result.push(row);
  }
  return result;
}

const grey = (v) => [v, v, v];

test('false colour: each band starts exactly at its bound', async () => {
  const cases = [
    [0, [40, 40, 200]], [7, [40, 40, 200]], [8, [0, 120, 255]], [23, [0, 120, 255]],
    [24, [60, 60, 60]], [91, [60, 60, 60]], [92, [0, 200, 120]], [117, [0, 200, 120]],
    [118, [120, 120, 120]], [131, [120, 120, 120]], [132, [170, 170, 170]], [199, [170, 170, 170]],
    [200, [255, 200, 0]], [234, [255, 200, 0]], [235, [255, 120, 0]], [249, [255, 120, 0]],
    [250, [255, 0, 0]], [255, [255, 0, 0]],
  ];
  const [row] = await paint([cases.map(([v]) => grey(v))], { falseColor: true });
  cases.forEach(([v, colour], i) => assert.deepEqual(row[i], colour, 'grey ' + v));
  // The band follows luma, not one channel: pure green 255 has luma 149.685.
  const [[green]] = await paint([[[0, 255, 0]]], { falseColor: true });
  assert.deepEqual(green, [170, 170, 170]);
});

test('zebra: strictly above the level, three on three off, shifted per row', async () => {
  const stripes = (rows) => rows.map((r) => r.map((c) => (c.join() === '255,0,180' ? 'Z' : '.')).join(''));
  const picture = (v) => Array.from({ length: 3 }, () => Array.from({ length: 7 }, () => grey(v)));
  // Width 7: each row starts (7 + 1) mod 6 = 2 pixels further along the pattern.
  assert.deepEqual(stripes(await paint(picture(251), { zebra: true, zebraLevel: 250 })), ['ZZZ...Z', 'Z...ZZZ', '..ZZZ..']);
  assert.deepEqual(stripes(await paint(picture(250), { zebra: true, zebraLevel: 250 })), ['.......', '.......', '.......']);
  assert.deepEqual(stripes(await paint(picture(255), { zebra: true, zebraLevel: 255 })), ['.......', '.......', '.......']);
  assert.deepEqual(stripes(await paint(picture(201), { zebra: true, zebraLevel: 200 })), ['ZZZ...Z', 'Z...ZZZ', '..ZZZ..']);
  // Width 5: (5 + 1) mod 6 = 0, the stripes stand upright.
  const upright = Array.from({ length: 2 }, () => Array.from({ length: 5 }, () => grey(255)));
  assert.deepEqual(stripes(await paint(upright, { zebra: true, zebraLevel: 250 })), ['ZZZ..', 'ZZZ..']);
  // With false colour on too, unstriped pixels keep their band colour (red above 250).
  const [row] = await paint([Array.from({ length: 6 }, () => grey(252))], { zebra: true, falseColor: true, zebraLevel: 250 });
  assert.deepEqual(row, [[255, 0, 180], [255, 0, 180], [255, 0, 180], [255, 0, 0], [255, 0, 0], [255, 0, 0]]);
});

test('focus peaking: strictly above the threshold, forward in memory order across rows', async () => {
  const marks = (rows) => rows.map((r) => r.map((c) => (c.join() === '255,40,40' ? 'P' : '.')).join(''));
  const picture = [[100, 134, 100, 100], [135, 135, 200, 0]].map((r) => r.map(grey));
  // 100→134 and 134→100 differ by exactly 34: unmarked. The last pixel of row 0 meets
  // the first of row 1 (35 apart). The picture's last pixel is never marked.
  assert.deepEqual(marks(await paint(picture, { peaking: true, peakThreshold: 34 })), ['...P', '.PP.']);
  assert.deepEqual(marks(await paint(picture, { peaking: true, peakThreshold: 33 })), ['PP.P', '.PP.']);
  assert.deepEqual(marks(await paint(picture, { peaking: true, peakThreshold: 80 })), ['....', '..P.']);
  // Unmarked pixels keep their values; marked ones compare as they were before painting.
  const [row] = await paint([[grey(0), grey(255), grey(0), grey(255)]], { peaking: true, peakThreshold: 10 });
  assert.deepEqual(row, [[255, 40, 40], [255, 40, 40], [255, 40, 40], [255, 255, 255]]);
});

test('monitor tone curve and the looks, on hand-worked pixels', async () => {
  const cases = [
    // [options, input pixel, expected pixel]
    [{ mlut: true }, grey(0), grey(0)],
    [{ mlut: true }, grey(1), grey(21)],
    [{ mlut: true }, grey(64), grey(137)],
    [{ mlut: true }, grey(128), grey(187)],
    [{ mlut: true }, grey(255), grey(255)],
    [{ mlut: true }, [255, 0, 0], [255, 0, 0]],
    [{ look: 'Neutro' }, [12, 200, 99], [12, 200, 99]],
    [{ look: 'Rec.709' }, [0, 64, 255], [0, 32, 255]],
    [{ look: 'Rec.709' }, [191, 128, 127], [223, 128, 127]],
    [{ look: 'Quente' }, [100, 100, 100], [114, 100, 92]],
    [{ look: 'Quente' }, [250, 7, 255], [255, 7, 235]],
    [{ look: 'Frio' }, [100, 100, 100], [92, 100, 116]],
    [{ look: 'Frio' }, [255, 7, 250], [235, 7, 255]],
    [{ look: 'Alto contraste' }, [100, 128, 255], [90, 128, 255]],
    [{ look: 'Alto contraste' }, [0, 160, 200], [0, 171, 225]],
    [{ look: 'P&B' }, [255, 0, 0], [76, 76, 76]],
    [{ look: 'P&B' }, [0, 0, 255], [29, 29, 29]],
    // The look works on the tone-mapped values: grey 64 becomes 137, then 137 × 1.08 + 6.
    [{ mlut: true, look: 'Quente' }, grey(64), [154, 137, 126]],
  ];
  for (const [options, input, expected] of cases) {
    const [[out]] = await paint([[input]], options);
    assert.deepEqual(out, expected, JSON.stringify(options) + ' ' + input);
  }
  // Rec.709's curve passes through black, mid-grey and white untouched.
  const s = await page.evaluate(() => {
    const out = new Float64Array(3);
    LOOKS.find((l) => l.name === 'Rec.709').fn(0, 127.5, 255, out);
    return Array.from(out);
  });
  assert.deepEqual(s, [0, 127.5, 255]);
  assert.deepEqual(await page.evaluate(() => LOOKS.map((l) => l.name)),
    ['Neutro', 'Rec.709', 'Quente', 'Frio', 'Alto contraste', 'P&B']);
});

test('every combination matches the straightforward computation pixel for pixel', async () => {
  const combos = [];
  for (const look of ['Neutro', 'Rec.709', 'Quente', 'Frio', 'Alto contraste', 'P&B']) {
    combos.push({ look, mlut: true, falseColor: true, zebra: true, peaking: true, zebraLevel: 230, peakThreshold: 20 });
    combos.push({ look, mlut: false, falseColor: false, zebra: true, peaking: true, zebraLevel: 200, peakThreshold: 10 });
    combos.push({ look, mlut: true, falseColor: true, zebra: false, peaking: false, zebraLevel: 250, peakThreshold: 34 });
  }
  // Below zero even a step of nothing passes: inside a run of equal pixels too.
  combos.push({ look: 'Neutro', mlut: false, falseColor: false, zebra: true, peaking: true, zebraLevel: 200, peakThreshold: -1 });
  const result = await page.evaluate(([list]) => {
    // A picture with every grey level, smooth gradients, flat blocks (runs of equal
    // pixels, some above the zebra level, across row ends), saturated colours and noise.
    const w = 331, h = 117;
    const src = new Uint8ClampedArray(w * h * 4);
    let seed = 12345;
    const rnd = () => ((seed = (seed * 1103515245 + 12345) >>> 0) >>> 16) & 255;
    for (let y = 0; y < h; y++) {
      for (let x = 0; x < w; x++) {
        const i = (y * w + x) * 4;
        if (y < 8) { src[i] = src[i + 1] = src[i + 2] = x % 256; }
        else if (y < 40) { src[i] = x * 255 / w; src[i + 1] = y * 4; src[i + 2] = 255 - x * 255 / w; }
        else if (y < 60) {
          const c = [[0, 0, 0], [250, 250, 250], [255, 255, 255], [40, 180, 90], [252, 240, 251], [128, 128, 128]][Math.floor((y * w + x) / 13) % 6];
          src[i] = c[0]; src[i + 1] = c[1]; src[i + 2] = c[2];
        }
        else { src[i] = rnd(); src[i + 1] = rnd(); src[i + 2] = rnd(); }
        src[i + 3] = 255;
      }
    }
    // The same picture as a decoder's B, G, R, X bytes, its fourth byte of no meaning.
    const bgrx = new Uint8ClampedArray(src.length);
    for (let i = 0; i < src.length; i += 4) {
      bgrx[i] = src[i + 2]; bgrx[i + 1] = src[i + 1]; bgrx[i + 2] = src[i]; bgrx[i + 3] = (i >> 2) & 7;
    }
    const differences = (fast, ref) => {
      let diff = 0, first = -1;
      for (let i = 0; i < fast.length; i++) if (fast[i] !== ref[i]) { diff++; if (first < 0) first = i; }
      return [diff, first];
    };
    return list.map((o) => {
      const fast = new Uint8ClampedArray(src), swapped = new Uint8ClampedArray(bgrx);
      paintOverlays(fast, w, o);
      paintOverlays(swapped, w, o, true);
      const ref = REF.overlays(src, w, o);
      let changed = 0;
      for (let i = 0; i < fast.length; i++) if (fast[i] !== src[i]) changed++;
      return { rgba: differences(fast, ref), bgrx: differences(swapped, ref), changed };
    });
  }, [combos]);
  result.forEach((r, i) => {
    assert.deepEqual(r.rgba, [0, -1], JSON.stringify(combos[i]) + ': [bytes differing, first]');
    assert.deepEqual(r.bgrx, [0, -1], JSON.stringify(combos[i]) + ' from B, G, R, X: [bytes differing, first]');
    assert.ok(r.changed > 0, 'the combination changes the picture');
  });
});


test('live view draws each picture with the switches, sliders and look of that moment', async (t) => {
  const lv = await openConsole(browser, mock, { reference: true }, t);
  const picture = makePicture(203, 151, (x, y) => [(x * 7 + y) & 255, (y * 3) & 255, (x ^ y) & 255]);
  mock.on('GET', '/liveview.jpg', (req, res) => { res.writeHead(200, { 'Content-Type': 'image/png' }); res.end(picture.png); });
  await lv.click('#lvbtn');
  assert.equal(await lv.textContent('#lvbtn'), '⏸ Parar');
  // Waits (up to 5 s) until the canvas, at the picture's size, holds exactly `expected`.
  const drawnAs = async (expected) => {
    await lv.waitForFunction((exp) => {
      const c = document.getElementById('view');
      if (c.width !== 203 || c.height !== 151) return false;
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      for (let i = 0; i < d.length; i++) if (d[i] !== exp[i]) return false;
      return true;
    }, expected, { timeout: 5000, polling: 100 }).catch(async (e) => {
      const px = await canvasPixels(lv, 'view');
      const first = px.findIndex((v, i) => v !== expected[i]);
      assert.fail(`canvas differs from the expected picture, first at byte ${first}: ${e.message}`);
    });
  };
  // Everything off and "Neutro": the canvas holds the decoded picture unchanged.
  await drawnAs(Array.from(picture.px));

  await lv.click('[data-m="mlut"]');
  await lv.click('[data-m="zebra"]');
  await lv.click('[data-m="peaking"]');
  await lv.click('[data-m="false"]');
  assert.deepEqual(await lv.$$eval('button.tg.on', (b) => b.map((x) => x.getAttribute('data-m'))), ['peaking', 'zebra', 'false', 'mlut']);
  await lv.$eval('#pk', (el) => { el.value = '22'; el.dispatchEvent(new Event('input')); });
  await lv.$eval('#zb', (el) => { el.value = '231'; el.dispatchEvent(new Event('input')); });
  assert.deepEqual([await lv.textContent('#pkv'), await lv.textContent('#zbv')], ['22', '231']);
  await lv.click('#looks > div:nth-child(4) canvas'); // Frio
  const expected = await lv.evaluate(([px, w]) => Array.from(REF.overlays(px, w, {
    mlut: true, look: 'Frio', falseColor: true, zebra: true, peaking: true, zebraLevel: 231, peakThreshold: 22,
  })), [Array.from(picture.px), picture.width]);
  await drawnAs(expected);

  // Switching everything back off shows the picture untouched again.
  for (const m of ['mlut', 'zebra', 'peaking', 'false']) await lv.click(`[data-m="${m}"]`);
  await lv.click('#looks > div:nth-child(1) canvas');
  await drawnAs(Array.from(picture.px));

  await lv.click('#lvbtn');
  assert.equal(await lv.textContent('#lvbtn'), '▶ Iniciar');
  await lv.waitForTimeout(200);
  const stopped = mock.count('GET', '/liveview.jpg');
  await lv.waitForTimeout(600);
  assert.equal(mock.count('GET', '/liveview.jpg'), stopped, 'no request after stopping');
  mock.handlers.delete('GET /liveview.jpg');
});

test('live view: 150 ms timer, failed pictures skipped silently, size change resizes', async (t) => {
  const lv = await openConsole(browser, mock, { clock: true }, t);
  const big = makePicture(64, 40, () => [10, 200, 30]);
  const small = makePicture(30, 20, () => [200, 10, 30]);
  let answer = 'fail';
  mock.on('GET', '/liveview.jpg', (req, res) => {
    if (answer === 'fail') { res.writeHead(503, { 'Content-Type': 'application/json' }); return res.end('{"status":"live view indisponivel"}'); }
    res.writeHead(200, { 'Content-Type': 'image/png' });
    res.end(answer.png);
  });
  const start = mock.requests.length;
  const lvCount = () => mock.requests.slice(start).filter((r) => r.path === '/liveview.jpg');
  await lv.click('#lvbtn');
  await lv.clock.runFor(149);
  await lv.waitForTimeout(100);
  assert.equal(lvCount().length, 0, 'the first request goes out 150 ms after the press');
  await lv.clock.runFor(1);
  await mock.waitFor((r) => r.path === '/liveview.jpg', 3000, start);
  await lv.clock.runFor(300);
  await lv.waitForTimeout(200);
  const reqs = lvCount();
  assert.equal(reqs.length, 3);
  assert.match(reqs[0].query, /^t=\d+$/);
  assert.deepEqual(reqs.map((r) => Number(r.query.slice(2)) - Number(reqs[0].query.slice(2))), [0, 150, 300]);
  // 503s leave the blank canvas, the log and the advisor as they were.
  assert.deepEqual(await lv.evaluate(() => [document.getElementById('view').width, document.getElementById('log').textContent,
    document.getElementById('advisor').textContent]), [640, '', 'Inicie o live view com a câmera conectada.']);
  for (const [pic, size] of [[big, [64, 40]], [small, [30, 20]]]) {
    answer = pic;
    await lv.clock.runFor(150);
    await lv.waitForFunction((s) => document.getElementById('view').width === s[0] && document.getElementById('view').height === s[1], size);
  }
  mock.handlers.delete('GET /liveview.jpg');
});
