// The pan/tilt head of a virtual PTZ body: positions, speeds and presets,
// integrated over time on every access.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "common/ThreadAnnotations.h"
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
  VCSDK::VcStatus control(std::uint32_t type, const Axis* pan, const Axis* tilt) EXCLUDES(mutex_);
  VCSDK::VcStatus presetSet(int number) EXCLUDES(mutex_);
  VCSDK::VcStatus presetRecall(int number) EXCLUDES(mutex_);
  VCSDK::VcStatus presetClear(int number) EXCLUDES(mutex_);

  Snapshot snapshot() EXCLUDES(mutex_);

 private:
  struct Motion {
    enum Kind { Idle, Continuous, Target } kind = Idle;
    double speed = 0;   // tenths of a degree per second, signed for Continuous
    double target = 0;  // for Target
  };
  void advanceLocked(Clock::time_point now) REQUIRES(mutex_);
  static void advanceAxis(double& pos, Motion& m, double dt, double lo, double hi);
  static double speedOf(const Motion& m, double pos);
  void moveToLocked(double pan, double tilt, int speedDeg) REQUIRES(mutex_);

  Mutex mutex_;
  Clock::time_point last_ GUARDED_BY(mutex_) = Clock::now();
  double pan_ GUARDED_BY(mutex_) = 0;
  double tilt_ GUARDED_BY(mutex_) = 0;
  Motion panMotion_ GUARDED_BY(mutex_);
  Motion tiltMotion_ GUARDED_BY(mutex_);
  std::map<int, std::pair<int, int>> presets_ GUARDED_BY(mutex_);
};

}  // namespace vcam
