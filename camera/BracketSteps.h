// A bracket as data: for the exposure a camera has now, the setting each
// offset moves and to what. In M the shutter moves along the body's
// third-stop scale (an offset of +1 is three speeds longer); in every other
// mode the exposure compensation moves, in third stops. Plain values.
#pragma once

#include <string>
#include <vector>

#include "camera/Exposure.h"

struct BracketStep {
  double ev = 0;        // the offset asked for
  Exposure set;         // what to send for it
  std::string applied;  // that setting as the read-out shows it: "1/500", "-2.0"
  std::string error;    // when not empty the step cannot be shot: why
};

std::vector<BracketStep> bracketSteps(const ExposureNow& base, const std::vector<double>& offsets);
// What puts back the setting the steps move.
Exposure bracketRestore(const ExposureNow& base);
// True when the camera did not take the setting a step asked for (took:
// what applyExposure says it applied).
bool stepRefused(const Exposure& asked, const Exposure& took);
