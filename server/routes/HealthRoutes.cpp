// The routes that tell what happens to the cameras: GET /camera (one
// camera's state now) and GET /events (everything that happens, as it
// happens; ?camera=<id> follows one camera and the server; ?rig=1 begins
// with every camera as GET /cameras lists it).
#include "server/events/EventStream.h"
#include "server/rig/Rig.h"
#include "server/routes/CameraJson.h"
#include "server/routes/RouteTable.h"

namespace {

HttpReply cameraState(const RouteCall& call) {
  HttpReply reply;
  reply.contentType = "application/json";
  reply.body = jsonText(cameraJson(call.camera));
  return reply;
}

HttpReply eventStream(const RouteCall& call) {
  std::function<std::string()> greeting;
  if (call.request.param("rig", "") == "1") {
    Rig& rig = call.rig;
    greeting = [&rig] { return "event: cameras\ndata: " + jsonText(camerasJson(rig)) + "\n\n"; };
  }
  return eventStreamReply(call.rig.events(), call.request.header("Last-Event-ID"),
                          call.request.param("camera", ""), greeting);
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
      {HttpMethod::Get,
       "/events",
       CameraAccess::None,
       eventStream,
       {},
       atOnce<eventStream>,
       RouteScope::Server},
  };
}
