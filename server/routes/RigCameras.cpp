// Reading the "cameras" of a rig request.
#include "server/routes/RigCameras.h"

#include "server/rig/Rig.h"

bool camerasFor(const HttpRequest& request, Rig& rig, std::vector<VolleyCamera>& out) {
  if (!request.hasParam("cameras")) {
    for (const std::shared_ptr<CameraSlot>& slot : rig.all()) {
      if (slot->health().view().state == CameraState::Connected) out.push_back({slot->id(), slot});
    }
    return true;
  }
  const std::string list = request.param("cameras", "");
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = list.find(',', from);
    const std::string id = list.substr(from, comma == std::string::npos ? comma : comma - from);
    std::shared_ptr<CameraSlot> slot = rig.find(id);
    if (!slot) return false;
    out.push_back({id, std::move(slot)});
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}
