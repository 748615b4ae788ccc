// The pan/tilt routes, one per row of the shared action table: each reads
// the values its action takes, hands one command to the head and answers
// "ok" whatever the head said (refusals are printed by the controller). The
// stop skips the queue of commands; /ptz/move may carry a lease ("hold"),
// which /ptz/renew renews; /ptz/presets lists what the server stored.
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

// A lease in milliseconds when "hold" is given (clamped), 0 without one.
int holdOf(const HttpRequest& request) {
  return request.hasParam("hold") ? PtzLease::clampHold(intParam(request, "hold", "0")) : 0;
}

HttpReply presets(const RouteCall& call) {
  HttpReply reply;
  reply.contentType = "application/json";
  reply.body = call.cameraHeld ? call.camera.ptz().presetsJson() : "[]";
  return reply;
}

}  // namespace

std::vector<Route> ptzRoutes() {
  std::vector<Route> routes;
  for (const PtzAction& action : ptzActions()) {
    if (action.effect == PtzEffect::Stop) {
      routes.push_back({HttpMethod::Post,
                        action.path,
                        CameraAccess::Urgent,
                        [](const RouteCall& call) {
                          call.camera.ptz().stop(call.arrival);
                          return statusReply("ok");
                        },
                        {}});
      continue;
    }
    routes.push_back({HttpMethod::Post,
                      action.path,
                      CameraAccess::Command,
                      [&action](const RouteCall& call) {
                        call.camera.ptz().command(action, valuesOf(action, call.request),
                                                  call.arrival, holdOf(call.request));
                        return statusReply("ok");
                      },
                      {}});
  }
  routes.push_back({HttpMethod::Post,
                    "/ptz/renew",
                    CameraAccess::None,
                    [](const RouteCall& call) {
                      call.camera.ptz().renew();
                      return statusReply("ok");
                    },
                    {}});
  routes.push_back({HttpMethod::Get, "/ptz/presets", CameraAccess::Reader, presets, {}});
  return routes;
}
