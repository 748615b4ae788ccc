// The picture worker: each live-view picture, from the polled view or from the
// stream it follows itself, is decoded, painted with the tone curve, look and
// overlays, measured for the four scopes and the advisor here, off the page's
// main thread. The page gets back the finished picture, the scope images and the
// advisor's lines, and sends the settings. The page builds the worker from its own
// scripts (liveview.js); loaded in the page, this file only defines names.
'use strict';

const AW = 160, AH = 107;         // the analysis copy every scope and the advisor measure
const THUMB_W = 74, THUMB_H = 50; // the looks gallery's thumbnails
// Pictures decoding at once. A large picture can take the browser's decoder
// nearly a whole feed interval; with two under way, the next one starts as it
// arrives instead of waiting at the stream's reader, and the decoders' threads
// share the cores.
const DECODES = 2;

function overlaysOn(s) {
  return s.peaking || s.zebra || s.falseColor || s.mlut || (!!s.look && s.look !== 'Neutro');
}

// Adds the time since `t` to times[stage]; returns now, the next stage's start.
function lap(times, stage, t) {
  const now = performance.now();
  times[stage] = (times[stage] || 0) + (now - t);
  return now;
}

// The work on one picture, with the canvases it reuses. Thread-bound: the worker's.
class PictureChain {
  constructor() {
    this.view = new OffscreenCanvas(1, 1);
    this.viewCtx = this.view.getContext('2d', { willReadFrequently: true });
    this.ana = new OffscreenCanvas(AW, AH).getContext('2d', { willReadFrequently: true });
    // What goes out to the page: the painted picture and each scope.
    this.outs = { view: new OutCanvases() };
    SCOPES.forEach((id) => { this.outs[id] = new OutCanvases(); });
    this.spare = []; // ImageDatas for the next pictures' pixels
    this.counts = null; // the last picture's counts, their arrays reused
  }

  // Everything one picture gives the page: { view, width, height, scopes, advice,
  // looks, outs }, as a promise; looks: the gallery's thumbnails when withLooks;
  // outs: the canvases its bitmaps were taken of, by name, given back with
  // back(outs) once the picture is shown or left out. `image` (an ImageBitmap or a
  // ConvertedPicture) is used up: handed on as the view (a bitmap with nothing
  // painted on it), or closed. Stage times add to `times`.
  async run(image, s, times, withLooks) {
    const outs = {};
    try {
      return await this.paint(image, s, times, outs, withLooks);
    } catch (e) {
      this.back(outs); // nothing of this picture goes out
      throw e;
    } finally {
      if (image instanceof ConvertedPicture) image.close(); // its pixels are on a canvas by now
    }
  }

  // run's work; outs gets each canvas as it is taken. A converted picture, already
  // in pixels, is put on the view's canvas first, which then stands for the picture
  // as sent, and its overlays are painted in place.
  async paint(image, s, times, outs, withLooks) {
    const w = image.width, h = image.height;
    const inPlace = image instanceof ConvertedPicture;
    let t = performance.now();
    let read = null, plain = null, source = image;
    if (inPlace) {
      read = { frame: image.frame, bgrx: false };
      plain = this.outs.view.take(w, h);
      outs.view = plain.n;
      plain.ctx.putImageData(read.frame, 0, 0);
      source = plain.canvas;
      t = lap(times, 'convert', t);
    }
    const looks = withLooks ? this.thumbnails(source) : null;
    if (withLooks) t = lap(times, 'looks', t);
    // The scopes measure the picture as the camera sent it, before any overlay.
    drawReplacing(this.ana, source, AW, AH);
    const m = measure(this.ana.getImageData(0, 0, AW, AH).data, AW, s.zebraLevel, this.counts);
    this.counts = m;
    t = lap(times, 'measure', t);
    const canvases = SCOPES.map((id) => {
      const o = this.outs[id].take(SW, SH);
      scopeCtx[id] = o.ctx;
      outs[id] = o.n;
      return o.canvas;
    });
    drawHist(m); t = lap(times, 'hist', t);
    drawWave(m); t = lap(times, 'wave', t);
    drawParade(m); t = lap(times, 'parade', t);
    drawVector(m); t = lap(times, 'vector', t);
    const advice = adviceLines(m.sr / m.count, m.sg / m.count, m.sb / m.count, m.hi / m.count, m.sh / m.count, m.hl, m.count);
    t = lap(times, 'advisor', t);
    // Taken now, before the canvases are drawn on again; awaited with the view's.
    const taking = Promise.all(canvases.map(function (c) { return createImageBitmap(c); }));
    const finished = async (view) => {
      const taken = await taking;
      const scopes = {};
      SCOPES.forEach(function (id, i) { scopes[id] = taken[i]; });
      lap(times, 'write', t);
      return { view: view, width: w, height: h, scopes: scopes, advice: advice, looks: looks, outs: outs };
    };
    if (!overlaysOn(s)) return finished(inPlace ? await createImageBitmap(plain.canvas) : image);

    if (read === null) {
      try {
        read = await this.readPixels(image, w, h);
      } finally {
        image.close();
      }
      t = lap(times, 'read', t);
    }
    const frame = read.frame;
    paintOverlays(frame.data, w, s, read.bgrx);
    t = lap(times, 'overlays', t);
    const out = inPlace ? plain : this.outs.view.take(w, h);
    out.ctx.putImageData(frame, 0, 0);
    if (!inPlace && this.spare.length < 2) this.spare.push(frame);
    outs.view = out.n;
    return finished(await createImageBitmap(out.canvas));
  }

  // The canvases a picture's bitmaps were taken of are free again: it was shown,
  // or left out.
  back(outs) {
    if (!outs) return;
    Object.keys(outs).forEach((name) => this.outs[name].back(outs[name]));
  }

  // The picture's pixels in an ImageData kept from picture to picture: { frame,
  // bgrx }. An opaque bitmap is copied straight out of a VideoFrame made on it, one
  // pass into memory already there: in the decoder's own B, G, R, X order as it is
  // (bgrx, the overlays' pass puts it right), or converted to RGBA; otherwise it is
  // drawn and read back from a canvas as RGBA.
  async readPixels(bitmap, w, h) {
    let frame = this.spare.pop();
    if (!frame || frame.width !== w || frame.height !== h) frame = new ImageData(w, h);
    if (await framesCopyRgba()) {
      let video = null;
      try {
        video = new VideoFrame(bitmap, { timestamp: 0 });
        if (video.format === 'BGRX' && video.allocationSize() === frame.data.length) {
          await video.copyTo(frame.data);
          return { frame: frame, bgrx: true };
        }
        if (video.format === 'BGRX' || video.format === 'RGBX') {
          await video.copyTo(frame.data, { format: 'RGBA' });
          return { frame: frame, bgrx: false };
        }
      } catch (e) {
        /* read back from the canvas below */
      } finally {
        if (video !== null) video.close();
      }
    }
    this.spare.push(frame);
    if (this.view.width !== w) this.view.width = w;
    if (this.view.height !== h) this.view.height = h;
    drawReplacing(this.viewCtx, bitmap, w, h);
    return { frame: this.viewCtx.getImageData(0, 0, w, h), bgrx: false };
  }

  // The gallery: the picture at thumbnail size under each look, in LOOKS order.
  thumbnails(bitmap) { // an ImageBitmap or a canvas
    const scratch = new OffscreenCanvas(THUMB_W, THUMB_H).getContext('2d', { willReadFrequently: true });
    drawReplacing(scratch, bitmap, THUMB_W, THUMB_H);
    const plain = scratch.getImageData(0, 0, THUMB_W, THUMB_H);
    const out = new Float64Array(3);
    return LOOKS.map(function (look) {
      const px = new ImageData(new Uint8ClampedArray(plain.data), THUMB_W, THUMB_H);
      const d = px.data;
      for (let i = 0; i < d.length; i += 4) {
        look.fn(d[i], d[i + 1], d[i + 2], out);
        d[i] = out[0]; d[i + 1] = out[1]; d[i + 2] = out[2];
      }
      const thumb = new OffscreenCanvas(THUMB_W, THUMB_H);
      thumb.getContext('2d').putImageData(px, 0, 0);
      return { name: look.name, bitmap: thumb.transferToImageBitmap() };
    });
  }
}

function pictureBitmaps(p) {
  const list = [p.view];
  SCOPES.forEach(function (id) { list.push(p.scopes[id]); });
  if (p.looks) p.looks.forEach(function (l) { list.push(l.bitmap); });
  return list;
}

// A picture as the worker takes it, from whichever of the three ways it came.
function pictureSource(d, fluid, camera) {
  return { bytes: d.bytes, type: d.type || '', stamp: d.stamp || 0, fluid: fluid, camera: camera || '' };
}

// The picture worker's side of the conversation with the page. Pictures come in as
// their bytes (a Uint8Array moved, not copied, with its type): posted by the
// polled view; sent by the tiles' worker (tilereader.js), with several cameras, for
// the camera the page follows; or asked of the stream's reader (feed.js, a worker
// of its own that drains the stream and keeps only its newest picture) as soon as
// fewer than two pictures decode and no decoded picture waits, so the one decoded
// is the newest there is. Each step holds at most one picture and one
// waiting, the newest always replacing the one that waits: decoding (two under way
// at most, an older one dropped if a newer finishes first), painting (while the
// next ones decode), and the page's showing (a finished picture waits until the page
// says it showed the last). Nothing queues, so the delay cannot grow.
// Thread-bound: the worker's.
class PictureWorker {
  constructor(port) {
    this.port = port;
    this.chain = null;      // made with the first picture
    this.settings = { mlut: false, look: 'Neutro', falseColor: false, zebra: false, peaking: false, zebraLevel: 250, peakThreshold: 34, rev: 0 };
    this.run = 0;           // bumped by 'stop': pictures of an older run are dropped
    this.pending = null;    // the newest picture not decoding yet
    this.decoding = 0;      // pictures with the decoder, at most DECODES
    this.offered = 0;       // pictures offered so far: their order
    this.newestDecoded = 0; // the order of the newest picture decoded
    this.ready = null;      // a decoded picture waiting while another is painted
    this.painting = false;
    this.unsent = null;     // a finished picture waiting for the page
    this.withPage = false;  // the page has a picture it has not said it showed
    this.pageOuts = null;   // and the canvases its bitmaps were taken of
    this.converter = null;  // the converter's link, once the page gives one
    this.stream = null;     // a port to the stream's reader while "Fluido" runs
    this.asked = false;     // a picture was asked of it and has not come yet
    this.tiles = null;      // { camera, fluid }: the tiles' full pictures shown, while the view runs
    // Pictures left out, by where a newer one overtook them: at the stream's reader,
    // waiting for the decoder, decoded but not painted, finished but not yet taken
    // by the page.
    this.dropped = { stream: 0, waiting: 0, decoded: 0, finished: 0 };
    this.looksDone = false;
  }

  receive(msg) {
    switch (msg.kind) {
      case 'settings': this.settings = msg.settings; break;
      case 'picture': this.offer(pictureSource(msg, !!msg.fluid, msg.camera)); break;
      case 'stream':
        this.stop();
        this.stream = msg.port;
        this.stream.addEventListener('message', (e) => {
          this.asked = false;
          this.dropped.stream = e.data.skipped;
          this.offer(pictureSource(e.data, true, ''));
          this.ask(); // the next, while this one decodes
        });
        this.stream.start();
        this.ask();
        break;
      case 'tiles':
        // Every camera's full pictures pass here; only the one followed is shown.
        msg.port.addEventListener('message', (e) => {
          const t = this.tiles;
          if (t === null || e.data.camera !== t.camera) return;
          this.offer(pictureSource(e.data, t.fluid, t.camera));
        });
        msg.port.start();
        break;
      case 'followTiles':
        this.stop();
        this.tiles = { camera: msg.camera, fluid: !!msg.fluid };
        break;
      case 'converter': this.converter = new ConverterLink(msg.port); break;
      case 'stop': this.stop(); break;
      case 'shown':
        this.withPage = false;
        if (this.chain !== null) this.chain.back(this.pageOuts);
        this.pageOuts = null;
        if (this.unsent !== null) this.send(this.unsent);
        break;
      default: break;
    }
  }

  stop() {
    if (this.stream !== null) { this.stream.close(); this.stream = null; }
    this.tiles = null;
    this.asked = false;
    this.run++;
    this.pending = null;
    if (this.ready !== null) { this.ready.bitmap.close(); this.ready = null; }
    if (this.unsent !== null) {
      if (this.unsent.looks) this.looksDone = false; // made again from the next picture
      this.drop(this.unsent);
      this.unsent = null;
    }
  }

  offer(source) {
    source.run = this.run;
    source.order = ++this.offered;
    if (this.pending !== null) this.dropped.waiting++;
    this.pending = source;
    this.decodeNext();
  }

  // Asks the stream's reader for its newest picture while the decoder has room.
  ask() {
    if (this.stream === null || this.asked || this.decoding >= DECODES || this.pending !== null || this.ready !== null) return;
    this.asked = true;
    this.stream.postMessage('next');
  }

  decodeNext() {
    if (this.decoding >= DECODES || this.pending === null) return;
    const source = this.pending;
    this.pending = null;
    this.decoding++;
    const t0 = performance.now();
    const decoding = this.converter !== null ? this.converter.decode(source.bytes, source.type) : bitmapOf(source.bytes, source.type);
    decoding.then((bitmap) => {
      this.decoding--;
      this.decodeNext();
      this.decoded({ bitmap: bitmap, source: source, times: { decode: performance.now() - t0 } });
      this.ask();
    }, () => {
      this.decoding--; // a picture that does not decode is skipped
      this.decodeNext();
      this.ask();
    });
  }

  // A decoded picture waits while the one before is painted; a newer one replaces it.
  // One that a newer picture overtook at the decoder is left out.
  decoded(d) {
    if (d.source.run !== this.run) { d.bitmap.close(); return; }
    if (d.source.order < this.newestDecoded) { d.bitmap.close(); this.dropped.decoded++; return; }
    this.newestDecoded = d.source.order;
    if (this.painting) {
      if (this.ready !== null) { this.ready.bitmap.close(); this.dropped.decoded++; }
      this.ready = d;
      return;
    }
    this.paint(d);
  }

  paint(d) {
    if (this.chain === null) this.chain = new PictureChain();
    this.painting = true;
    const s = this.settings;
    const t0 = performance.now();
    const withLooks = !this.looksDone;
    this.looksDone = true;
    this.chain.run(d.bitmap, s, d.times, withLooks).then((p) => {
      p.kind = 'picture';
      p.stamp = d.source.stamp;
      p.camera = d.source.camera || '';
      p.fluid = d.source.fluid;
      p.rev = s.rev;
      p.times = d.times;
      p.work = performance.now() - t0;
      p.buffersMade = this.converter !== null ? this.converter.made : 0;
      if (d.source.run === this.run) this.send(p);
      else this.drop(p);
    }).catch(() => {
      // A picture that cannot be painted is skipped; the gallery comes with the next.
      if (withLooks) this.looksDone = false;
    }).then(() => {
      this.painting = false;
      const next = this.ready;
      this.ready = null;
      if (next !== null) this.decoded(next);
      this.ask();
    });
  }

  send(p) {
    if (this.withPage) {
      if (this.unsent !== null) {
        // The gallery goes with whichever picture reaches the page first.
        if (this.unsent.looks && !p.looks) { p.looks = this.unsent.looks; this.unsent.looks = null; }
        this.drop(this.unsent);
        this.dropped.finished++;
      }
      this.unsent = p;
      return;
    }
    this.unsent = null;
    this.withPage = true;
    this.pageOuts = p.outs;
    p.dropped = Object.assign({}, this.dropped);
    this.port.postMessage(p, pictureBitmaps(p));
  }

  // A finished picture that will not be shown: its bitmaps closed, its canvases free.
  drop(p) {
    pictureBitmaps(p).forEach(function (b) { b.close(); });
    this.chain.back(p.outs);
  }
}

// The workers' entry point, called at the end of their source: the stream's reader,
// the converter or the picture worker, by the name the page gave it.
function pictureWorkerMain(scope) {
  const worker = scope.name === 'feed' ? new FeedReader()
    : scope.name === 'convert' ? new PictureConverter()
      : scope.name === 'tiles' ? new TileReader(scope) : new PictureWorker(scope);
  scope.addEventListener('message', function (e) { worker.receive(e.data); });
}
