// The bridge's hooks over the rig, the router and the volley engine.
#include "server/mqtt/ServerHooks.h"

#include <chrono>

#include "server/rig/Rig.h"
#include "server/rig/Volley.h"
#include "server/routes/CameraJson.h"
#include "server/routes/Router.h"

namespace {

std::int64_t wallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The volley's cameras as the order names them (unknown ones reported in
// their place), or every connected camera.
VolleyResult fire(Rig& rig, const std::optional<std::vector<std::string>>& ids, int shots,
                  std::int64_t atMs) {
  std::vector<VolleyCamera> cameras;
  std::vector<std::pair<std::size_t, std::string>> unknown;  // place among the asked, id
  if (!ids) {
    for (const std::shared_ptr<CameraSlot>& slot : rig.all()) {
      if (slot->health().view().state == CameraState::Connected) {
        cameras.push_back({slot->id(), slot});
      }
    }
  } else {
    for (const std::string& id : *ids) {
      if (std::shared_ptr<CameraSlot> slot = rig.find(id)) {
        cameras.push_back({id, slot});
      } else {
        unknown.emplace_back(cameras.size() + unknown.size(), id);
      }
    }
  }
  VolleyResult result = rig.volley().fire(cameras, shots, VolleyRelease{atMs});
  for (const auto& [place, id] : unknown) {
    VolleyCameraResult missing;
    missing.id = id;
    missing.error = "camera desconhecida";
    result.cameras.insert(result.cameras.begin() + static_cast<std::ptrdiff_t>(place), missing);
  }
  return result;
}

}  // namespace

BridgeHooks serverHooks(const Router& router, Rig& rig) {
  BridgeHooks hooks;
  hooks.cameras.cameraIds = [&rig] {
    std::vector<std::string> ids;
    for (const std::shared_ptr<CameraSlot>& slot : rig.all()) ids.push_back(slot->id());
    return ids;
  };
  hooks.cameras.cameraObject = [&rig](const std::string& id) -> std::string {
    const std::shared_ptr<CameraSlot> slot = rig.find(id);
    return slot ? jsonText(cameraJson(*slot, true)) : "";
  };
  hooks.route = [&router](const HttpRequest& request) { return router.handleTrusted(request); };
  hooks.volley = [&rig](const std::optional<std::vector<std::string>>& ids, int shots,
                        std::int64_t atMs) { return volleyJson(fire(rig, ids, shots, atMs)); };
  hooks.wallClockMs = wallClockMs;
  return hooks;
}
