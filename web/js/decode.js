// A camera's JPEG decoded to pixels, and a decoded bitmap read out to pixels.
//
// A JPEG is decoded to exactly the pixels the browser's own decoding gives, for
// less: the browser's decoder stops at the picture's Y, Cb and Cr planes
// (ImageDecoder), and one pass in WebAssembly (web/wasm/planes.c) upsamples the
// chroma and converts to RGB as that decoding does (the JPEG library's
// triangle-filter upsampling and its fixed-point YCbCr tables). createImageBitmap
// does the same work, plus a fresh picture-sized buffer each time, which a machine
// slow to hand memory out pays for. Used only where a check on a picture made here
// gives the same bytes both ways, and only for pictures in the layout checked
// (4:2:0, full range); anything else, and everything where the page carries no
// WebAssembly, is decoded by createImageBitmap. Runs in the converter (convert.js).
'use strict';

// The RGB pass, web/wasm/planes.c compiled to WebAssembly by the build and
// carried in PLANES_WASM (hex; empty where the build had no compiler for it):
// { turn, memory, free, maxWidth }, or null. Made once per worker; its memory
// holds one picture's planes and pixels at a time, from `free` on.
let planesPass;
function rgbPass() {
  if (planesPass !== undefined) return planesPass;
  planesPass = null;
  try {
    if (typeof PLANES_WASM !== 'string' || PLANES_WASM.length === 0) return null;
    const bytes = new Uint8Array(PLANES_WASM.length >> 1);
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(PLANES_WASM.substr(2 * i, 2), 16);
    const e = new WebAssembly.Instance(new WebAssembly.Module(bytes), {}).exports;
    planesPass = { turn: e.planes_to_rgba, memory: e.memory, free: (e.__heap_base.value + 15) & ~15, maxWidth: e.max_width() };
  } catch (err) {
    planesPass = null; // an engine without WebAssembly or its SIMD
  }
  return planesPass;
}

// A decoded JPEG still as planes: width, height, close() like an ImageBitmap;
// readInto turns it to RGBA.
class JpegPlanes {
  constructor(video) {
    this.video = video;
    this.width = video.displayWidth;
    this.height = video.displayHeight;
  }

  // Whether a decoded frame is in the layout the RGB pass converts exactly.
  static fits(video) {
    const cs = video.colorSpace || {};
    const r = video.visibleRect;
    const pass = rgbPass();
    return pass !== null && video.format === 'I420' && cs.fullRange === true && cs.matrix === 'smpte170m' &&
      r !== null && r.x === 0 && r.y === 0 && r.width === video.displayWidth && r.height === video.displayHeight &&
      video.displayWidth <= pass.maxWidth && !video.rotation && !video.flip;
  }

  // Writes the picture into `d` (RGBA bytes of its size): the planes are copied
  // into the pass's memory, turned there, and the pixels copied out (one picture
  // at a time).
  async readInto(d) {
    const pass = rgbPass();
    const size = this.video.allocationSize();
    const planesAt = pass.free, pixelsAt = (planesAt + size + 15) & ~15, end = pixelsAt + d.length;
    const have = pass.memory.buffer.byteLength;
    if (have < end) pass.memory.grow(Math.ceil((end - have) / 65536));
    const layout = await this.video.copyTo(new Uint8Array(pass.memory.buffer, planesAt, size));
    pass.turn(planesAt + layout[0].offset, layout[0].stride, planesAt + layout[1].offset,
      planesAt + layout[2].offset, layout[1].stride, this.width, this.height, pixelsAt);
    d.set(new Uint8Array(pass.memory.buffer, pixelsAt, d.length));
  }

  close() { this.video.close(); }
}

// The browser's own decoding of a picture's bytes, for whatever the planes do not
// take. Pictures travel as bytes, not Blobs: a Blob's bytes go through the
// browser's own process and back, which cost a picture 2 to 3 ms on its way to
// the converter; this is the one place one is made.
function bitmapOf(bytes, type) {
  return createImageBitmap(new Blob([bytes], type ? { type: type } : {}));
}

function startsAsJpeg(bytes) {
  return bytes.length > 3 && bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff;
}

// The JPEG in `bytes` as planes, or null when the browser gives it otherwise.
async function decodePlanes(bytes) {
  const decoder = new ImageDecoder({ data: bytes, type: 'image/jpeg' });
  try {
    const video = (await decoder.decode()).image;
    if (JpegPlanes.fits(video)) return new JpegPlanes(video);
    video.close();
    return null;
  } finally {
    decoder.close();
  }
}

// Whether the RGB pass gives, for a JPEG of this browser's own making, the bytes
// createImageBitmap gives. Checked once; odd sizes try the last chroma row and column.
let planesChecked = null;
function planesAreExact() {
  if (planesChecked === null) planesChecked = checkPlanes().catch(function () { return false; });
  return planesChecked;
}

async function checkPlanes() {
  if (typeof ImageDecoder !== 'function' || typeof VideoFrame !== 'function' || rgbPass() === null) return false;
  const w = 37, h = 23;
  const canvas = new OffscreenCanvas(w, h);
  const ctx = canvas.getContext('2d', { willReadFrequently: true });
  const px = ctx.createImageData(w, h);
  for (let i = 0, seed = 7; i < px.data.length; i += 4) {
    seed = (seed * 1103515245 + 12345) & 0x7fffffff;
    const x = (i >> 2) % w, y = Math.floor((i >> 2) / w);
    px.data[i] = (x * 7 + (seed & 63)) & 255;
    px.data[i + 1] = (y * 11 + ((seed >> 8) & 63)) & 255;
    px.data[i + 2] = ((x ^ y) * 5 + ((seed >> 16) & 127)) & 255;
    px.data[i + 3] = 255;
  }
  ctx.putImageData(px, 0, 0);
  const bytes = new Uint8Array(await (await canvas.convertToBlob({ type: 'image/jpeg', quality: 0.9 })).arrayBuffer());
  const planes = await decodePlanes(bytes);
  if (planes === null) return false;
  const mine = new ImageData(w, h);
  try {
    await planes.readInto(mine.data);
  } finally {
    planes.close();
  }
  const bitmap = await createImageBitmap(new Blob([bytes]));
  ctx.globalCompositeOperation = 'copy';
  ctx.drawImage(bitmap, 0, 0);
  bitmap.close();
  const theirs = ctx.getImageData(0, 0, w, h).data;
  for (let i = 0; i < theirs.length; i++) if (theirs[i] !== mine.data[i]) return false;
  return true;
}

// Whether a VideoFrame copies an opaque picture out as RGBA, checked once on known
// pixels: an engine without that option would hand over its own byte order.
let rgbaCopies = null;
function framesCopyRgba() {
  if (rgbaCopies === null) rgbaCopies = rgbaCopyWorks().catch(function () { return false; });
  return rgbaCopies;
}

async function rgbaCopyWorks() {
  if (typeof VideoFrame !== 'function') return false;
  const canvas = new OffscreenCanvas(2, 1);
  const ctx = canvas.getContext('2d', { alpha: false });
  ctx.fillStyle = 'rgb(10, 20, 30)';
  ctx.fillRect(0, 0, 1, 1);
  ctx.fillStyle = 'rgb(200, 150, 100)';
  ctx.fillRect(1, 0, 1, 1);
  const video = new VideoFrame(canvas.transferToImageBitmap(), { timestamp: 0 });
  try {
    const out = new Uint8Array(8);
    await video.copyTo(out, { format: 'RGBA' });
    return out.join() === '10,20,30,255,200,150,100,255';
  } finally {
    video.close();
  }
}
