// The converter: a worker of its own beside the picture worker. It decodes a
// camera's JPEG to its planes and turns them to pixels (decode.js), so that pass
// runs on the other core while the picture worker paints the picture before. The
// pixels go over in a buffer that is handed back once painted: moved between the
// two, never copied, and reused, so no picture takes fresh memory. A picture it
// does not decode exactly it gives back for createImageBitmap, and so does the
// picture worker with every picture while the converter does not answer.
'use strict';

// The converter's side. Thread-bound: the converter worker's.
class PictureConverter {
  constructor() {
    this.port = null;               // to the picture worker
    // Buffers handed back, all kept: as many are made as are ever out at once (two
    // decoding, one waiting to be painted, one painting, some on their way).
    this.free = [];
    this.size = 0;                  // their size in bytes: the last picture's
    this.made = 0;                  // buffers made so far
    this.turn = Promise.resolve();  // turning planes to pixels, one picture at a time
  }

  receive(msg) {
    if (msg.kind === 'port') {
      this.port = msg.port;
      this.port.addEventListener('message', (e) => this.receive(e.data));
      this.port.start();
    } else if (msg.kind === 'buffer') {
      if (msg.buffer.byteLength === this.size) this.free.push(msg.buffer);
    } else if (msg.kind === 'decode') {
      this.decode(msg.id, msg.bytes);
    }
  }

  // Answers 'decoded' for `id`: the pixels in a buffer, or none for createImageBitmap.
  async decode(id, bytes) {
    let planes = null;
    try {
      if (await planesAreExact() && startsAsJpeg(bytes)) planes = await decodePlanes(bytes);
      if (planes === null) {
        this.port.postMessage({ kind: 'decoded', id: id, pixels: null });
        return;
      }
      const w = planes.width, h = planes.height;
      const turned = this.turn.then(() => this.turnToPixels(planes, w, h));
      this.turn = turned.catch(function () {});
      const pixels = await turned;
      this.port.postMessage({ kind: 'decoded', id: id, pixels: pixels, width: w, height: h, made: this.made }, [pixels]);
    } catch (e) {
      this.port.postMessage({ kind: 'decoded', id: id, pixels: null });
    } finally {
      if (planes !== null) planes.close();
    }
  }

  async turnToPixels(planes, w, h) {
    const size = w * h * 4;
    // A change of size leaves the buffers of the old one to be collected.
    if (size !== this.size) {
      this.free = [];
      this.size = size;
    }
    if (this.free.length === 0) this.made++;
    const pixels = this.free.length > 0 ? this.free.pop() : new ArrayBuffer(size);
    try {
      await planes.readInto(new Uint8ClampedArray(pixels));
    } catch (e) {
      this.free.push(pixels);
      throw e;
    }
    return pixels;
  }
}

// A picture the converter turned to pixels: width, height and close() like an
// ImageBitmap, and `frame`, an ImageData on its buffer; close() hands the buffer back.
class ConvertedPicture {
  constructor(pixels, w, h, link) {
    this.frame = new ImageData(new Uint8ClampedArray(pixels), w, h);
    this.width = w;
    this.height = h;
    this.link = link;
  }

  close() {
    if (this.link === null) return;
    this.link.giveBack(this.frame.data.buffer);
    this.link = null;
  }
}

// How long a picture may be with the converter before the link gives up on it: a
// converter that stopped answering would otherwise hold the decoder's places, and
// the live view would stand still.
const CONVERTER_PATIENCE_MS = 3000;

// The picture worker's side of the converter. Thread-bound: the picture worker's.
class ConverterLink {
  constructor(port, patienceMs = CONVERTER_PATIENCE_MS) {
    this.port = port;
    this.patience = patienceMs;
    this.waiting = new Map(); // id -> { resolve, timer }, for each picture sent
    this.sent = 0;
    this.made = 0; // buffers the converter has made, as it last said
    this.lost = false; // it kept a picture past its patience: decoded here until it answers
    port.addEventListener('message', (e) => this.answer(e.data));
    port.start();
  }

  // The picture in `bytes` (of MIME `type`) decoded: a ConvertedPicture, or an
  // ImageBitmap for what the converter gives back. The converter gets a copy,
  // so the bytes stay here for that.
  decode(bytes, type) {
    if (this.lost) return bitmapOf(bytes, type);
    const id = ++this.sent;
    return new Promise((resolve) => {
      this.waiting.set(id, { resolve: resolve, timer: setTimeout(() => this.giveUp(), this.patience) });
      this.port.postMessage({ kind: 'decode', id: id, bytes: bytes });
    }).then(function (picture) { return picture !== null ? picture : bitmapOf(bytes, type); });
  }

  answer(msg) {
    const waiter = this.waiting.get(msg.id);
    if (!waiter) {
      // A picture given up on: the converter was only slow (a stall of the
      // machine, a suspended laptop), so it is asked again from the next picture.
      this.lost = false;
      if (msg.pixels) this.giveBack(msg.pixels);
      return;
    }
    this.waiting.delete(msg.id);
    clearTimeout(waiter.timer);
    if (msg.made) this.made = msg.made;
    waiter.resolve(msg.pixels === null ? null : new ConvertedPicture(msg.pixels, msg.width, msg.height, this));
  }

  // Every picture still out is decoded here, and so is every later one until the
  // converter answers again.
  giveUp() {
    this.lost = true;
    for (const waiter of this.waiting.values()) {
      clearTimeout(waiter.timer);
      waiter.resolve(null);
    }
    this.waiting.clear();
  }

  giveBack(pixels) {
    this.port.postMessage({ kind: 'buffer', buffer: pixels }, [pixels]);
  }
}
