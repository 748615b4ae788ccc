// The settings read-out: the camera's current settings as the texts people
// read, built from the properties the camera reported; split from the SDK
// request so it can be checked alone. Plain values: copy them freely.
#pragma once

#include <cstdint>
#include <string>

#include "vcsdk/VcObjects.h"

// Each text is the em dash (U+2014, in UTF-8) when the camera did not report
// the value; battery is -1 then.
struct CameraSettings {
  std::string iso;      // "AUTO", "400"
  std::string fnumber;  // "f/2.8"
  std::string shutter;  // "1/250", "30\"" (whole seconds), "13/10", "BULB"
  std::string ev;       // "+0.3", "-1.0"
  std::string mode;     // exposure program: "M", "Auto+", ...
  std::string focus;    // "AF-S", ...
  std::string wb;       // "Daylight", ...; "Outro" for a value without a name
  std::string kelvin;   // "5600K"
  long long battery = -1;
};

// The settings for the given property array (count entries; a null array or
// a count of 0 reads as "nothing reported"). The first entry with a code wins.
CameraSettings settingsFromProperties(const VCSDK::VcDeviceProperty* properties,
                                      std::int32_t count);

// The read-out's texts for a shutter (numerator << 16 | denominator) and a
// compensation in thousandths of an EV.
std::string shutterText(std::uint32_t raw);
std::string evText(int milli);
