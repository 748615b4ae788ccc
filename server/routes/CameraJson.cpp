// The camera's state as clients read it: its health and its live view's age.
#include "server/routes/CameraJson.h"

#include <chrono>

#include "common/CameraModels.h"
#include "server/rig/Rig.h"
#include "server/slot/CameraSlot.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;

long long millisSince(Clock::time_point then, Clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count();
}

Json textOrNull(const std::optional<CameraRequest>& camera,
                const std::string CameraRequest::*field) {
  return camera ? Json((*camera).*field) : Json();
}

}  // namespace

Json cameraJson(CameraSlot& camera, bool withId) {
  const CameraHealthView health = camera.health().view();
  LiveFeed& feed = camera.feed();
  const LiveFrame frame = feed.latest();
  const bool feedRunning = feed.running();
  const Clock::time_point now = Clock::now();
  const CameraModel* model = health.camera ? findModelByCode(health.camera->model) : nullptr;

  Json body;
  if (withId) body["id"] = camera.id();
  body["state"] = cameraStateName(health.state);
  body["model"] = model != nullptr ? Json(model->name) : Json();
  body["ip"] = textOrNull(health.camera, &CameraRequest::ip);
  body["mac"] = textOrNull(health.camera, &CameraRequest::mac);
  body["since_ms"] = millisSince(health.since, now);
  body["reconnections"] = health.reconnections;
  body["last_error"] = health.lastError ? Json(sdkCodeText(*health.lastError)) : Json();
  body["liveview_age_ms"] =
      feedRunning && frame.jpeg ? Json(millisSince(frame.grabbedSteady, now)) : Json();
  body["downloads"] = health.downloads;
  if (health.state == CameraState::Reconnecting) body["attempt"] = health.attempt;
  body["suspect"] = health.suspect;
  return body;
}

Json camerasJson(const Rig& rig) {
  Json cameras = Json::array();
  for (const std::shared_ptr<CameraSlot>& slot : rig.all())
    cameras.push_back(cameraJson(*slot, true));
  Json body;
  body["cameras"] = std::move(cameras);
  return body;
}

std::string jsonText(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
