// The camera JPEG's planes turned to RGBA, compiled to WebAssembly for the
// console's converter (web/js/decode.js): 4:2:0 Y, Cb and Cr planes in, RGBA
// words out, exactly as the JPEG library's own decoding gives them (its
// triangle-filter chroma upsampling, rounding alternately up and down, and its
// 16-bit fixed-point YCbCr to RGB), so the pixels are the browser's own. Kept
// simple enough for the compiler to vectorise: each row's chroma is upsampled
// into two rows of bytes first, then one straight loop converts.

typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;

enum { kMaxWidth = 8192 };

// One row's chroma blended 3:1 with the nearer row, with a copy of each end
// column beside it; then upsampled to the picture's width.
static u16 blendedCb[kMaxWidth / 2 + 2], blendedCr[kMaxWidth / 2 + 2];
static u8 rowCb[kMaxWidth + 2], rowCr[kMaxWidth + 2];

// The JPEG library's constants: FIX(x) = round(x * 65536).
enum { kHalf = 1 << 15, kCrR = 91881, kCbB = 116130, kCbG = 22554, kCrG = 46802 };

static inline int clamp255(int x) { return x < 0 ? 0 : (x > 255 ? 255 : x); }

__attribute__((export_name("max_width"))) int maxWidth(void) { return kMaxWidth; }

// Fills out (w x h RGBA words, opaque) from the luma plane y (stride ys) and the
// chroma planes u and v (stride cs). Each output row blends its chroma row 3:1 with
// the nearer row above or below (the edge row repeated), then each column 3:1 with
// the nearer column (the edge column repeated).
__attribute__((export_name("planes_to_rgba"))) void planesToRgba(const u8* y, int ys, const u8* u,
                                                                 const u8* v, int cs, int w, int h,
                                                                 u32* out) {
  if (w < 1 || w > kMaxWidth) return;
  const int ch = (h + 1) >> 1, cw = (w + 1) >> 1;
  u16* const cb = blendedCb + 1;
  u16* const cr = blendedCr + 1;
  for (int row = 0; row < h; row++) {
    const int near = row >> 1;
    const int far =
        (row & 1) == 0 ? (near > 0 ? near - 1 : 0) : (near + 1 < ch ? near + 1 : ch - 1);
    const u8 *un = u + near * cs, *uf = u + far * cs, *vn = v + near * cs, *vf = v + far * cs;
    for (int k = 0; k < cw; k++) {
      cb[k] = (u16)(un[k] * 3 + uf[k]);
      cr[k] = (u16)(vn[k] * 3 + vf[k]);
    }
    cb[-1] = cb[0];
    cr[-1] = cr[0];
    cb[cw] = cb[cw - 1];
    cr[cw] = cr[cw - 1];
    for (int k = 0; k < cw; k++) {
      const int cb3 = cb[k] * 3, cr3 = cr[k] * 3;
      rowCb[2 * k] = (u8)((cb3 + cb[k - 1] + 8) >> 4);
      rowCb[2 * k + 1] = (u8)((cb3 + cb[k + 1] + 7) >> 4);
      rowCr[2 * k] = (u8)((cr3 + cr[k - 1] + 8) >> 4);
      rowCr[2 * k + 1] = (u8)((cr3 + cr[k + 1] + 7) >> 4);
    }
    const u8* luma = y + row * ys;
    u32* o = out + row * w;
    for (int x = 0; x < w; x++) {
      const int l = luma[x], b = rowCb[x] - 128, r = rowCr[x] - 128;
      const int red = clamp255(l + ((kCrR * r + kHalf) >> 16));
      const int green = clamp255(l + ((kHalf - kCbG * b - kCrG * r) >> 16));
      const int blue = clamp255(l + ((kCbB * b + kHalf) >> 16));
      o[x] = 0xff000000u | ((u32)blue << 16) | ((u32)green << 8) | (u32)red;
    }
  }
}
