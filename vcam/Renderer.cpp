// Live view from a panorama cached tile by tile (a frame is a crop plus one
// table look-up per channel), stills sampled straight from the scene.
#include "vcam/Renderer.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vcam/Font.h"
#include "vcam/PtzHead.h"

namespace vcam {

namespace {

constexpr int kTile = 128;
constexpr double kSceneKelvin = 5600.0;  // the light the scene is lit by

double srgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double v) {
  return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

// Wraps a pan difference into [-180, 180).
double wrapDeg(double d) {
  d = std::fmod(d + 180.0, 360.0);
  if (d < 0) d += 360.0;
  return d - 180.0;
}

// Writes the render time into a comment segment right after the start of
// image, so that a viewer can measure the delay from the camera to itself
// without trusting any stamp added on the way.
void stampRenderTime(std::vector<std::uint8_t>& jpeg, std::chrono::system_clock::time_point at) {
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return;
  const long long micros =
      std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
  char text[64];
  const int n = std::snprintf(text, sizeof text, "kamora-vcam render %lld.%06lld", micros / 1000000,
                              micros % 1000000);
  const std::size_t length = static_cast<std::size_t>(n) + 2;  // counts its own two bytes
  const std::uint8_t head[] = {0xFF, 0xFE, static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(length & 0xFF)};
  std::vector<std::uint8_t> segment(head, head + sizeof head);
  segment.insert(segment.end(), text, text + n);
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
}

}  // namespace

Renderer::Renderer(const Scene& scene, int lvW, int lvH, int stillW, int stillH, bool logProfile,
                   std::string label)
    : scene_(scene),
      lvW_(lvW),
      lvH_(lvH),
      stillW_(stillW),
      stillH_(stillH),
      log_(logProfile),
      label_(std::move(label)) {
  ppd_ = lvW_ / kHorizontalFov;
  double vfov = lvH_ / ppd_;
  yTop_ = PtzHead::kTiltMax / 10.0 + vfov / 2 + 1;
  double yBottom = PtzHead::kTiltMin / 10.0 - vfov / 2 - 1;
  panoW_ = static_cast<int>(std::lround(360.0 * ppd_));
  panoH_ = static_cast<int>(std::ceil((yTop_ - yBottom) * ppd_));
  tilesX_ = (panoW_ + kTile - 1) / kTile;
  tilesY_ = (panoH_ + kTile - 1) / kTile;
  // Left uninitialised on purpose: pages are touched only where the head looks.
  pano_.reset(new std::uint8_t[static_cast<std::size_t>(panoW_) * panoH_ * 3]);
  tileReady_.assign(static_cast<std::size_t>(tilesX_) * tilesY_, 0);
  liveTj_ = tjInitCompress();
  stillTj_ = tjInitCompress();
}

Renderer::~Renderer() {
  if (liveTj_) tjDestroy(static_cast<tjhandle>(liveTj_));
  if (stillTj_) tjDestroy(static_cast<tjhandle>(stillTj_));
}

double Renderer::secondsSinceStart() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

Renderer::Lut Renderer::makeLut(const ViewParams& view) const {
  Lut lut;
  double gain[3] = {1, 1, 1};
  if (view.wbKelvin > 0) {
    // A body set warmer than the light renders the scene warm, and the reverse.
    double ratio = view.wbKelvin / kSceneKelvin;
    gain[0] = std::pow(ratio, 0.9);
    gain[2] = std::pow(ratio, -0.9);
    gain[1] = 1.0;
  }
  double exposure = std::pow(2.0, view.stops);
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) {
      double x = srgbToLinear(v / 255.0) * exposure * gain[c];
      double out;
      if (log_) {
        // Flat: 18% grey near 41%, 7.5% per stop, lifted blacks, soft whites.
        out = 0.41 + 0.075 * std::log2(std::max(x, 1e-6) / 0.18);
        out = std::min(0.94, std::max(0.06, out));
      } else {
        // Highlights roll off instead of clipping hard.
        if (x > 0.8) x = 0.8 + 0.2 * (1.0 - std::exp(-(x - 0.8) / 0.2));
        out = linearToSrgb(std::min(1.0, std::max(0.0, x)));
      }
      lut.c[c][v] = static_cast<std::uint8_t>(std::lround(out * 255.0));
    }
  }
  return lut;
}

void Renderer::ensureTiles(int col0, int row0, int w, int h) {
  int ty0 = row0 / kTile, ty1 = (row0 + h - 1) / kTile;
  for (int ty = ty0; ty <= ty1 && ty < tilesY_; ++ty) {
    for (int cx = col0 / kTile; cx <= (col0 + w - 1) / kTile; ++cx) {
      int tx = cx % tilesX_;
      std::uint8_t& ready = tileReady_[static_cast<std::size_t>(ty) * tilesX_ + tx];
      if (ready) continue;
      int xEnd = std::min(panoW_, (tx + 1) * kTile), yEnd = std::min(panoH_, (ty + 1) * kTile);
      for (int y = ty * kTile; y < yEnd; ++y) {
        double wy = yTop_ - (y + 0.5) / ppd_;
        std::uint8_t* row = &pano_[static_cast<std::size_t>(y) * panoW_ * 3];
        for (int x = tx * kTile; x < xEnd; ++x)
          scene_.sample((x + 0.5) / ppd_ - 180.0, wy, row + x * 3);
      }
      ready = 1;
    }
  }
}

void Renderer::drawBall(std::vector<std::uint8_t>& rgb, int w, int h, double ppd,
                        const ViewParams& view, const Lut& lut, double t) const {
  double bx, by, br;
  Scene::ballAt(t, bx, by, br);
  double cx = wrapDeg(bx - view.panDeg) * ppd + w / 2.0;
  double cy = (view.tiltDeg - by) * ppd + h / 2.0;
  double rp = br * ppd;
  int x0 = std::max(0, static_cast<int>(cx - rp)),
      x1 = std::min(w - 1, static_cast<int>(cx + rp) + 1);
  int y0 = std::max(0, static_cast<int>(cy - rp)),
      y1 = std::min(h - 1, static_cast<int>(cy + rp) + 1);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      double dx = (x + 0.5 - cx) / ppd, dy = (cy - y - 0.5) / ppd;
      if (dx * dx + dy * dy > br * br) continue;
      std::uint8_t c[3];
      Scene::ballColour(dx, dy, br, c);
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      for (int k = 0; k < 3; ++k) p[k] = lut.c[k][c[k]];
    }
  }
}

void Renderer::drawOsd(std::vector<std::uint8_t>& rgb, int w, int h, std::uint32_t frameNo) const {
  char text[64];
  std::snprintf(text, sizeof text, "%s %s#%06u", label_.c_str(), log_ ? "LOG " : "", frameNo);
  int scale = std::max(1, h / 200);
  int len = static_cast<int>(std::strlen(text));
  int boxW = (len * (kGlyphW + 1) + 2) * scale, boxH = (kGlyphH + 4) * scale;
  for (int y = 0; y < boxH && y < h; ++y) {
    for (int x = 0; x < boxW && x < w; ++x) {
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      int gx = x / scale - 1, gy = y / scale - 2;
      bool ink = gx >= 0 && gy >= 0 && gx / (kGlyphW + 1) < len &&
                 glyphPixel(text[gx / (kGlyphW + 1)], gx % (kGlyphW + 1), gy);
      std::uint8_t v = ink ? 240 : 16;
      p[0] = p[1] = p[2] = v;
    }
  }
}

std::vector<std::uint8_t> Renderer::encode(void* tj, const std::vector<std::uint8_t>& rgb, int w,
                                           int h, int quality) {
  unsigned char* out = nullptr;
  unsigned long size = 0;
  std::vector<std::uint8_t> jpeg;
  if (tj && tjCompress2(static_cast<tjhandle>(tj), rgb.data(), w, 0, h, TJPF_RGB, &out, &size,
                        TJSAMP_420, quality, TJFLAG_FASTDCT) == 0)
    jpeg.assign(out, out + size);
  if (out) tjFree(out);
  return jpeg;
}

std::shared_ptr<const Frame> Renderer::liveFrame(const ViewParams& view) {
  {
    MutexLock lock(liveMutex_);
    // A change of exposure or white balance shows in the very next frame.
    if (cached_ && std::chrono::steady_clock::now() - cachedAt_ < frameInterval &&
        cachedView_.stops == view.stops && cachedView_.wbKelvin == view.wbKelvin)
      return cached_;
  }
  return renderLiveFrame(view);
}

std::shared_ptr<const Frame> Renderer::renderLiveFrame(const ViewParams& view) {
  MutexLock lock(liveMutex_);
  const int w = lvW_, h = lvH_;
  const auto renderedAt = std::chrono::system_clock::now();
  Lut lut = makeLut(view);
  int col0 = static_cast<int>(std::lround((view.panDeg + 180.0) * ppd_ - w / 2.0));
  col0 = ((col0 % panoW_) + panoW_) % panoW_;
  int row0 = static_cast<int>(std::lround((yTop_ - view.tiltDeg) * ppd_ - h / 2.0));
  row0 = std::max(0, std::min(panoH_ - h, row0));
  ensureTiles(col0, row0, w, h);

  work_.resize(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = &pano_[static_cast<std::size_t>(row0 + y) * panoW_ * 3];
    std::uint8_t* dst = &work_[static_cast<std::size_t>(y) * w * 3];
    int col = col0;
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = src + col * 3;
      dst[0] = lut.c[0][p[0]];
      dst[1] = lut.c[1][p[1]];
      dst[2] = lut.c[2][p[2]];
      dst += 3;
      if (++col == panoW_) col = 0;
    }
  }
  drawBall(work_, w, h, ppd_, view, lut, secondsSinceStart());
  auto frame = std::make_shared<Frame>();
  frame->number = ++frameNo_;
  drawOsd(work_, w, h, frame->number);
  frame->jpeg = encode(liveTj_, work_, w, h, 85);
  stampRenderTime(frame->jpeg, renderedAt);
  cached_ = frame;
  cachedView_ = view;
  cachedAt_ = std::chrono::steady_clock::now();
  return cached_;
}

std::vector<std::uint8_t> Renderer::still(const ViewParams& view) {
  const int w = stillW_, h = stillH_;
  const double ppd = w / kHorizontalFov;
  Lut lut = makeLut(view);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    double wy = view.tiltDeg + (h / 2.0 - y - 0.5) / ppd;
    std::uint8_t* dst = &rgb[static_cast<std::size_t>(y) * w * 3];
    for (int x = 0; x < w; ++x, dst += 3) {
      std::uint8_t c[3];
      scene_.sample(view.panDeg + (x + 0.5 - w / 2.0) / ppd, wy, c);
      dst[0] = lut.c[0][c[0]];
      dst[1] = lut.c[1][c[1]];
      dst[2] = lut.c[2][c[2]];
    }
  }
  drawBall(rgb, w, h, ppd, view, lut, secondsSinceStart());
  MutexLock lock(stillMutex_);
  return encode(stillTj_, rgb, w, h, 90);
}

}  // namespace vcam
