// The converter: a worker of its own beside the picture worker. It decodes a
// camera's JPEG to its planes and turns them to pixels (decode.js), so that pass
// runs on the other core while the picture worker paints the picture before. The
// pixels go over in a buffer that is handed back once painted: moved between the
// two, never copied, and reused, so no picture takes fresh memory. A picture it
// does not decode exactly it gives back for createImageBitmap.
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
    this.store = { bytes: null };   // the planes' copy, one picture at a time
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
      this.decode(msg.id, msg.blob);
    }
  }

  // Answers 'decoded' for `id`: the pixels in a buffer, or none for createImageBitmap.
  async decode(id, blob) {
    let planes = null;
    try {
      if (await planesAreExact()) {
        const bytes = new Uint8Array(await blob.arrayBuffer());
        if (startsAsJpeg(bytes)) planes = await decodePlanes(bytes);
      }
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
      await planes.readInto(new Uint8ClampedArray(pixels), this.store);
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

// The picture worker's side of the converter. Thread-bound: the picture worker's.
class ConverterLink {
  constructor(port) {
    this.port = port;
    this.waiting = new Map(); // id -> resolve, for each picture sent
    this.sent = 0;
    this.made = 0; // buffers the converter has made, as it last said
    port.addEventListener('message', (e) => this.answer(e.data));
    port.start();
  }

  // The picture decoded: a ConvertedPicture, or an ImageBitmap for what the
  // converter gives back.
  decode(blob) {
    const id = ++this.sent;
    return new Promise((resolve) => {
      this.waiting.set(id, resolve);
      this.port.postMessage({ kind: 'decode', id: id, blob: blob });
    }).then(function (picture) { return picture !== null ? picture : createImageBitmap(blob); });
  }

  answer(msg) {
    const resolve = this.waiting.get(msg.id);
    this.waiting.delete(msg.id);
    if (msg.made) this.made = msg.made;
    if (resolve) resolve(msg.pixels === null ? null : new ConvertedPicture(msg.pixels, msg.width, msg.height, this));
  }

  giveBack(pixels) {
    this.port.postMessage({ kind: 'buffer', buffer: pixels }, [pixels]);
  }
}
