// The body of "/properties": the camera's settings as one flat JSON object.
#pragma once

#include <optional>
#include <string>

#include "camera/CameraStatus.h"

// {"iso":..,"fnumber":..,"shutter":..,"ev":..,"mode":..,"focus":..,"wb":..,
// "kelvin":..,"battery":N} in that order, texts as UTF-8 (the em dash is not
// escaped); "{}" without settings. Never throws but for lack of memory.
std::string settingsJson(const std::optional<CameraSettings>& settings);
