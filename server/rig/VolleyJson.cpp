// A volley's result as clients and the event log read it.
#include <nlohmann/json.hpp>

#include "server/rig/Volley.h"

namespace {

double millis(std::int64_t micros) { return static_cast<double>(micros) / 1000.0; }

}  // namespace

std::string volleyJson(const VolleyResult& result) {
  nlohmann::ordered_json cameras = nlohmann::ordered_json::array();
  for (const VolleyCameraResult& camera : result.cameras) {
    nlohmann::ordered_json one;
    one["id"] = camera.id;
    one["ok"] = camera.ok;
    if (camera.ok) {
      one["offset_ms"] = millis(camera.offsetUs);
    } else {
      one["error"] = camera.error;
    }
    if (camera.ok || !camera.files.empty()) one["files"] = camera.files;
    cameras.push_back(std::move(one));
  }
  nlohmann::ordered_json data;
  data["volley"] = result.number;
  data["spread_ms"] = millis(result.spreadUs);
  data["cameras"] = std::move(cameras);
  return data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
