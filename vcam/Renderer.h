// Turns the scene into pictures as the camera's settings would: live-view
// frames at the live-view size and stills at the still size, as JPEG.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "vcam/Scene.h"

namespace vcam {

struct ViewParams {
  double panDeg = 0, tiltDeg = 0;  // where the head points
  double stops = 0;                // exposure relative to the metered base
  double wbKelvin = 0;             // 0: auto white balance
};

struct Frame {
  std::vector<std::uint8_t> jpeg;
  std::uint32_t number = 0;
};

// Thread-safe. Live-view frames are rendered at most every frameInterval;
// requests in between share the last frame.
class Renderer {
 public:
  static constexpr double kHorizontalFov = 60.0;  // degrees, both sizes

  Renderer(const Scene& scene, int lvW, int lvH, int stillW, int stillH, bool logProfile,
           std::string label);
  ~Renderer();
  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  std::shared_ptr<const Frame> liveFrame(const ViewParams& view) EXCLUDES(liveMutex_);
  // Renders and encodes a fresh live-view frame regardless of the cache.
  std::shared_ptr<const Frame> renderLiveFrame(const ViewParams& view) EXCLUDES(liveMutex_);
  std::vector<std::uint8_t> still(const ViewParams& view) EXCLUDES(stillMutex_);

  std::chrono::milliseconds frameInterval{33};

 private:
  struct Lut {
    std::uint8_t c[3][256];
  };
  Lut makeLut(const ViewParams& view) const;
  void ensureTiles(int col0, int row0, int w, int h) REQUIRES(liveMutex_);
  void drawBall(std::vector<std::uint8_t>& rgb, int w, int h, double ppd, const ViewParams& view,
                const Lut& lut, double t) const;
  void drawOsd(std::vector<std::uint8_t>& rgb, int w, int h, std::uint32_t frameNo) const;
  std::vector<std::uint8_t> encode(void* tj, const std::vector<std::uint8_t>& rgb, int w, int h,
                                   int quality);
  double secondsSinceStart() const;

  const Scene& scene_;
  const int lvW_, lvH_, stillW_, stillH_;
  const bool log_;
  const std::string label_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

  // The panorama at live-view density, filled tile by tile on first sight;
  // its geometry is fixed at construction.
  double ppd_;
  double yTop_;
  int panoW_, panoH_;
  int tilesX_, tilesY_;

  Mutex liveMutex_;
  std::unique_ptr<std::uint8_t[]> pano_ GUARDED_BY(liveMutex_);
  std::vector<std::uint8_t> tileReady_ GUARDED_BY(liveMutex_);
  void* liveTj_ GUARDED_BY(liveMutex_) = nullptr;
  std::vector<std::uint8_t> work_ GUARDED_BY(liveMutex_);
  std::shared_ptr<const Frame> cached_ GUARDED_BY(liveMutex_);
  std::chrono::steady_clock::time_point cachedAt_ GUARDED_BY(liveMutex_);
  ViewParams cachedView_ GUARDED_BY(liveMutex_);
  std::uint32_t frameNo_ GUARDED_BY(liveMutex_) = 0;

  Mutex stillMutex_;
  void* stillTj_ GUARDED_BY(stillMutex_) = nullptr;
};

}  // namespace vcam
