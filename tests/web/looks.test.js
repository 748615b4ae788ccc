// The looks gallery (built once from the first picture, selection, log) and the
// snapshot download "frame.jpg".
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole, topLogLine, canvasPixels } = require('./lib/page');
const { makePicture } = require('./lib/png');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.93.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

function serve(picture) {
  mock.on('GET', '/liveview.jpg', (req, res) => { res.writeHead(200, { 'Content-Type': 'image/png' }); res.end(picture.png); });
}

async function firstPixel(page, selector) {
  return page.$eval(selector, (c) => Array.from(c.getContext('2d').getImageData(0, 0, 1, 1).data));
}

test('gallery: six thumbnails from the first picture, selection and log', async (t) => {
  const page = await openConsole(browser, mock, {}, t);
  assert.equal(await page.$$eval('#looks > *', (n) => n.length), 0, 'empty until the first picture');
  serve(makePicture(148, 100, () => [255, 0, 0]));
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6);
  const gallery = await page.$$eval('#looks > div', (boxes) => boxes.map((b) => ({
    label: b.querySelector('.lbl').textContent,
    size: [b.querySelector('canvas').width, b.querySelector('canvas').height],
    sel: b.querySelector('canvas').classList.contains('sel'),
  })));
  assert.deepEqual(gallery.map((g) => g.label), ['Neutro', 'Rec.709', 'Quente', 'Frio', 'Alto contraste', 'P&B']);
  assert.deepEqual(gallery.map((g) => g.sel), [true, false, false, false, false, false]);
  for (const g of gallery) assert.deepEqual(g.size, [74, 50]);
  // Each thumbnail shows the look applied to pure red.
  const expected = [[255, 0, 0], [255, 0, 0], [255, 0, 0], [235, 0, 6], [255, 0, 0], [76, 76, 76]];
  for (let i = 0; i < 6; i++) {
    assert.deepEqual(await firstPixel(page, `#looks > div:nth-child(${i + 1}) canvas`), [...expected[i], 255], gallery[i].label);
  }

  // A later, different picture does not rebuild the gallery.
  serve(makePicture(148, 100, () => [0, 0, 255]));
  await page.waitForFunction(() => {
    const d = document.getElementById('view').getContext('2d').getImageData(0, 0, 1, 1).data;
    return d[2] === 255 && d[0] === 0;
  });
  assert.deepEqual(await firstPixel(page, '#looks > div:nth-child(1) canvas'), [255, 0, 0, 255]);

  const selected = () => page.$$eval('#looks canvas', (c) => c.map((x) => x.classList.contains('sel')));
  await page.click('#looks > div:nth-child(6) canvas');
  assert.deepEqual(await selected(), [false, false, false, false, false, true]);
  await page.waitForFunction(() => document.getElementById('log').textContent.split('\n')[0].endsWith('  look: P&B'));
  // Clicking the selected one again keeps it and logs it again.
  await page.click('#looks > div:nth-child(6) canvas');
  assert.deepEqual(await selected(), [false, false, false, false, false, true]);
  const log = await page.$eval('#log', (l) => l.textContent.split('\n'));
  assert.equal(log.length, 2);
  assert.ok(log.every((l) => l.endsWith('  look: P&B')));
  // The live view shows the look from its next picture on: blue (0, 0, 255) in P&B is 29.
  await page.waitForFunction(() => document.getElementById('view').getContext('2d').getImageData(0, 0, 1, 1).data[0] === 29);

  // The look stays selected across a stop and a start.
  await page.click('#lvbtn');
  await page.click('#lvbtn');
  await page.waitForTimeout(500);
  assert.deepEqual(await selected(), [false, false, false, false, false, true]);
  assert.equal((await firstPixel(page, '#view'))[0], 29);
  await page.click('#lvbtn');
  await page.click('#looks > div:nth-child(3) canvas');
  assert.match(await topLogLine(page), /  look: Quente$/);
  mock.handlers.delete('GET /liveview.jpg');
});

test('snapshot: "frame.jpg" of the canvas as shown, blank 640 × 426 before any picture', async (t) => {
  const page = await openConsole(browser, mock, {}, t);
  const save = async () => {
    const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Salvar quadro' }).click()]);
    assert.equal(download.suggestedFilename(), 'frame.jpg');
    const bytes = fs.readFileSync(await download.path());
    assert.deepEqual([bytes[0], bytes[1], bytes[2]], [0xff, 0xd8, 0xff], 'a JPEG file');
    // Decode it in the page to learn its size and its colour.
    return page.evaluate(async (b64) => {
      const img = new Image();
      img.src = 'data:image/jpeg;base64,' + b64;
      await img.decode();
      const c = document.createElement('canvas');
      c.width = img.naturalWidth; c.height = img.naturalHeight;
      const ctx = c.getContext('2d');
      ctx.drawImage(img, 0, 0);
      return { size: [c.width, c.height], centre: Array.from(ctx.getImageData(c.width >> 1, c.height >> 1, 1, 1).data) };
    }, bytes.toString('base64'));
  };
  const blank = await save();
  assert.deepEqual(blank.size, [640, 426]);

  // The file holds what the canvas shows, overlays included: pure blue (luma 29.07) with false
  // colour on is saved as the band colour (60, 60, 60), not as blue.
  serve(makePicture(300, 180, () => [0, 0, 255]));
  await page.click('[data-m="false"]');
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.getElementById('view').width === 300);
  await page.waitForTimeout(300);
  await page.click('#lvbtn');
  assert.deepEqual(await firstPixel(page, '#view'), [60, 60, 60, 255]);
  const shot = await save();
  assert.deepEqual(shot.size, [300, 180]);
  for (const v of shot.centre.slice(0, 3)) assert.ok(Math.abs(v - 60) <= 3, String(shot.centre));
  // The download link is never added to the page.
  assert.equal(await page.$$eval('a', (a) => a.length), 0);
  mock.handlers.delete('GET /liveview.jpg');
});
