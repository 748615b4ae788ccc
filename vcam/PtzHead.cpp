// Pan/tilt head motion: continuous speeds and target moves advance lazily,
// from the time of the last access, so no timer thread is needed.
#include "vcam/PtzHead.h"

#include <algorithm>
#include <cmath>

namespace vcam {

using namespace VCSDK;

void PtzHead::advanceAxis(double& pos, Motion& m, double dt, double lo, double hi) {
  if (m.kind == Motion::Continuous) {
    pos += m.speed * dt;
    if (pos <= lo || pos >= hi) {
      // A real head stops at its end stop rather than wrapping around.
      pos = std::clamp(pos, lo, hi);
      m = Motion();
    }
  } else if (m.kind == Motion::Target) {
    double step = m.speed * dt;
    double diff = m.target - pos;
    if (std::fabs(diff) <= step) {
      pos = m.target;
      m = Motion();
    } else {
      pos += diff > 0 ? step : -step;
    }
  }
}

double PtzHead::speedOf(const Motion& m, double pos) {
  if (m.kind == Motion::Continuous) return m.speed / 10.0;
  if (m.kind == Motion::Target) return (m.target >= pos ? m.speed : -m.speed) / 10.0;
  return 0;
}

void PtzHead::advanceLocked(Clock::time_point now) {
  double dt = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  if (dt <= 0) return;
  advanceAxis(pan_, panMotion_, dt, kPanMin, kPanMax);
  advanceAxis(tilt_, tiltMotion_, dt, kTiltMin, kTiltMax);
}

void PtzHead::moveToLocked(double pan, double tilt, int speedDeg) {
  panMotion_ = Motion{Motion::Target, speedDeg * 10.0, pan};
  tiltMotion_ = Motion{Motion::Target, speedDeg * 10.0, tilt};
}

VcStatus PtzHead::control(std::uint32_t type, const Axis* pan, const Axis* tilt) {
  MutexLock lock(mutex_);
  advanceLocked(Clock::now());
  auto inRange = [](std::int32_t v, int lo, int hi) { return v >= lo && v <= hi; };
  switch (type) {
    case VcPTZFControl_Continuous: {
      if (!pan || !tilt) return VcError_InvalidParameter;
      if (!pan->enable && !tilt->enable) return VcError_InvalidParameter;
      if ((pan->enable && !inRange(pan->speed, -kMaxSpeed, kMaxSpeed)) ||
          (tilt->enable && !inRange(tilt->speed, -kMaxSpeed, kMaxSpeed)))
        return VcError_PtzRefused;
      // Speed 0 on an enabled axis holds it; a disabled axis keeps its motion.
      if (pan->enable)
        panMotion_ = pan->speed ? Motion{Motion::Continuous, pan->speed * 10.0, 0} : Motion();
      if (tilt->enable)
        tiltMotion_ = tilt->speed ? Motion{Motion::Continuous, tilt->speed * 10.0, 0} : Motion();
      return VcError_None;
    }
    case VcPTZFControl_Absolute:
    case VcPTZFControl_Relative: {
      if (!pan || !tilt) return VcError_InvalidParameter;
      if (!pan->enable && !tilt->enable) return VcError_InvalidParameter;
      bool relative = type == VcPTZFControl_Relative;
      double panTarget = relative ? pan_ + pan->position : pan->position;
      double tiltTarget = relative ? tilt_ + tilt->position : tilt->position;
      if ((pan->enable &&
           (panTarget < kPanMin || panTarget > kPanMax || !inRange(pan->speed, 1, kMaxSpeed))) ||
          (tilt->enable &&
           (tiltTarget < kTiltMin || tiltTarget > kTiltMax || !inRange(tilt->speed, 1, kMaxSpeed))))
        return VcError_PtzRefused;
      if (pan->enable) panMotion_ = Motion{Motion::Target, pan->speed * 10.0, panTarget};
      if (tilt->enable) tiltMotion_ = Motion{Motion::Target, tilt->speed * 10.0, tiltTarget};
      return VcError_None;
    }
    case VcPTZFControl_Home:
    case VcPTZFControl_Reset:
      moveToLocked(0, 0, kHomeSpeed);
      return VcError_None;
    case VcPTZFControl_Stop:
      panMotion_ = Motion();
      tiltMotion_ = Motion();
      return VcError_None;
    default:
      return VcError_NotSupported;
  }
}

VcStatus PtzHead::presetSet(int number) {
  if (number < 1 || number > kMaxPreset) return VcError_InvalidParameter;
  MutexLock lock(mutex_);
  advanceLocked(Clock::now());
  presets_[number] = {static_cast<int>(std::lround(pan_)), static_cast<int>(std::lround(tilt_))};
  return VcError_None;
}

VcStatus PtzHead::presetRecall(int number) {
  MutexLock lock(mutex_);
  advanceLocked(Clock::now());
  auto it = presets_.find(number);
  if (it == presets_.end()) return VcError_PresetNotFound;
  moveToLocked(it->second.first, it->second.second, kHomeSpeed);
  return VcError_None;
}

VcStatus PtzHead::presetClear(int number) {
  MutexLock lock(mutex_);
  return presets_.erase(number) ? VcError_None : VcError_PresetNotFound;
}

PtzHead::Snapshot PtzHead::snapshot() {
  MutexLock lock(mutex_);
  advanceLocked(Clock::now());
  Snapshot s;
  s.pan = pan_;
  s.tilt = tilt_;
  s.panSpeed = speedOf(panMotion_, pan_);
  s.tiltSpeed = speedOf(tiltMotion_, tilt_);
  s.presets = presets_;
  return s;
}

}  // namespace vcam
