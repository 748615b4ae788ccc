// Measurements, scopes and the advisor: bins of known pictures, clipping counts at
// their boundaries, the scope drawings and the exact advisor lines.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, canvasPixels } = require('./lib/page');
const { makePicture } = require('./lib/png');

let browser, mock, page;
before(async () => {
  mock = await startMock('127.0.92.1');
  browser = await launchBrowser();
  page = await openConsole(browser, mock);
});
after(async () => {
  await browser.close();
  await mock.stop();
});

// Measures pixels given as [r, g, b] (row-major, 160 wide unless said) and returns
// the non-zero bins of every array as {index: count} plus the running values.
async function measure(pixels, zebraLevel = 250, width = 160) {
  const flat = pixels.flatMap((c) => [c[0], c[1], c[2], 255]);
  return page.evaluate(([px, w, zl]) => {
    const m = measure(new Uint8ClampedArray(px), w, zl);
    const sparse = (a) => { const o = {}; a.forEach((v, i) => { if (v) o[i] = v; }); return o; };
    const out = {};
    for (const k of ['hr', 'hg', 'hb', 'hl', 'wave', 'pr', 'pg', 'pb', 'vec']) out[k] = sparse(m[k]);
    for (const k of ['sr', 'sg', 'sb', 'count', 'hi', 'sh']) out[k] = m[k];
    return out;
  }, [flat, width, zebraLevel]);
}

const grey = (v) => [v, v, v];

test('a black picture: bin 0 everywhere, all shadows, waveform on its bottom bin, one vector dot', async () => {
  const m = await measure(Array.from({ length: 160 * 107 }, () => grey(0)));
  for (const k of ['hr', 'hg', 'hb', 'hl']) assert.deepEqual(m[k], { 0: 17120 }, k);
  assert.deepEqual([m.count, m.sh, m.hi, m.sr], [17120, 17120, 0, 0]);
  // Every one of the 160 columns holds its 107 pixels in bin 63, the darkest.
  assert.equal(Object.keys(m.wave).length, 160);
  for (const [i, v] of Object.entries(m.wave)) assert.deepEqual([i % 64, v], [63, 107]);
  assert.deepEqual(m.vec, { [64 * 128 + 64]: 17120 });
});

test('luma, clipping counts and bins at their boundaries', async () => {
  const m = await measure([5, 6, 8, 118, 235, 249, 250, 251, 255].map(grey), 250);
  // Grey pixels have exactly their own level as luma, also where decimal weights would miss it.
  assert.deepEqual(m.hl, { 5: 1, 6: 1, 8: 1, 118: 1, 235: 1, 249: 1, 250: 1, 251: 1, 255: 1 });
  assert.equal(m.sh, 1, 'luma 5 is a shadow, 6 is not');
  assert.equal(m.hi, 3, 'luma at the zebra level counts as a highlight');
  assert.equal((await measure([grey(250)], 251)).hi, 0);
  // Column = index mod 160; bin = 63 - (v >> 2), so 252..255 share bin 0.
  const w = await measure([255, 252, 251, 4, 3, 0].map(grey));
  const bins = Object.entries(w.wave).map(([i, v]) => [Math.floor(i / 64), i % 64, v]);
  assert.deepEqual(bins, [[0, 0, 1], [1, 0, 1], [2, 1, 1], [3, 62, 1], [4, 63, 1], [5, 63, 1]]);
  const wrapped = await measure([...Array.from({ length: 160 }, () => grey(0)), grey(255)]);
  assert.equal(wrapped.wave[0], 1, 'pixel 160 falls in column 0 again');
});

test('parade and vectorscope bins of coloured pixels', async () => {
  const m = await measure([[200, 0, 0], [0, 0, 255], [255, 0, 0], grey(128), [0, 255, 0]]);
  assert.deepEqual(m.pr, { [0 * 64 + 13]: 1, [1 * 64 + 63]: 1, [2 * 64 + 0]: 1, [3 * 64 + 31]: 1, [4 * 64 + 63]: 1 });
  assert.deepEqual(m.pb, { [0 * 64 + 63]: 1, [1 * 64 + 0]: 1, [2 * 64 + 63]: 1, [3 * 64 + 31]: 1, [4 * 64 + 63]: 1 });
  // Red 200: Cb -33.8, Cr 100 -> column 49, row 22. Red 255: column 45, row 10 (up and left).
  // Blue: column 117, row 72. Green: Cb -84.405, Cr -106.845 -> column 28, row 108. Grey: the centre.
  const at = (row, col) => row * 128 + col;
  assert.deepEqual(m.vec, { [at(22, 49)]: 1, [at(72, 117)]: 1, [at(10, 45)]: 1, [at(64, 64)]: 1, [at(108, 28)]: 1 });
  assert.deepEqual([m.sr, m.sg, m.sb], [583, 383, 383]);
});

test('the advisor lines for each kind of picture', async () => {
  const lines = (mr, mg, mb, hi, sh, hist) => page.evaluate((a) => adviceLines(a[0], a[1], a[2], a[3], a[4], a[5], 17120)
    .map((l) => (l[0] ? l[0] + ': ' : '') + l.slice(1).join('')), [mr, mg, mb, hi, sh, hist]);
  const spread = Array.from({ length: 256 }, () => 1); // σ ≈ 73.9: not flat
  const spikes = (a, b) => Array.from({ length: 256 }, (_, i) => (i === a || i === b ? 100 : 0));
  const balanced = 'good: ✓ Exposição equilibrada (poucos estouros).';
  const neutral = 'good: ✓ Balanço de branco neutro (gray-world).';
  const cases = [
    ['grey', [128, 128, 128, 0, 0, spikes(128, 128)],
      ['Exposição média: 128/255', balanced, neutral, 'warn: Imagem achatada (σ=0) — parece Log. Ative o "LUT monitor (Log→709)".']],
    ['clipped', [200, 200, 200, 0.1, 0, spread],
      ['Exposição média: 200/255', 'warn: ⚠ Altas estourando 10.0% → reduza ~1 EV ou feche a abertura.', neutral]],
    ['highlights exactly 2 %', [120, 120, 120, 0.02, 0, spread], ['Exposição média: 120/255', balanced, neutral]],
    ['highlights exactly 6 %', [120, 120, 120, 0.06, 0, spread],
      ['Exposição média: 120/255', 'warn: ⚠ Altas estourando 6.0% → reduza ~0.7 EV ou feche a abertura.', neutral]],
    ['crushed', [20, 20, 20, 0, 0.305, spread],
      ['Exposição média: 20/255', 'warn: ⚠ Sombras esmagadas 30.5% → +EV ou levante as sombras.', neutral]],
    ['shadows exactly 5 %', [60, 60, 60, 0, 0.05, spread], ['Exposição média: 60/255', balanced, neutral]],
    ['both ends', [100, 100, 100, 0.03, 0.4, spread],
      ['Exposição média: 100/255', 'warn: ⚠ Altas estourando 3.0% → reduza ~0.7 EV ou feche a abertura.',
        'warn: ⚠ Sombras esmagadas 40.0% → +EV ou levante as sombras.', neutral]],
    ['warm', [150, 130, 110, 0, 0, spread],
      ['Exposição média: 134/255', balanced, 'warn: Dominante quente → esfrie o WB (-200K aprox).']],
    ['very warm', [160, 130, 100, 0, 0, spread],
      ['Exposição média: 136/255', balanced, 'warn: Dominante quente → esfrie o WB (-500K aprox).']],
    ['cold', [110, 130, 150, 0, 0, spread],
      ['Exposição média: 126/255', balanced, 'warn: Dominante fria → esquente o WB (+200K aprox).']],
    ['very cold', [100, 130, 160, 0, 0, spread],
      ['Exposição média: 124/255', balanced, 'warn: Dominante fria → esquente o WB (+500K aprox).']],
    ['magenta: dr equals db', [150, 100, 150, 0, 0, spread],
      ['Exposição média: 121/255', balanced, 'warn: Dominante fria → esquente o WB (+200K aprox).']],
    ['cast at exactly 10', [140, 130, 120, 0, 0, spread], ['Exposição média: 132/255', balanced, neutral]],
    // Two equal spikes 84 apart: σ = 42, not below 42. 83 apart: σ = 41.5, shown rounded.
    ['σ 42', [42, 42, 42, 0, 0, spikes(0, 84)], ['Exposição média: 42/255', balanced, neutral]],
    ['σ 41.5', [42, 42, 42, 0, 0, spikes(0, 83)],
      ['Exposição média: 42/255', balanced, neutral, 'warn: Imagem achatada (σ=42) — parece Log. Ative o "LUT monitor (Log→709)".']],
  ];
  for (const [name, args, expected] of cases) assert.deepEqual(await lines(...args), expected, name);
});

test('scopes stay empty before the first picture and the advisor shows its prompt', async (t) => {
  const fresh = await openConsole(browser, mock, {}, t);
  for (const id of ['hist', 'wave', 'parade', 'vector']) {
    assert.ok((await canvasPixels(fresh, id)).every((v) => v === 0), id);
  }
  assert.equal(await fresh.textContent('#advisor'), 'Inicie o live view com a câmera conectada.');
});

// Starts the live view on `picture` and waits until it has been measured.
async function liveOn(t, picture) {
  const lv = await openConsole(browser, mock, {}, t);
  mock.on('GET', '/liveview.jpg', (req, res) => { res.writeHead(200, { 'Content-Type': 'image/png' }); res.end(picture.png); });
  await lv.click('#lvbtn');
  await lv.waitForFunction(() => document.getElementById('advisor').textContent.startsWith('Exposição'));
  await lv.click('#lvbtn');
  await lv.waitForTimeout(200);
  return lv;
}

test('a grey picture through the live view: advisor lines, colours and the four scopes', async (t) => {
  const lv = await liveOn(t, makePicture(300, 200, () => grey(128)));
  const advice = await lv.evaluate(() => {
    const box = document.getElementById('advisor');
    return {
      text: box.innerText.split('\n'),
      bold: box.querySelector('b').textContent,
      colours: Array.from(box.querySelectorAll('span'), (s) => getComputedStyle(s).color),
    };
  });
  assert.deepEqual(advice.text, ['Exposição média: 128/255', '✓ Exposição equilibrada (poucos estouros).',
    '✓ Balanço de branco neutro (gray-world).', 'Imagem achatada (σ=0) — parece Log. Ative o "LUT monitor (Log→709)".']);
  assert.equal(advice.bold, '128');
  assert.deepEqual(advice.colours, ['rgb(51, 204, 102)', 'rgb(51, 204, 102)', 'rgb(224, 162, 58)']);

  const pixel = (px, x, y) => px.slice((y * 320 + x) * 4, (y * 320 + x) * 4 + 4);
  // Waveform: luma 128 sits in bin 31, which display row 59 shows; every other pixel is opaque black.
  const wave = await canvasPixels(lv, 'wave');
  for (const x of [0, 1, 160, 319]) {
    assert.deepEqual(pixel(wave, x, 59), [153, 255, 153, 255]);
    assert.deepEqual(pixel(wave, x, 58), [0, 0, 0, 255]);
    assert.deepEqual(pixel(wave, x, 60), [0, 0, 0, 255]);
  }
  // Parade: each third lights its own channel on row 59; the red and green thirds meet at column 106.
  const parade = await canvasPixels(lv, 'parade');
  assert.deepEqual(pixel(parade, 0, 59), [255, 0, 0, 255]);
  assert.deepEqual(pixel(parade, 106, 59), [255, 255, 0, 255]);
  assert.deepEqual(pixel(parade, 150, 59), [0, 255, 0, 255]);
  assert.deepEqual(pixel(parade, 319, 59), [0, 0, 255, 255]);
  assert.deepEqual(pixel(parade, 5, 30), [0, 0, 0, 0], 'unset pixels stay transparent');
  // Vectorscope: one opaque dot at the centre over the graticule.
  const vector = await canvasPixels(lv, 'vector');
  assert.deepEqual(pixel(vector, 160, 60), [247, 200, 160, 255]);
  assert.deepEqual(pixel(vector, 10, 10), [8, 9, 11, 255]);
  // Histogram: one spike at 128 (x ≈ 160.6) reaching the top, red+green+blue adding up towards white.
  const hist = await canvasPixels(lv, 'hist');
  const spike = pixel(hist, 160, 100);
  assert.ok(spike[0] > 150 && spike[1] > 150 && spike[2] > 150 && spike[3] > 200, String(spike));
  assert.deepEqual(pixel(hist, 60, 100), [0, 0, 0, 0]);
});

test('a warm picture with clipped highlights, and a picture without blue', async (t) => {
  // Left half white (clipped), right half a warm brown.
  const lv = await liveOn(t, makePicture(320, 214, (x) => (x < 160 ? grey(255) : [180, 120, 60])));
  const text = await lv.evaluate(() => document.getElementById('advisor').innerText.split('\n'));
  assert.equal(text.length, 3);
  assert.match(text[0], /^Exposição média: \d+\/255$/);
  assert.match(text[1], /^⚠ Altas estourando (49|50|51)\.\d% → reduza ~1 EV ou feche a abertura\.$/);
  assert.equal(text[2], 'Dominante quente → esfrie o WB (-500K aprox).');

  const lv2 = await liveOn(t, makePicture(320, 214, () => [200, 90, 0]));
  const parade = await canvasPixels(lv2, 'parade');
  // No blue: the blue third shows only the bottom row (bin 63 holds level 0) over the background.
  for (let x = 213; x < 320; x++) {
    for (let y = 0; y < 119; y++) assert.equal(parade[(y * 320 + x) * 4 + 3], 0, `blue third at ${x},${y}`);
    assert.deepEqual(parade.slice((119 * 320 + x) * 4, (119 * 320 + x) * 4 + 4), [0, 0, 255, 255]);
  }
  const advice = await lv2.evaluate(() => document.getElementById('advisor').innerText.split('\n'));
  assert.equal(advice[2], 'Dominante quente → esfrie o WB (-500K aprox).');
});

test('waveform and parade columns: display column 319 shows source column 159, row 119 bin 63', async () => {
  const px = await page.evaluate(() => {
    const m = measure(new Uint8ClampedArray(160 * 4), 160, 250); // one row: every column's bin 63
    m.wave.fill(0);
    m.wave[159 * 64 + 63] = 5;
    m.wave[0 * 64 + 0] = 1;
    drawWave(m);
    const c = document.getElementById('wave');
    return Array.from(c.getContext('2d').getImageData(0, 0, 320, 120).data);
  });
  const g = (x, y) => px[(y * 320 + x) * 4 + 1];
  assert.deepEqual([g(319, 119), g(318, 119), g(317, 119), g(319, 118)], [255, 255, 0, 0]);
  // The weaker bin scales with the shared peak: 900 × 1/5 = 180 at the top left, two columns wide.
  assert.deepEqual([g(0, 0), g(1, 0), g(2, 0), g(0, 1), g(0, 2)], [180, 180, 0, 180, 0]);
});
