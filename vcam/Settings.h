// The settings a virtual body holds, and the values it accepts for each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/PropertyValues.h"
#include "vcsdk/VcTypes.h"

namespace vcam {

// Raw values as the SDK carries them (see VcTypes.h for the encodings).
// Plain value type; the owner locks.
struct Settings {
  std::uint32_t iso = 100;
  std::uint32_t fnumber = 560;      // x 100
  std::uint32_t shutter = 0x1007D;  // 1/125
  int ev = 0;                       // EV x 1000, signed
  std::uint32_t mode = exposure_program::kM;
  std::uint32_t focus = focus_mode::kAFS;
  std::uint32_t wb = white_balance::kAuto;
  std::uint32_t kelvin = 5600;
  std::uint32_t priorityKey = VCSDK::VcPriorityKey_CameraPosition;
  std::uint32_t storeDestination = VCSDK::VcStillImageStore_Camera;
  std::uint32_t liveViewStatus = 1;
};

// The f-number range of the lens a model ships with, x 100.
struct Lens {
  std::uint32_t widest;
  std::uint32_t narrowest;
};
Lens lensForModel(const std::string& model);
bool modelHasHead(const std::string& model);

// Checks a value sent for code and stores it. Returns 0, or the body's
// refusal: PropertyInvalidValue for a value the body does not offer,
// PropertyUnsupported for an unknown code, PropertyRefused for a read-only one.
VCSDK::VcStatus applySetting(Settings& s, const Lens& lens, std::uint32_t code,
                             std::uint64_t value);

struct PropertyValue {
  std::uint32_t code;
  VCSDK::VcDataType type;
  std::uint64_t value;
};
// The current value of code; false when the body has no such property.
bool readSetting(const Settings& s, int battery, std::uint32_t code, PropertyValue& out);

// Exposure relative to the metered base (ISO 100, f/5.6, 1/125 s), in stops:
// positive is brighter. Auto ISO meters itself and contributes nothing.
double exposureOffsetStops(const Settings& s);
// The kelvin the body's white balance assumes (0: auto, adapts to the scene).
double whiteBalanceKelvin(const Settings& s);

const std::vector<std::uint32_t>& isoValues();
const std::vector<std::uint32_t>& fnumberThirdStops();

}  // namespace vcam
