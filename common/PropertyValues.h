// Named values of the camera properties that carry a choice rather than a
// number: exposure program, focus mode and white balance, with the short name
// the settings read-out shows for each. Immutable: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// VcDeviceProperty_ExposureProgramMode.
namespace exposure_program {
constexpr std::uint32_t kM = 1, kP = 2, kA = 3, kS = 4, kAuto = 0x8000, kAutoPlus = 0x8001;
}

// VcDeviceProperty_FocusMode.
namespace focus_mode {
constexpr std::uint32_t kMF = 1, kAFS = 2, kAFC = 3, kAFA = 4, kAFD = 5, kDMF = 6, kPF = 7;
}

// VcDeviceProperty_WhiteBalance (kKelvin: the colour temperature property
// decides).
namespace white_balance {
constexpr std::uint32_t kAuto = 0, kDaylight = 0x11, kShade = 0x12, kCloudy = 0x13,
                        kTungsten = 0x14, kKelvin = 0x100;
}

struct NamedValue {
  std::uint32_t value;
  const char* name;
};

// Every value a camera offers for one property, with its name.
class ValueNames {
 public:
  template <std::size_t N>
  constexpr explicit ValueNames(const NamedValue (&rows)[N]) : rows_(rows), count_(N) {}

  // The value's name; null for a value the camera does not offer.
  const char* nameOf(std::uint64_t value) const;
  bool offers(std::uint64_t value) const { return nameOf(value) != nullptr; }

 private:
  const NamedValue* rows_;
  std::size_t count_;
};

extern const ValueNames kExposurePrograms;
extern const ValueNames kFocusModes;
extern const ValueNames kWhiteBalances;
