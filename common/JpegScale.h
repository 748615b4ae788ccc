// Smaller copies of a JPEG picture, shared by the virtual camera (the EXIF
// thumbnail) and the program (thumbnails and screen copies of downloads).
// Header-only so that it needs no library of its own: each user already
// links libjpeg-turbo.
#pragma once

#include <turbojpeg.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jpegscale {

// Average-area shrink of packed RGB from sw x sh to dw x dh (dw <= sw,
// dh <= sh): every source pixel counts for the share of it an output
// pixel covers, so fine detail averages instead of aliasing. Fixed point:
// each output's weights add up to exactly 1 << 12.
inline void shrinkRgb(const std::uint8_t* src, int sw, int sh, std::uint8_t* dst, int dw, int dh) {
  constexpr int kOne = 1 << 12;
  struct Spans {
    std::vector<int> first, count;
    std::vector<std::uint32_t> weights;  // count[o] of them for output o, in order
  };
  auto spansOf = [](int from, int to) {
    Spans s;
    const double step = double(from) / to;
    for (int o = 0; o < to; ++o) {
      const double a = o * step, b = std::min<double>(from, (o + 1) * step);
      const int first = static_cast<int>(a);
      const std::size_t at = s.weights.size();
      int sum = 0, biggest = 0;
      for (int i = first; i < from && i < b; ++i) {
        const double share = (std::min<double>(b, i + 1) - std::max<double>(a, i)) / step;
        const int w = static_cast<int>(share * kOne + 0.5);
        if (w > biggest) biggest = w;
        sum += w;
        s.weights.push_back(static_cast<std::uint32_t>(w));
      }
      for (std::size_t k = at; k < s.weights.size(); ++k)  // rounding left over
        if (static_cast<int>(s.weights[k]) == biggest) {
          s.weights[k] = static_cast<std::uint32_t>(biggest + kOne - sum);
          break;
        }
      s.first.push_back(first);
      s.count.push_back(static_cast<int>(s.weights.size() - at));
    }
    return s;
  };
  const Spans cols = spansOf(sw, dw), rows = spansOf(sh, dh);
  const std::size_t rowLen = static_cast<std::size_t>(dw) * 3;
  std::vector<std::uint32_t> narrow(rowLen), acc(rowLen);  // narrow: 8.8 fixed point
  int narrowRow = -1;  // the source row narrow holds; neighbouring outputs share one
  std::size_t rowWeight = 0;
  for (int y = 0; y < dh; ++y) {
    std::fill(acc.begin(), acc.end(), 0u);
    for (int k = 0; k < rows.count[static_cast<std::size_t>(y)]; ++k) {
      const int sy = rows.first[static_cast<std::size_t>(y)] + k;
      if (sy != narrowRow) {
        const std::uint8_t* line = src + static_cast<std::size_t>(sy) * sw * 3;
        const std::uint32_t* w = cols.weights.data();
        for (int x = 0; x < dw; ++x) {
          const std::uint8_t* p = line + static_cast<std::size_t>(cols.first[x]) * 3;
          std::uint32_t r = 0, g = 0, b = 0;
          for (int n = cols.count[static_cast<std::size_t>(x)]; n > 0; --n, ++w, p += 3) {
            r += *w * p[0];
            g += *w * p[1];
            b += *w * p[2];
          }
          std::uint32_t* out = &narrow[static_cast<std::size_t>(x) * 3];
          out[0] = (r + 8) >> 4;
          out[1] = (g + 8) >> 4;
          out[2] = (b + 8) >> 4;
        }
        narrowRow = sy;
      }
      const std::uint32_t w = rows.weights[rowWeight + static_cast<std::size_t>(k)];
      for (std::size_t i = 0; i < rowLen; ++i) acc[i] += w * narrow[i];
    }
    rowWeight += static_cast<std::size_t>(rows.count[static_cast<std::size_t>(y)]);
    std::uint8_t* out = dst + static_cast<std::size_t>(y) * rowLen;
    for (std::size_t i = 0; i < rowLen; ++i)
      out[i] = static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (acc[i] + (1u << 19)) >> 20));
  }
}

// Packed RGB as a JPEG; false when the library refuses.
inline bool encodeRgb(const std::uint8_t* rgb, int w, int h, int quality, int subsamp,
                      std::vector<std::uint8_t>& out) {
  tjhandle enc = tjInitCompress();
  if (enc == nullptr) return false;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const bool ok = tjCompress2(enc, rgb, w, 0, h, TJPF_RGB, &jpeg, &size, subsamp, quality, 0) == 0;
  if (ok) out.assign(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(enc);
  return ok;
}

// The copy of a JPEG at most maxWidth px wide, aspect kept, made by the
// library's scaled decoding, which skips most of the work for small sizes:
// - a scale that gives between 90 % and 100 % of maxWidth is taken as it
//   is (3000 px at 1/2 gives a 1500 px screen copy: no shrink at all);
// - otherwise the smallest scale still at least maxWidth wide, shrunk to
//   maxWidth by area averaging (3000 px at 1/8 is 375, shrunk to 320).
// A picture already narrow enough comes back as it is. False when the
// bytes are no JPEG the library can read.
inline bool scaleJpeg(const std::uint8_t* data, std::size_t size, int maxWidth, int quality,
                      std::vector<std::uint8_t>& out) {
  if (data == nullptr || size == 0 || maxWidth <= 0) return false;
  tjhandle dec = tjInitDecompress();
  if (dec == nullptr) return false;
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  const auto len = static_cast<unsigned long>(size);
  bool ok =
      tjDecompressHeader3(dec, data, len, &w, &h, &subsamp, &colorspace) == 0 && w > 0 && h > 0;
  if (ok && w <= maxWidth) {
    tjDestroy(dec);
    out.assign(data, data + size);
    return true;
  }
  int count = 0;
  const tjscalingfactor* factors = ok ? tjGetScalingFactors(&count) : nullptr;
  int overW = w, overH = h, fitW = 0, fitH = 0;
  for (int i = 0; i < count; ++i) {
    const int fw = TJSCALED(w, factors[i]), fh = TJSCALED(h, factors[i]);
    if (fw >= maxWidth && fw < overW) overW = fw, overH = fh;
    if (fw <= maxWidth && fw > fitW) fitW = fw, fitH = fh;
  }
  const bool fits = fitW * 10 >= maxWidth * 9;
  const int sw = fits ? fitW : overW, sh = fits ? fitH : overH;
  // A header claiming a giant picture must not cost gigabytes.
  if (static_cast<long long>(sw) * sh > 100LL * 1000 * 1000) ok = false;
  std::vector<std::uint8_t> decoded;
  if (ok) {
    decoded.resize(static_cast<std::size_t>(sw) * sh * 3);
    ok = tjDecompress2(dec, data, len, decoded.data(), sw, 0, sh, TJPF_RGB, 0) == 0;
  }
  tjDestroy(dec);
  if (!ok) return false;

  int dw = sw, dh = sh;
  std::vector<std::uint8_t> small;
  if (!fits) {
    dw = maxWidth;
    dh = std::min(sh, std::max(1, static_cast<int>((static_cast<long long>(h) * dw + w / 2) / w)));
    small.resize(static_cast<std::size_t>(dw) * dh * 3);
    shrinkRgb(decoded.data(), sw, sh, small.data(), dw, dh);
  }
  return encodeRgb(fits ? decoded.data() : small.data(), dw, dh, quality, TJSAMP_420, out);
}

}  // namespace jpegscale
