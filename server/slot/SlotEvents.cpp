// The events the slot publishes for commands sent through it: pan/tilt
// commands and the exposure read back after a change.
#include <nlohmann/json.hpp>

#include "server/slot/CameraSlot.h"

namespace {

std::string oneLine(const nlohmann::ordered_json& data) {
  return data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void CameraSlot::publishPtz(const std::string& command, const nlohmann::ordered_json& values) {
  nlohmann::ordered_json data;
  data["command"] = command;
  if (values.is_object()) {
    for (const auto& item : values.items()) data[item.key()] = item.value();
  }
  events_.publish("ptz", oneLine(data));
}

void CameraSlot::publishExposure() {
  const std::optional<CameraSettings> settings = controller_.readSettings();
  if (!settings) return;
  nlohmann::ordered_json data;
  data["iso"] = settings->iso;
  data["fnumber"] = settings->fnumber;
  data["shutter"] = settings->shutter;
  data["ev"] = settings->ev;
  events_.publish("exposure", oneLine(data));
}
