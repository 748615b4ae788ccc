// The pan/tilt routes: each reads its numbers, hands one command to the head
// and answers "ok" whatever the head said (refusals are printed by the
// controller).
#include <cstdlib>

#include "server/CameraSlot.h"
#include "server/Params.h"
#include "server/Replies.h"
#include "server/RouteTable.h"

namespace {

int intParam(const HttpRequest& request, const char* name, const char* fallback) {
  return std::atoi(request.param(name, fallback).c_str());
}

std::uint16_t presetParam(const HttpRequest& request) {
  return presetFromText(request.param("num", "1"));
}

// One command route: the action runs with the camera's turn held.
Route ptzRoute(const char* path,
               std::function<void(const HttpRequest&, CameraController&)> action) {
  return {HttpMethod::Post,
          path,
          CameraAccess::Command,
          [action](const RouteCall& call) {
            action(call.request, call.camera.controller());
            return statusReply("ok");
          },
          {}};
}

}  // namespace

std::vector<Route> ptzRoutes() {
  return {
      ptzRoute("/ptz/move",
               [](const HttpRequest& r, CameraController& c) {
                 c.ptzMove(intParam(r, "pan", "0"), intParam(r, "tilt", "0"));
               }),
      ptzRoute("/ptz/absolute",
               [](const HttpRequest& r, CameraController& c) {
                 const int pan = intParam(r, "pan", "0");
                 const int tilt = intParam(r, "tilt", "0");
                 c.ptzAbsolute(pan, tilt, intParam(r, "speed", "10"));
               }),
      ptzRoute("/ptz/home", [](const HttpRequest&, CameraController& c) { c.ptzHome(); }),
      ptzRoute("/ptz/stop", [](const HttpRequest&, CameraController& c) { c.ptzStop(); }),
      ptzRoute("/ptz/preset/set",
               [](const HttpRequest& r, CameraController& c) { c.ptzPresetSet(presetParam(r)); }),
      ptzRoute(
          "/ptz/preset/recall",
          [](const HttpRequest& r, CameraController& c) { c.ptzPresetRecall(presetParam(r)); }),
      ptzRoute("/ptz/preset/clear",
               [](const HttpRequest& r, CameraController& c) { c.ptzPresetClear(presetParam(r)); }),
  };
}
