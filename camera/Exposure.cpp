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

Exposure applyExposure(CameraController& controller, const Exposure& exposure) {
  Exposure applied = exposure;
  if (exposure.hasIso) applied.hasIso = controller.setIso(exposure.iso & 0xFFFFFF);
  if (exposure.hasFNumber) applied.hasFNumber = controller.setFNumber(exposure.fNumber);
  if (exposure.hasShutter) {
    applied.hasShutter = controller.setShutterSpeed(exposure.shutterNum, exposure.shutterDen);
  }
  if (exposure.hasEv) applied.hasEv = controller.setExposureBias(exposure.ev);
  return applied;
}
