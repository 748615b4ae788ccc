// The shutter-speed text grammar ("1/250" or "2"), shared by the command
// line and the HTTP API, and applying a set of exposure values.
#include "camera/Exposure.h"

#include <cstdlib>
#include <cstring>

#include "camera/CameraController.h"

namespace {

// atoi's reading (blanks, sign, digits, 0 without digits) without atoi's
// undefined behaviour on out-of-range text; only the low 16 bits are kept.
std::uint16_t low16(const char* text) {
  return static_cast<std::uint16_t>(std::strtol(text, nullptr, 10));
}

}  // namespace

void parseShutter(const char* text, std::uint16_t& numerator, std::uint16_t& denominator) {
  if (text == nullptr) text = "";
  const char* slash = std::strchr(text, '/');
  if (slash == nullptr) {
    numerator = low16(text);
    denominator = 1;
    return;
  }
  // strtol stops at the slash, so the text before it needs no copy.
  numerator = low16(text);
  denominator = low16(slash + 1);
}

void applyExposure(CameraController& controller, const Exposure& exposure) {
  if (exposure.hasIso) controller.setIso(exposure.iso & 0xFFFFFF);
  if (exposure.hasFNumber) controller.setFNumber(exposure.fNumber);
  if (exposure.hasShutter) controller.setShutterSpeed(exposure.shutterNum, exposure.shutterDen);
  if (exposure.hasEv) controller.setExposureBias(exposure.ev);
}
