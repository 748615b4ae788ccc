// What the virtual camera looks at: a panorama around the head, either a
// synthetic test scene or a photo, sampled by world angle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcam {

// World coordinates are degrees: x is pan (wraps at +-180), y is tilt (up
// positive). Colours are display-encoded RGB of the scene as lit, before the
// camera's exposure. Immutable after load: thread-safe for reads.
class Scene {
 public:
  // The synthetic test scene.
  Scene() = default;
  // A photo, laid over the world around the home position so that it covers
  // coverW x coverH degrees (scaled to cover, cropped); beyond it the photo
  // repeats mirrored. False when the file cannot be read as a JPEG.
  bool loadPhoto(const std::string& path, double coverW, double coverH, std::string& error);

  void sample(double x, double y, std::uint8_t rgb[3]) const;

  // Where the moving ball is at time t (seconds); its radius in degrees.
  static void ballAt(double t, double& x, double& y, double& radius);
  static void ballColour(double dx, double dy, double radius, std::uint8_t rgb[3]);

 private:
  void samplePhoto(double x, double y, std::uint8_t rgb[3]) const;
  static void sampleSynthetic(double x, double y, std::uint8_t rgb[3]);

  bool photo_ = false;
  int photoW_ = 0, photoH_ = 0;
  double photoPxPerDeg_ = 1;
  std::vector<std::uint8_t> photoRgb_;
};

}  // namespace vcam
