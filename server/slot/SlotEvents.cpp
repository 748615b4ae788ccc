// The "exposure" event: what the camera reads back after a change.
#include <nlohmann/json.hpp>

#include "server/slot/CameraSlot.h"

namespace {

std::string oneLine(const nlohmann::ordered_json& data) {
  return data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

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
