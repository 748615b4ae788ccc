// The scene's content: a test chart at the home position (grey ramps,
// colour and skin patches, a star and line gratings for focus peaking),
// sky, ground and numbered posts every 30 degrees of pan.
#include "vcam/Scene.h"

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "vcam/Font.h"

namespace vcam {

namespace {

constexpr double kPi = 3.14159265358979323846;

inline void set(std::uint8_t rgb[3], int r, int g, int b) {
  rgb[0] = static_cast<std::uint8_t>(r);
  rgb[1] = static_cast<std::uint8_t>(g);
  rgb[2] = static_cast<std::uint8_t>(b);
}

inline std::uint32_t hash2(int a, int b) {
  std::uint32_t h =
      static_cast<std::uint32_t>(a) * 374761393u + static_cast<std::uint32_t>(b) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

// Text with its top-left corner at (x0, y0), each font pixel cell degrees wide.
bool textInk(const char* text, double x0, double y0, double cell, double x, double y) {
  if (y > y0 || y < y0 - kGlyphH * cell || x < x0) return false;
  int col = static_cast<int>((x - x0) / cell);
  int row = static_cast<int>((y0 - y) / cell);
  int index = col / (kGlyphW + 1);
  for (int i = 0; i < index; ++i)
    if (!text[i]) return false;
  char c = text[index];
  if (!c) return false;
  return glyphPixel(c, col % (kGlyphW + 1), row);
}

double textWidth(const char* text, double cell) {
  int n = 0;
  while (text[n]) ++n;
  return (n * (kGlyphW + 1) - 1) * cell;
}

// The chart on its board, centred on the home position. False outside it.
bool chart(double x, double y, std::uint8_t rgb[3]) {
  if (x < -22 || x > 22 || y < -14 || y > 14) return false;
  if (x < -21.6 || x > 21.6 || y < -13.6 || y > 13.6) {
    set(rgb, 30, 30, 32);  // frame
    return true;
  }
  set(rgb, 118, 118, 118);  // 18% grey board
  if (x >= -20 && x <= 20) {
    if (y >= 8.5 && y <= 12.5) {  // continuous ramp, black to white
      int v = static_cast<int>((x + 20) / 40 * 255.0 + 0.5);
      set(rgb, v, v, v);
      return true;
    }
    if (y >= 5.5 && y <= 7.8) {  // eleven steps
      int step = std::min(10, static_cast<int>((x + 20) / 40 * 11));
      int v = step * 255 / 10;
      set(rgb, v, v, v);
      return true;
    }
    if (y >= -2.5 && y <= 4.5) {  // colour patches and skin
      static const int patches[8][3] = {{200, 40, 42},   {46, 160, 64},  {44, 64, 190},
                                        {40, 170, 192},  {190, 52, 160}, {232, 202, 44},
                                        {206, 152, 126}, {236, 236, 236}};
      double pos = (x + 20) / 5.0;
      int i = std::min(7, static_cast<int>(pos));
      if (pos - i > 0.08 && pos - i < 0.92) set(rgb, patches[i][0], patches[i][1], patches[i][2]);
      return true;
    }
  }
  if (y >= -12.5 && y <= -4) {
    double cx = -14.5, cy = -8.25, dx = x - cx, dy = y - cy;
    double r = std::sqrt(dx * dx + dy * dy);
    if (r <= 4.1) {  // Siemens star, 36 spokes
      double a = std::atan2(dy, dx);
      bool ink = static_cast<int>(std::floor(a / (kPi / 18.0))) & 1;
      int v = ink ? 12 : 240;
      set(rgb, v, v, v);
      return true;
    }
    if (x >= -9.5 && x <= -5) {  // vertical lines, ~2 px pitch in a 1024-wide view
      int v = (static_cast<int>(std::floor(x / 0.06)) & 1) ? 14 : 242;
      set(rgb, v, v, v);
      return true;
    }
    if (x >= -4.5 && x <= 0) {  // horizontal lines, coarser
      int v = (static_cast<int>(std::floor(y / 0.12)) & 1) ? 14 : 242;
      set(rgb, v, v, v);
      return true;
    }
    if (x >= 1 && x <= 20.5 && y >= -7.5 && textInk("KAMORA VCAM", 1.5, -4.4, 0.28, x, y)) {
      set(rgb, 245, 245, 245);
      return true;
    }
  }
  return true;
}

}  // namespace

void Scene::sampleSynthetic(double x, double y, std::uint8_t rgb[3]) {
  x = std::fmod(x + 180.0, 360.0);
  if (x < 0) x += 360.0;
  x -= 180.0;
  if (chart(x, y, rgb)) return;

  // Numbered posts every 30 degrees of pan, away from the chart.
  double k = std::round(x / 30.0);
  int deg = static_cast<int>(k) * 30;
  if (deg == -180) deg = 180;
  double px = x - k * 30.0;
  if (deg != 0) {
    char label[8];
    std::snprintf(label, sizeof label, "%d", deg);
    double w = textWidth(label, 0.5);
    if (std::fabs(px) <= w / 2 + 1.0 && y >= 8 && y <= 13.5) {
      if (textInk(label, -w / 2, 12.5, 0.5, px, y))
        set(rgb, 20, 20, 24);
      else
        set(rgb, 228, 226, 218);
      return;
    }
    if (std::fabs(px) <= 0.6 && y >= -12 && y < 8) {
      set(rgb, 92, 64, 44);
      return;
    }
  }

  if (y >= 0) {  // sky: pale at the horizon, deeper overhead
    double t = std::min(1.0, y / 70.0);
    set(rgb, static_cast<int>(196 - 110 * t), static_cast<int>(214 - 76 * t),
        static_cast<int>(236 - 26 * t));
    // A few soft clouds.
    double c = std::sin(x * 0.21 + std::sin(y * 0.3)) * std::sin(y * 0.45 + x * 0.05);
    if (y > 14 && y < 40 && c > 0.55) {
      int add = static_cast<int>((c - 0.55) * 200);
      set(rgb, std::min(250, rgb[0] + add), std::min(250, rgb[1] + add),
          std::min(252, rgb[2] + add));
    }
    return;
  }
  // Ground: a field with coarse texture, darker towards the feet.
  std::uint32_t h = hash2(static_cast<int>(std::floor(x * 2)), static_cast<int>(std::floor(y * 2)));
  int n = static_cast<int>(h & 31) - 16;
  double t = std::min(1.0, -y / 60.0);
  set(rgb, std::max(0, static_cast<int>(118 - 40 * t) + n),
      std::max(0, static_cast<int>(128 - 30 * t) + n),
      std::max(0, static_cast<int>(78 - 30 * t) + n / 2));
}

void Scene::ballAt(double t, double& x, double& y, double& radius) {
  x = 11.0 + 7.5 * std::cos(t * 1.3);
  y = -9.5 + 2.2 * std::sin(t * 2.6);
  radius = 1.6;
}

void Scene::ballColour(double dx, double dy, double radius, std::uint8_t rgb[3]) {
  // Lit from the top left: a highlight makes its motion easy to follow.
  double hx = dx / radius + 0.35, hy = dy / radius - 0.35;
  double shade = 1.0 - 0.35 * std::sqrt(hx * hx + hy * hy);
  if (shade < 0.3) shade = 0.3;
  int glint = (hx * hx + hy * hy < 0.04) ? 60 : 0;
  set(rgb, std::min(255, static_cast<int>(226 * shade) + glint),
      std::min(255, static_cast<int>(70 * shade) + glint),
      std::min(255, static_cast<int>(36 * shade) + glint));
}

bool Scene::loadPhoto(const std::string& path, double coverW, double coverH, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "nao foi possivel ler " + path;
    return false;
  }
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  bool ok = tj && !bytes.empty() &&
            tjDecompressHeader3(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), &w, &h,
                                &subsamp, &colorspace) == 0 &&
            w > 0 && h > 0;
  if (ok) {
    photoRgb_.resize(static_cast<std::size_t>(w) * h * 3);
    ok = tjDecompress2(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), photoRgb_.data(),
                       w, 0, h, TJPF_RGB, 0) == 0;
  }
  if (tj) tjDestroy(tj);
  if (!ok) {
    error = path + " nao e um JPEG legivel";
    photoRgb_.clear();
    return false;
  }
  photo_ = true;
  photoW_ = w;
  photoH_ = h;
  // Scale so the photo covers the area in both directions; the excess is cropped.
  photoPxPerDeg_ = std::min(w / coverW, h / coverH);
  return true;
}

void Scene::samplePhoto(double x, double y, std::uint8_t rgb[3]) const {
  double px = photoW_ / 2.0 + x * photoPxPerDeg_ - 0.5;
  double py = photoH_ / 2.0 - y * photoPxPerDeg_ - 0.5;
  // Mirror beyond the edges so panning never runs out of picture.
  auto mirror = [](double v, int n) {
    double period = 2.0 * n;
    v = std::fmod(v, period);
    if (v < 0) v += period;
    if (v >= n) v = period - v - 1;
    return std::min(std::max(v, 0.0), n - 1.0);
  };
  px = mirror(px, photoW_);
  py = mirror(py, photoH_);
  int x0 = static_cast<int>(px), y0 = static_cast<int>(py);
  int x1 = std::min(x0 + 1, photoW_ - 1), y1 = std::min(y0 + 1, photoH_ - 1);
  double fx = px - x0, fy = py - y0;
  const std::uint8_t* p00 = &photoRgb_[(static_cast<std::size_t>(y0) * photoW_ + x0) * 3];
  const std::uint8_t* p01 = &photoRgb_[(static_cast<std::size_t>(y0) * photoW_ + x1) * 3];
  const std::uint8_t* p10 = &photoRgb_[(static_cast<std::size_t>(y1) * photoW_ + x0) * 3];
  const std::uint8_t* p11 = &photoRgb_[(static_cast<std::size_t>(y1) * photoW_ + x1) * 3];
  for (int c = 0; c < 3; ++c) {
    double top = p00[c] + (p01[c] - p00[c]) * fx;
    double bottom = p10[c] + (p11[c] - p10[c]) * fx;
    rgb[c] = static_cast<std::uint8_t>(top + (bottom - top) * fy + 0.5);
  }
}

void Scene::sample(double x, double y, std::uint8_t rgb[3]) const {
  if (photo_)
    samplePhoto(x, y, rgb);
  else
    sampleSynthetic(x, y, rgb);
}

}  // namespace vcam
