// The pan/tilt head of a virtual PTZ body: positions, speeds and presets,
// integrated over time on every access.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "vcsdk/VcTypes.h"

namespace vcam {

// Units: positions in tenths of a degree (pan -1700..1700, tilt -300..900),
// speeds in degrees per second (1..100; a continuous speed's sign gives the
// direction, 0 holds the axis). Thread-safe.
class PtzHead {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kPanMin = -1700, kPanMax = 1700;
  static constexpr int kTiltMin = -300, kTiltMax = 900;
  static constexpr int kMaxSpeed = 100;
  static constexpr int kHomeSpeed = 60;  // home and preset recall
  static constexpr int kMaxPreset = 100;

  struct Axis {
    bool enable = false;
    std::int32_t position = 0;
    std::int32_t speed = 0;
  };
  struct Snapshot {
    double pan = 0, tilt = 0;            // tenths of a degree
    double panSpeed = 0, tiltSpeed = 0;  // degrees per second, signed
    std::map<int, std::pair<int, int>> presets;
  };

  // Each returns 0 or the head's refusal code; a refused command changes nothing.
  VCSDK::VcStatus control(std::uint32_t type, const Axis* pan, const Axis* tilt);
  VCSDK::VcStatus presetSet(int number);
  VCSDK::VcStatus presetRecall(int number);
  VCSDK::VcStatus presetClear(int number);

  Snapshot snapshot();

 private:
  struct Motion {
    enum Kind { Idle, Continuous, Target } kind = Idle;
    double speed = 0;   // tenths of a degree per second, signed for Continuous
    double target = 0;  // for Target
  };
  void advanceLocked(Clock::time_point now);
  static void advanceAxis(double& pos, Motion& m, double dt, double lo, double hi);
  static double speedOf(const Motion& m, double pos);
  void moveToLocked(double pan, double tilt, int speedDeg);

  std::mutex mutex_;
  Clock::time_point last_ = Clock::now();
  double pan_ = 0, tilt_ = 0;
  Motion panMotion_, tiltMotion_;
  std::map<int, std::pair<int, int>> presets_;
};

}  // namespace vcam
