// The live-view routes: one picture (/liveview.jpg) and the shared feed as a
// multipart stream (/liveview.mjpg) that browsers, media players and ffmpeg
// can follow.
#include <cstdint>
#include <vector>

#include "server/routes/Replies.h"
#include "server/routes/RouteTable.h"
#include "server/slot/CameraSlot.h"
#include "server/slot/MjpegStream.h"

namespace {

HttpReply unavailable() { return statusReply(503, "live view indisponivel"); }

// Whether a stream should end: the camera has gone for good, as opposed to
// a connect or disconnect under way, during which the feed only pauses. The
// one place that decides it, so that it can follow a fuller camera health
// later. Called on the transport's thread: it never waits, and it looks at
// the controller only as a reader, never while a connect or disconnect
// holds it.
bool cameraGone(CameraSlot& slot) {
  CameraGate::Reader read(slot.gate());
  if (!read.held()) return false;
  const CameraController& camera = slot.controller();
  return !camera.hasDevice() || camera.events().disconnected();
}

HttpReply liveViewPicture(const RouteCall& call) {
  HttpReply reply;
  reply.contentType = "image/jpeg";
  // With the feed running, a picture younger than one frame interval is as
  // new as the camera would give: no second round trip for it.
  const LiveFrame frame = call.camera.feed().fresh();
  if (frame.jpeg) {
    reply.body.assign(frame.jpeg->begin(), frame.jpeg->end());
    return reply;
  }
  std::vector<std::uint8_t> picture;
  if (!call.cameraHeld || !call.camera.controller().grabLiveViewFrame(picture)) {
    return unavailable();
  }
  reply.body.assign(picture.begin(), picture.end());
  return reply;
}

HttpReply liveViewStream(const RouteCall& call) {
  if (!call.cameraHeld || !call.camera.controller().hasDevice()) return unavailable();
  CameraSlot& slot = call.camera;
  return mjpegReply(slot.feed(), [&slot] { return cameraGone(slot); });
}

}  // namespace

std::vector<Route> liveViewRoutes() {
  return {
      {HttpMethod::Get, "/liveview.jpg", CameraAccess::Reader, liveViewPicture, {}},
      {HttpMethod::Get, "/liveview.mjpg", CameraAccess::Reader, liveViewStream, {}},
  };
}
