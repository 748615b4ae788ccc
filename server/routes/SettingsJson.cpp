// The settings object of "/properties", written by the JSON library so every
// text is escaped as JSON wants it.
#include "server/routes/SettingsJson.h"

#include <nlohmann/json.hpp>

std::string settingsJson(const std::optional<CameraSettings>& settings) {
  if (!settings) return "{}";
  const CameraSettings& s = *settings;
  nlohmann::ordered_json object;
  object["iso"] = s.iso;
  object["fnumber"] = s.fnumber;
  object["shutter"] = s.shutter;
  object["ev"] = s.ev;
  object["mode"] = s.mode;
  object["focus"] = s.focus;
  object["wb"] = s.wb;
  object["kelvin"] = s.kelvin;
  object["battery"] = s.battery;
  // Our texts are valid UTF-8; should one ever not be, a replacement
  // character beats an exception in a request handler.
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
