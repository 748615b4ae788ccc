// The routes that tell what happens to the camera: GET /camera (its state
// now) and GET /events (everything that happens, as it happens).
#include <chrono>
#include <nlohmann/json.hpp>

#include "common/CameraModels.h"
#include "server/events/EventStream.h"
#include "server/routes/RouteTable.h"
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

HttpReply cameraState(const RouteCall& call) {
  const CameraHealthView health = call.camera.health().view();
  LiveFeed& feed = call.camera.feed();
  const LiveFrame frame = feed.latest();
  const bool feedRunning = feed.running();
  const Clock::time_point now = Clock::now();
  const CameraModel* model = health.camera ? findModelByCode(health.camera->model) : nullptr;

  Json body;
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

  HttpReply reply;
  reply.contentType = "application/json";
  // The address texts are the user's own and may hold any bytes.
  reply.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return reply;
}

HttpReply eventStream(const RouteCall& call) {
  return eventStreamReply(call.camera.events(), call.request.header("Last-Event-ID"));
}

// Neither waits for anything (a copy of the health, a stream that starts
// empty), so both are answered on the transport's event loop.
template <HttpReply (*answer)(const RouteCall&)>
std::optional<HttpReply> atOnce(const RouteCall& call) {
  return answer(call);
}

}  // namespace

std::vector<Route> healthRoutes() {
  return {
      {HttpMethod::Get, "/camera", CameraAccess::None, cameraState, {}, atOnce<cameraState>},
      {HttpMethod::Get, "/events", CameraAccess::None, eventStream, {}, atOnce<eventStream>},
  };
}
