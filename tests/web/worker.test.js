// The picture worker: in both modes the picture, the four scopes and the advisor it
// sends back are those the pixel rules give, computed in the page for comparison;
// the page itself reads and writes no pixel; a setting applies from the next
// picture; the live view asks the camera it is given.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('child_process');
const { startMock } = require('./lib/mock-server');
const { launchBrowser } = require('./lib/browser');
const { openConsole } = require('./lib/page');
const { makePicture } = require('./lib/png');
const { part, serveStream } = require('./lib/stream');
const { until } = require('./lib/until');

let browser, mock;
before(async () => {
  mock = await startMock('127.0.231.1');
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  await mock.stop();
});

// Pictures come one per request (polled) or one per part (Fluido), each time the
// test supplies one; in between the polled view gets 503s, which it skips.
function supplier(t, mode) {
  const queue = [];
  let stream = null;
  let frame = 0;
  if (mode === 'polled') {
    mock.on('GET', '/liveview.jpg', (req, res) => {
      if (!queue.length) { res.writeHead(503, { 'Content-Type': 'application/json' }); return res.end('{"status":"live view indisponivel"}'); }
      res.writeHead(200, { 'Content-Type': 'image/png' });
      res.end(queue.shift());
    });
    t.after(() => mock.handlers.delete('GET /liveview.jpg'));
  } else {
    serveStream(mock, t, (res) => { stream = res; });
  }
  return {
    async give(png) {
      if (mode === 'polled') return queue.push(png);
      await until(() => stream, 5000, Boolean, 'the stream opened');
      stream.write(part(png, { type: 'image/png', frame: ++frame }));
    },
    // Fluido: every `ms` until the test ends.
    flow(bytes, ms, type = 'image/png') {
      if (mode === 'polled') return mock.on('GET', '/liveview.jpg', (req, res) => { res.writeHead(200, { 'Content-Type': type }); res.end(bytes); });
      const timer = setInterval(() => { if (stream && !stream.destroyed) stream.write(part(bytes, { type: type, frame: ++frame })); }, ms);
      t.after(() => clearInterval(timer));
    },
  };
}

// Opens the console in `mode` and records every picture shown: the settings it was
// painted with, the worker's stage times and the view's first pixel.
async function watchedConsole(t, mode) {
  const page = await consoleIn(t, mode, { reference: true });
  await page.evaluate(() => {
    window.shownPictures = [];
    const show = showPicture;
    showPicture = function (p) {
      show(p);
      window.recorderReads = true;
      window.shownPictures.push({ rev: p.rev, times: p.times, made: p.buffersMade, dropped: p.dropped, first: Array.from(viewCtx.getImageData(0, 0, 1, 1).data) });
      window.recorderReads = false;
    };
  });
  return page;
}

// The console with "Fluido" on or off (the switch is remembered per server).
async function consoleIn(t, mode, options = {}) {
  const page = await openConsole(browser, mock, options, t);
  await page.evaluate((on) => { if (fluid !== on) document.getElementById('lvfluid').click(); }, mode === 'fluid');
  return page;
}

// The workers of `page`, started from then on, run without WebCodecs: a part of
// their source ahead of the page's own removes them (a plain-text script, so the
// page itself keeps them).
function withoutCodecs(page) {
  return page.evaluate(() => {
    const part = document.createElement('script');
    part.type = 'text/plain';
    part.dataset.worker = '';
    part.textContent = 'self.ImageDecoder = undefined; self.VideoFrame = undefined;';
    document.head.prepend(part);
  });
}

const shown = (page) => page.evaluate(() => window.shownPictures);
const pictureWith = (page, holds, what) => until(() => shown(page), 5000, (s) => s.length > 0 && holds(s), what);

// A JPEG of `picture` in the chroma layout `layout`, by an encoder we did not write.
const jpegOf = (picture, layout) => execFileSync('ffmpeg', ['-loglevel', 'error', '-f', 'png_pipe', '-i', '-',
  '-pix_fmt', layout, '-f', 'mjpeg', '-'], { input: picture.png });

test('the worker\'s picture, scopes and advisor are those the rules give, in both modes', async (t) => {
  const picture = makePicture(203, 151, (x, y) => (y < 16 ? [x & 255, x & 255, x & 255]
    : [(x * 7 + y) & 255, (y * 3 + x) & 255, (x ^ y) & 255]));
  const settings = [
    { toggles: [], look: 1, zb: 250, pk: 34 },
    { toggles: ['mlut', 'zebra', 'peaking', 'false'], look: 4, zb: 231, pk: 22 },
  ];
  // A camera's JPEG goes through its planes (decode.js): the same pictures. So
  // does it in a browser without WebCodecs (no ImageDecoder, no VideoFrame, as
  // some that users run have), decoded and read back from a canvas instead.
  const jpeg = jpegOf(picture, 'yuvj420p');
  const sent = [
    { what: 'PNG', bytes: picture.png, type: 'image/png', settings: settings },
    { what: 'JPEG', bytes: jpeg, type: 'image/jpeg', settings: [settings[1]] },
    { what: 'JPEG without WebCodecs', bytes: jpeg, type: 'image/jpeg', settings: [settings[1]], codecs: false },
  ];
  for (const mode of ['polled', 'fluid']) for (const { what: kind, bytes, type, settings: list, codecs = true } of sent) {
    for (const s of list) {
      const page = await watchedConsole(t, mode);
      if (!codecs) await withoutCodecs(page);
      supplier(t, mode).flow(bytes, 40, type);
      await page.click('#lvbtn');
      await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6);
      for (const m of s.toggles) await page.click(`[data-m="${m}"]`);
      await page.$eval('#pk', (el, v) => { el.value = String(v); el.dispatchEvent(new Event('input')); }, s.pk);
      await page.$eval('#zb', (el, v) => { el.value = String(v); el.dispatchEvent(new Event('input')); }, s.zb);
      await page.click(`#looks > div:nth-child(${s.look}) canvas`);
      const rev = await page.evaluate(() => settingsRev);
      await pictureWith(page, (list) => list[list.length - 1].rev === rev, 'a picture painted with the settings');
      await page.click('#lvbtn');
      const diff = await page.evaluate(async ([sent, w]) => {
        // The reference, from the picture's own pixels as the browser decodes them:
        // the view by the plain rules (REF), the scopes and advisor by the page's
        // copy of the scope code.
        const bytes = Uint8Array.from(atob(sent), (c) => c.charCodeAt(0));
        const bitmap = await createImageBitmap(new Blob([bytes]));
        const canvas = (cw, ch) => { const c = document.createElement('canvas'); c.width = cw; c.height = ch; return c.getContext('2d', { willReadFrequently: true }); };
        const whole = canvas(bitmap.width, bitmap.height);
        whole.drawImage(bitmap, 0, 0);
        const s = viewSettings();
        const want = { view: REF.overlays(whole.getImageData(0, 0, bitmap.width, bitmap.height).data, w, s) };
        const ana = canvas(160, 107);
        drawReplacing(ana, bitmap, 160, 107);
        const m = measure(ana.getImageData(0, 0, 160, 107).data, 160, s.zebraLevel);
        const pageScopes = Object.assign({}, scopeCtx);
        for (const id of SCOPES) scopeCtx[id] = canvas(SW, SH);
        drawHist(m); drawWave(m); drawParade(m); drawVector(m);
        for (const id of SCOPES) want[id] = scopeCtx[id].getImageData(0, 0, SW, SH).data;
        Object.assign(scopeCtx, pageScopes);
        const lines = adviceLines(m.sr / m.count, m.sg / m.count, m.sb / m.count, m.hi / m.count, m.sh / m.count, m.hl, m.count);
        const out = { advisor: [document.getElementById('advisor').innerText, lines.map((l) => l.slice(1).join('')).join('\n')] };
        for (const id of ['view', ...SCOPES]) {
          const c = document.getElementById(id);
          const got = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
          let differing = got.length === want[id].length ? 0 : -1;
          for (let i = 0; differing >= 0 && i < got.length; i++) if (got[i] !== want[id][i]) differing++;
          out[id] = differing;
        }
        return out;
      }, [bytes.toString('base64'), picture.width]);
      const what = `${mode} ${kind} ${JSON.stringify(s)}`;
      const pictures = await shown(page);
      const last = pictures[pictures.length - 1];
      assert.equal('convert' in last.times, kind === 'JPEG', `${what}: turned from planes in the worker`);
      // Given back by the converter, not decoded here only once it was given up on.
      const slowest = Math.max(...pictures.map((p) => p.times.decode));
      assert.ok(slowest < await page.evaluate(() => CONVERTER_PATIENCE_MS), `${what}: a decode took ${slowest} ms`);
      assert.equal(diff.advisor[0], diff.advisor[1], what);
      assert.deepEqual([diff.view, diff.hist, diff.wave, diff.parade, diff.vector], [0, 0, 0, 0, 0], what + ' bytes differing');
      await page.close(); // its event stream holds one of the browser's few connections to the server
    }
  }
});

test('the page reads and writes no pixel: every stage of every picture runs in the worker', async (t) => {
  const page = await watchedConsole(t, 'fluid');
  await page.evaluate(() => {
    window.pixelCalls = [];
    const spy = (owner, name) => {
      const f = owner[name];
      owner[name] = function (...args) {
        // The recorder's own read of the first pixel is not the page's work.
        if (!window.recorderReads) window.pixelCalls.push(name);
        return f.apply(this, args);
      };
    };
    for (const name of ['getImageData', 'putImageData', 'createImageData']) spy(CanvasRenderingContext2D.prototype, name);
    for (const name of ['paintOverlays', 'measure', 'drawHist', 'drawWave', 'drawParade', 'drawVector', 'adviceLines']) spy(window, name);
  });
  // Grey 128 under the tone curve and "Quente" has luma 191.6: false colour's band 170.
  supplier(t, 'fluid').flow(makePicture(96, 64, () => [128, 128, 128]).png, 30);
  await page.click('#lvbtn');
  await page.waitForFunction(() => document.querySelectorAll('#looks canvas').length === 6);
  for (const m of ['peaking', 'zebra', 'false', 'mlut']) await page.click(`[data-m="${m}"]`);
  await page.click('#looks > div:nth-child(3) canvas');
  const rev = await page.evaluate(() => settingsRev);
  const list = await pictureWith(page, (l) => l.filter((p) => p.rev === rev).length >= 10, 'ten pictures with every tool on');
  assert.deepEqual(await page.evaluate(() => window.pixelCalls), []);
  for (const p of list.filter((x) => x.rev === rev)) {
    assert.deepEqual(p.first, [170, 170, 170, 255]);
    for (const stage of ['decode', 'measure', 'hist', 'wave', 'parade', 'vector', 'advisor', 'read', 'overlays', 'write']) {
      assert.ok(p.times[stage] >= 0, `${stage} timed in the worker: ${JSON.stringify(p.times)}`);
    }
  }
  await page.click('#lvbtn');
});

test('a setting changed on the page applies from the next picture, in both modes', async (t) => {
  const bright = makePicture(12, 4, () => [251, 251, 251]).png;
  const zebra = [255, 0, 180, 255], plain = [251, 251, 251, 255];
  for (const mode of ['polled', 'fluid']) {
    const page = await watchedConsole(t, mode);
    const feed = supplier(t, mode);
    await page.click('#lvbtn');
    const steps = [
      // [what the page changes, the first pixel of the next picture]
      [null, plain],
      [() => page.click('[data-m="zebra"]'), zebra],
      [() => page.$eval('#zb', (el) => { el.value = '252'; el.dispatchEvent(new Event('input')); }), plain],
      [() => page.$eval('#zb', (el) => { el.value = '250'; el.dispatchEvent(new Event('input')); }), zebra],
    ];
    for (let i = 0; i < steps.length; i++) {
      const [change, expected] = steps[i];
      if (change) {
        await change();
        // Nothing is redrawn by the change itself.
        assert.equal((await shown(page)).length, i, `${mode}: no picture drawn by step ${i}'s change`);
      }
      await feed.give(bright);
      const list = await pictureWith(page, (l) => l.length === i + 1, `${mode}: picture ${i + 1}`);
      const rev = await page.evaluate(() => settingsRev);
      assert.deepEqual([list[i].rev, list[i].first], [rev, expected], `${mode}: picture ${i + 1}`);
    }
    await page.click('#lvbtn');
  }
});

test('the live view asks the camera it is given, in both modes', async (t) => {
  const page = await consoleIn(t, 'polled');
  const since = mock.requests.length;
  const asked = (p) => mock.waitFor((r) => r.path === p, 3000, since);
  await page.evaluate(() => lvCamera('/cameras/left'));
  await page.click('#lvbtn');
  assert.match((await asked('/cameras/left/liveview.jpg')).query, /^t=\d+$/);
  await page.click('#lvfluid');
  await asked('/cameras/left/liveview.mjpg');
  await page.evaluate(() => lvCamera(''));
  await asked('/liveview.mjpg');
  await page.click('#lvbtn');
  assert.ok(mock.requests.slice(since).every((r) => !r.path.includes('liveview') || /^(\/cameras\/left)?\/liveview\.(jpg|mjpg)$/.test(r.path)));
});

// The converter's buffers go to the picture worker and come back: a stream far
// faster than the worker paints, stopped and started again, with the overlays on
// and off, makes no more buffers than can be out at once (two decoding, one
// waiting, one painting, two on their way back).
test('the converter\'s buffers come back, however pictures are left out', async (t) => {
  const page = await watchedConsole(t, 'fluid');
  const feed = supplier(t, 'fluid');
  feed.flow(jpegOf(makePicture(320, 240, (x, y) => [x & 255, y & 255, (x + y) & 255]), 'yuvj420p'), 4, 'image/jpeg');
  let seen = 0;
  for (const toggles of [[], ['zebra', 'peaking'], ['zebra', 'peaking']]) { // off, on, off again
    await page.click('#lvbtn');
    for (const m of toggles) await page.click(`[data-m="${m}"]`);
    const list = await pictureWith(page, (l) => l.length >= seen + 40, `${seen + 40} pictures`);
    seen = list.length;
    await page.click('#lvbtn');
    const last = list[list.length - 1];
    assert.ok(last.made >= 1 && last.made <= 6, `buffers made: ${last.made}; left out: ${JSON.stringify(last.dropped)}`);
  }
});

// Two pictures decode at once; the decoder is held here so the test says which
// finishes first. In order, both are shown; when the newer finishes first, the
// older is left out (closed, counted as overtaken at the decoder).
test('of two pictures decoding at once, an older one finishing last is left out', async (t) => {
  const page = await consoleIn(t, 'polled');
  const cases = [
    // [finishing order, stamps shown, overtaken at the decoder]
    [[0, 1], [1, 2], 0],
    [[1, 0], [2], 1],
  ];
  for (const [order, want, overtaken] of cases) {
    const got = await page.evaluate(async (finishing) => {
      const decode = createImageBitmap;
      const held = [];
      const closed = [];
      self.createImageBitmap = function (what, ...rest) {
        if (!(what instanceof Blob)) return decode(what, ...rest);
        return new Promise((resolve) => held.push(resolve));
      };
      try {
        const shown = [];
        let w = null;
        const port = { postMessage(p) { shown.push(p.stamp); p.view.close(); setTimeout(() => w.receive({ kind: 'shown' }), 0); } };
        w = new PictureWorker(port);
        for (const stamp of [1, 2]) w.receive({ kind: 'picture', bytes: new Uint8Array(4), type: 'image/png', stamp: stamp });
        const decoding = w.decoding;
        for (const n of finishing) {
          const bitmap = await decode(new ImageData(8, 8));
          const close = bitmap.close.bind(bitmap);
          bitmap.close = () => { closed.push(n + 1); close(); };
          held[n](bitmap);
          await new Promise((r) => setTimeout(r, 0));
        }
        window.decodeCase = { w, decoding, shown, closed };
      } finally {
        self.createImageBitmap = decode;
      }
    }, order).then(() => until(() => page.evaluate(() => {
      const { w, decoding, shown, closed } = window.decodeCase;
      const settled = !w.painting && w.ready === null && w.unsent === null && !w.withPage;
      return { settled, decoding, shown, closed, overtaken: w.dropped.decoded };
    }), 5000, (c) => c.settled, 'the worker idle'));
    assert.equal(got.decoding, 2, 'both pictures are with the decoder at once');
    assert.deepEqual([got.shown, got.overtaken], [want, overtaken], `finishing ${order}`);
    assert.ok(got.closed.includes(1), `the first picture's bitmap is closed: ${got.closed}`);
  }
});

// "Fluido": the stream's reader is asked for the next picture as soon as one is
// with the decoder, until two are; not only once a decode ends.
test('the stream\'s reader is asked for the next picture while one decodes', async (t) => {
  const page = await consoleIn(t, 'polled');
  await page.evaluate(() => {
    // The page is closed after the test, the decoder with it.
    const decode = createImageBitmap;
    self.createImageBitmap = (what, ...rest) => (what instanceof Blob ? new Promise(() => {}) : decode(what, ...rest));
    const channel = new MessageChannel();
    const asks = window.streamAsks = [];
    let stamp = 0;
    channel.port2.onmessage = () => {
      const w = window.streamWorker;
      asks.push(w.decoding);
      if (asks.length <= 3) channel.port2.postMessage({ bytes: new Uint8Array(4), stamp: ++stamp, skipped: 0 });
    };
    window.streamWorker = new PictureWorker({ postMessage() {} });
    window.streamWorker.receive({ kind: 'stream', port: channel.port1 });
  });
  // Asked with none decoding, then with one; the third picture waits for a decoder.
  const state = () => page.evaluate(() => ({ asks: window.streamAsks.slice(), decoding: window.streamWorker.decoding }));
  const seen = await until(state, 5000, (s) => s.decoding === 2, 'two pictures with the decoder');
  assert.deepEqual(seen.asks, [0, 1]);
});

// JPEGs as cameras send them, made by an encoder we did not write (ffmpeg), decoded
// by the converter (run here in the page, on a channel as in the console) and by
// the browser alone: the same bytes. 4:2:0 goes through the planes; other layouts,
// and a picture the browser turns, come back for createImageBitmap.
test('a camera\'s JPEG decodes to the browser\'s own pixels, through its planes where they are exact', async (t) => {
  const turned = (bytes) => execFileSync('exiftool', ['-Orientation=6', '-n', '-o', '-', '-'], { input: bytes });
  const colours = (x, y) => [(x * 7 + y) & 255, (y * 3 + x) & 255, (x ^ y) & 255];
  const odd = makePicture(203, 151, colours);
  const cases = [
    // [what, JPEG, decoded through the planes]
    ['4:2:0, odd size', jpegOf(odd, 'yuvj420p'), true],
    ['4:2:0, even size', jpegOf(makePicture(64, 48, colours), 'yuvj420p'), true],
    ['4:2:0, two chroma columns', jpegOf(makePicture(3, 5, colours), 'yuvj420p'), true],
    ['4:2:2', jpegOf(odd, 'yuvj422p'), false],
    ['4:4:4', jpegOf(odd, 'yuvj444p'), false],
    ['4:2:0 turned by its EXIF', turned(jpegOf(odd, 'yuvj420p')), false],
  ];
  const page = await consoleIn(t, 'polled');
  assert.ok(await page.evaluate(() => PLANES_WASM.length > 0), 'the page carries the RGB pass (the build needs clang and wasm-ld)');
  await page.evaluate(() => {
    const channel = new MessageChannel();
    new PictureConverter().receive({ kind: 'port', port: channel.port1 });
    window.converterLink = new ConverterLink(channel.port2);
  });
  for (const [what, bytes, viaPlanes] of cases) {
    const got = await page.evaluate(async (b64) => {
      const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
      const pixels = (bitmap) => {
        const c = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
        c.drawImage(bitmap, 0, 0);
        return c.getImageData(0, 0, bitmap.width, bitmap.height).data;
      };
      const theirs = pixels(await createImageBitmap(new Blob([bytes])));
      const image = await window.converterLink.decode(bytes, 'image/jpeg');
      const planes = image instanceof ConvertedPicture;
      const mine = planes ? image.frame.data : pixels(image);
      const differing = mine.length === theirs.length ? mine.reduce((n, v, i) => n + (v !== theirs[i]), 0) : -1;
      image.close();
      return { planes, differing };
    }, bytes.toString('base64'));
    assert.deepEqual(got, { planes: viaPlanes, differing: 0 }, what);
  }
  // A converter that stops answering: the pictures with it wait out the link's
  // patience, then they and every later one are decoded by the browser, until
  // the converter answers again.
  const fallback = await page.evaluate(async (b64) => {
    const bytes = Uint8Array.from(atob(b64), (c) => c.charCodeAt(0));
    const channel = new MessageChannel();
    const link = window.slowLink = new ConverterLink(channel.port2, 100);
    const pictures = await Promise.all([link.decode(bytes, 'image/jpeg'), link.decode(bytes, 'image/jpeg')]);
    pictures.push(await link.decode(bytes, 'image/jpeg'));
    // sent: pictures the converter was asked for; the third was not.
    const seen = { lost: link.lost, sent: link.sent, out: link.waiting.size, bitmaps: pictures.map((p) => p instanceof ImageBitmap) };
    channel.port1.postMessage({ kind: 'decoded', id: 1, pixels: null });
    return seen;
  }, cases[0][1].toString('base64'));
  assert.deepEqual(fallback, { lost: true, sent: 2, out: 0, bitmaps: [true, true, true] });
  await until(() => page.evaluate(() => window.slowLink.lost), 5000, (lost) => !lost, 'the late converter asked again');
});
