// The pan/tilt routes, one per row of the shared action table: each reads
// the values its action takes, hands one command to the head and answers
// "ok" whatever the head said (refusals are printed by the controller).
#include <cstdlib>

#include "camera/PtzActions.h"
#include "server/routes/Params.h"
#include "server/routes/RouteTable.h"
#include "server/slot/CameraSlot.h"

namespace {

int intParam(const HttpRequest& request, const char* name, const char* fallback) {
  return std::atoi(request.param(name, fallback).c_str());
}

// The parameters an action takes, with the same fallbacks as the command line.
PtzValues valuesOf(const PtzAction& action, const HttpRequest& request) {
  PtzValues values;
  switch (action.takes) {
    case PtzTakes::PanTiltSpeed:
      values.speed = intParam(request, "speed", "10");
      [[fallthrough]];
    case PtzTakes::PanTilt:
      values.pan = intParam(request, "pan", "0");
      values.tilt = intParam(request, "tilt", "0");
      break;
    case PtzTakes::Preset:
      values.preset = presetFromText(request.param("num", "1"));
      break;
    case PtzTakes::Nothing:
      break;
  }
  return values;
}

}  // namespace

std::vector<Route> ptzRoutes() {
  std::vector<Route> routes;
  for (const PtzAction& action : ptzActions()) {
    routes.push_back({HttpMethod::Post,
                      action.path,
                      CameraAccess::Command,
                      [&action](const RouteCall& call) {
                        action.run(call.camera.controller(), valuesOf(action, call.request));
                        return statusReply("ok");
                      },
                      {}});
  }
  return routes;
}
