// The picture worker's canvases: drawing a picture over whatever a canvas held, and
// the canvases a finished picture and its scopes go out on, kept while their
// bitmaps are with the page so that no picture takes fresh memory.
'use strict';

// Draws `img` replacing whatever the canvas held, as a freshly sized canvas would.
function drawReplacing(ctx, img, w, h) {
  ctx.globalCompositeOperation = 'copy';
  ctx.drawImage(img, 0, 0, w, h);
  ctx.globalCompositeOperation = 'source-over';
}

// Canvases a picture's bitmaps are taken of, one for each picture still out (with
// the page, or waiting for it): a bitmap taken of a canvas shares its memory until
// the canvas is written again, so writing only on a canvas whose bitmap is gone
// needs no fresh memory. Handing the canvas's own memory over instead
// (transferToImageBitmap) makes it take fresh memory for the next picture: 8.3
// against 0.3 ms at 1024 x 680, 22.6 against 0.7 ms at 1920 x 1080 on a machine
// slow to hand memory out. Only a canvas made with willReadFrequently shares so.
// Thread-bound: the worker's.
class OutCanvases {
  constructor() {
    this.list = []; // { canvas, ctx, out, n }: out while its last bitmap is out
  }

  // A canvas whose last bitmap is gone (a new one when none is), sized w x h and
  // marked out; give it back with back(its n).
  take(w, h) {
    let o = this.list.find(function (c) { return !c.out; });
    if (!o) {
      const canvas = new OffscreenCanvas(w, h);
      o = { canvas: canvas, ctx: canvas.getContext('2d', { willReadFrequently: true }), out: false, n: this.list.length };
      this.list.push(o);
    }
    // Assigning the size reallocates the canvas even when unchanged; do it only on a change.
    if (o.canvas.width !== w) o.canvas.width = w;
    if (o.canvas.height !== h) o.canvas.height = h;
    o.out = true;
    return o;
  }

  back(n) {
    if (n >= 0 && n < this.list.length) this.list[n].out = false;
  }
}
