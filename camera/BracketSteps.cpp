// Steps in thirds of a stop: the scale a body's dials click along, so an
// offset lands on a setting the camera offers rather than between two.
#include "camera/BracketSteps.h"

#include <cmath>
#include <cstdlib>

#include "camera/CameraStatus.h"
#include "common/PropertyValues.h"
#include "common/ShutterScale.h"

namespace {

const char kOffScale[] = "fora da escala";
const char kUnread[] = "sem leitura";

bool manual(const ExposureNow& base) { return base.mode && *base.mode == exposure_program::kM; }

long thirdsOf(double ev) { return std::lround(ev * 3.0); }

// Thirds of an EV as the camera writes them: k.0, k.3, k.7 in thousandths.
int milliOfThirds(long thirds) {
  const long whole = std::labs(thirds) / 3, rest = std::labs(thirds) % 3;
  const int milli = static_cast<int>(whole * 1000 + (rest == 1 ? 300 : rest == 2 ? 700 : 0));
  return thirds < 0 ? -milli : milli;
}

// The setter truncates EV x 1000; half a thousandth away from zero makes
// sure it lands on milli and not one below.
double evForMilli(int milli) { return (milli + (milli < 0 ? -0.5 : 0.5)) / 1000.0; }

Exposure shutterSetting(shutter_scale::Speed speed) {
  Exposure e;
  e.hasShutter = true;
  e.shutterNum = speed.num;
  e.shutterDen = speed.den;
  return e;
}

Exposure evSetting(int milli) {
  Exposure e;
  e.hasEv = true;
  e.ev = evForMilli(milli);
  return e;
}

BracketStep shutterStep(const ExposureNow& base, double ev) {
  BracketStep step;
  step.ev = ev;
  const std::optional<std::size_t> at =
      base.shutter ? shutter_scale::indexOf(*base.shutter) : std::nullopt;
  if (!at) {
    step.error = base.shutter ? kOffScale : kUnread;
    return step;
  }
  // Longer is brighter: a positive offset moves up the scale.
  const long target = static_cast<long>(*at) + thirdsOf(ev);
  if (target < 0 || target >= static_cast<long>(shutter_scale::size())) {
    step.error = kOffScale;
    return step;
  }
  const shutter_scale::Speed speed = shutter_scale::at(static_cast<std::size_t>(target));
  step.set = shutterSetting(speed);
  step.applied = shutterText(shutter_scale::raw(speed));
  return step;
}

BracketStep compensationStep(const ExposureNow& base, double ev) {
  BracketStep step;
  step.ev = ev;
  if (!base.evMilli) {
    step.error = kUnread;
    return step;
  }
  const int milli = milliOfThirds(thirdsOf(*base.evMilli / 1000.0) + thirdsOf(ev));
  // Beyond what the body takes, the camera says so: its refusal is reported.
  step.set = evSetting(milli);
  step.applied = evText(milli);
  return step;
}

}  // namespace

std::vector<BracketStep> bracketSteps(const ExposureNow& base, const std::vector<double>& offsets) {
  std::vector<BracketStep> steps;
  for (double ev : offsets) {
    steps.push_back(manual(base) ? shutterStep(base, ev) : compensationStep(base, ev));
  }
  return steps;
}

Exposure bracketRestore(const ExposureNow& base) {
  if (manual(base)) {
    if (!base.shutter) return Exposure();
    Exposure e;
    e.hasShutter = true;
    e.shutterNum = static_cast<std::uint16_t>(*base.shutter >> 16);
    e.shutterDen = static_cast<std::uint16_t>(*base.shutter & 0xFFFF);
    return e;
  }
  return base.evMilli ? evSetting(*base.evMilli) : Exposure();
}

bool stepRefused(const Exposure& asked, const Exposure& took) {
  return (asked.hasShutter && !took.hasShutter) || (asked.hasEv && !took.hasEv);
}
