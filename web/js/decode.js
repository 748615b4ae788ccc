// A camera's JPEG decoded to pixels, and a decoded bitmap read out to pixels.
//
// A JPEG is decoded to exactly the pixels the browser's own decoding gives, for
// less: the browser's decoder stops at the picture's Y, Cb and Cr planes
// (ImageDecoder), and one pass here upsamples the chroma and converts to RGB as
// that decoding does (the JPEG library's triangle-filter upsampling and its
// fixed-point YCbCr tables). createImageBitmap does the same work, plus a fresh
// picture-sized buffer each time, which a machine slow to hand memory out pays
// for: 37 against 24 ms a picture at 1920 x 1080 here, read out to pixels. Used
// only where a check on a picture made here gives the same bytes both ways, and
// only for pictures in the layout checked (4:2:0, full range); anything else is
// decoded by createImageBitmap. Runs in the converter (convert.js).
'use strict';

// The YCbCr to RGB tables, in 16-bit fixed point, with the clamp as a table
// (offset CLAMP_AT so the sums never go below 0).
const YCC = (function () {
  const ONE_HALF = 1 << 15;
  const fix = function (x) { return Math.floor(x * 65536 + 0.5); };
  const CLAMP_AT = 384;
  const t = { crR: new Int32Array(256), cbB: new Int32Array(256), g: new Int32Array(65536), clamp: new Uint8Array(1024) };
  const crG = new Int32Array(256), cbG = new Int32Array(256);
  for (let i = 0; i < 256; i++) {
    const x = i - 128;
    t.crR[i] = ((fix(1.402) * x + ONE_HALF) >> 16) + CLAMP_AT;
    t.cbB[i] = ((fix(1.772) * x + ONE_HALF) >> 16) + CLAMP_AT;
    crG[i] = -fix(0.71414) * x;
    cbG[i] = -fix(0.34414) * x + ONE_HALF;
  }
  // Green takes both chroma values: one table by (Cb, Cr) saves a shift and an add.
  for (let cb = 0; cb < 256; cb++) {
    for (let cr = 0; cr < 256; cr++) t.g[(cb << 8) | cr] = ((cbG[cb] + crG[cr]) >> 16) + CLAMP_AT;
  }
  for (let i = 0; i < 1024; i++) t.clamp[i] = Math.max(0, Math.min(255, i - CLAMP_AT));
  return t;
})();

// One opaque pixel as stored in an RGBA picture's 32-bit word on a little-endian
// machine; elsewhere the check below finds other bytes and the planes go unused.
function yccWord(y, cb, cr) {
  const c = YCC.clamp;
  return 0xff000000 | (c[y + YCC.cbB[cb]] << 16) | (c[y + YCC.g[(cb << 8) | cr]] << 8) | c[y + YCC.crR[cr]];
}

// Fills out32 (w x h RGBA words) from 4:2:0 planes: luma y (stride ys), chroma u and
// v (stride cs). Each output row blends its chroma row 3:1 with the nearer row
// above or below (the picture's edge row repeated), then each column 3:1 with the
// nearer column, rounding alternately up and down as the JPEG library does.
function planesToRgba(y, ys, u, v, cs, w, h, out32) {
  const ch = (h + 1) >> 1, cw = (w + 1) >> 1;
  for (let row = 0; row < h; row++) {
    const r0 = row >> 1;
    const r1 = (row & 1) === 0 ? Math.max(r0 - 1, 0) : Math.min(r0 + 1, ch - 1);
    const a = r0 * cs, b = r1 * cs;
    let yi = row * ys, o = row * w;
    let tu = u[a] * 3 + u[b], tv = v[a] * 3 + v[b];
    if (cw === 1) {
      out32[o] = yccWord(y[yi], (tu * 4 + 8) >> 4, (tv * 4 + 8) >> 4);
      if (w > 1) out32[o + 1] = yccWord(y[yi + 1], (tu * 4 + 7) >> 4, (tv * 4 + 7) >> 4);
      continue;
    }
    let nu = u[a + 1] * 3 + u[b + 1], nv = v[a + 1] * 3 + v[b + 1];
    out32[o++] = yccWord(y[yi++], (tu * 4 + 8) >> 4, (tv * 4 + 8) >> 4);
    out32[o++] = yccWord(y[yi++], (tu * 3 + nu + 7) >> 4, (tv * 3 + nv + 7) >> 4);
    let lu = tu, lv = tv;
    tu = nu; tv = nv;
    for (let k = a + 2, m = b + 2, end = a + cw; k < end; k++, m++) {
      nu = u[k] * 3 + u[m]; nv = v[k] * 3 + v[m];
      const u3 = tu * 3, v3 = tv * 3;
      out32[o++] = yccWord(y[yi++], (u3 + lu + 8) >> 4, (v3 + lv + 8) >> 4);
      out32[o++] = yccWord(y[yi++], (u3 + nu + 7) >> 4, (v3 + nv + 7) >> 4);
      lu = tu; lv = tv; tu = nu; tv = nv;
    }
    out32[o++] = yccWord(y[yi++], (tu * 3 + lu + 8) >> 4, (tv * 3 + lv + 8) >> 4);
    if (2 * cw === w) out32[o] = yccWord(y[yi], (tu * 4 + 7) >> 4, (tv * 4 + 7) >> 4);
  }
}

// A decoded JPEG still as planes: width, height, close() like an ImageBitmap;
// readInto turns it to RGBA.
class JpegPlanes {
  constructor(video) {
    this.video = video;
    this.width = video.displayWidth;
    this.height = video.displayHeight;
  }

  // Whether a decoded frame is in the layout planesToRgba converts exactly.
  static fits(video) {
    const cs = video.colorSpace || {};
    const r = video.visibleRect;
    return video.format === 'I420' && cs.fullRange === true && cs.matrix === 'smpte170m' &&
      r !== null && r.x === 0 && r.y === 0 && r.width === video.displayWidth && r.height === video.displayHeight &&
      !video.rotation && !video.flip;
  }

  // Writes the picture into `d` (RGBA bytes of its size), the planes copied through
  // store.bytes, a buffer kept from picture to picture (one reader at a time).
  async readInto(d, store) {
    const size = this.video.allocationSize();
    if (store.bytes === null || store.bytes.length < size) store.bytes = new Uint8Array(size);
    const bytes = store.bytes;
    const layout = await this.video.copyTo(bytes);
    const out32 = new Uint32Array(d.buffer, d.byteOffset, d.length >> 2);
    planesToRgba(bytes, layout[0].stride, bytes.subarray(layout[1].offset), bytes.subarray(layout[2].offset),
      layout[1].stride, this.width, this.height, out32);
  }

  close() { this.video.close(); }
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

// Whether planesToRgba gives, for a JPEG of this browser's own making, the bytes
// createImageBitmap gives. Checked once; odd sizes try the last chroma row and column.
let planesChecked = null;
function planesAreExact() {
  if (planesChecked === null) planesChecked = checkPlanes().catch(function () { return false; });
  return planesChecked;
}

async function checkPlanes() {
  if (typeof ImageDecoder !== 'function' || typeof VideoFrame !== 'function') return false;
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
    await planes.readInto(mine.data, { bytes: null });
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
