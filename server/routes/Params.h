// Conversions of the HTTP parameters' texts into the values the camera
// operations take; kept apart from the handlers so they can be checked alone.
#pragma once

#include <cstdint>
#include <string>

#include "vcsdk/VcTypes.h"

// Model text to the SDK's model code; any unknown text (the default "SB_A4"
// among them) is code 7.
VCSDK::VcCameraDeviceModelList modelFromName(const std::string& name);

// "ssh": only the text "1" turns SSH on.
bool sshFromText(const std::string& text);

// "iso": strtoul in base 10, cut to the 24 bits the camera keeps.
std::uint32_t isoFromText(const std::string& text);

// "num" of the preset routes: atoi, cut to 16 bits.
std::uint16_t presetFromText(const std::string& text);
