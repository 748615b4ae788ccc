// The live-view routes: one picture (/liveview.jpg) and the shared feed as a
// multipart stream (/liveview.mjpg) that browsers, media players and ffmpeg
// can follow.
#include <cstdint>
#include <vector>

#include "server/routes/RouteTable.h"
#include "server/slot/CameraSlot.h"
#include "server/slot/MjpegStream.h"

namespace {

HttpReply unavailable() { return statusReply(503, "live view indisponivel"); }

// Whether the camera has gone, as opposed to being let go and taken again
// by a connect under way: no device, or its link reported lost. The one
// place that decides it, so that it can follow a fuller camera health later.
// The caller must hold the camera as a reader.
bool cameraGoneHeld(const CameraController& camera) {
  return !camera.hasDevice() || camera.events().disconnected();
}

// Whether a stream should end. Called on the transport's thread: it never
// waits, and while a connect or disconnect holds the camera the answer is
// no, so the stream pauses instead of ending.
bool cameraGone(CameraSlot& slot) {
  CameraGate::Reader read(slot.gate());
  return read.held() && cameraGoneHeld(slot.controller());
}

// With the feed running, its newest picture is as new as the camera would
// give: it goes out from the event loop, without a camera round trip and
// without a copy.
std::optional<HttpReply> feedPicture(const RouteCall& call) {
  const LiveFrame frame = call.camera.feed().fresh();
  if (!frame.jpeg) return std::nullopt;
  HttpReply reply;
  reply.contentType = "image/jpeg";
  reply.sharedBody = frame.jpeg;
  return reply;
}

HttpReply liveViewPicture(const RouteCall& call) {
  if (std::optional<HttpReply> fromFeed = feedPicture(call)) return *fromFeed;
  HttpReply reply;
  reply.contentType = "image/jpeg";
  std::vector<std::uint8_t> picture;
  if (!call.cameraHeld || !call.camera.controller().grabLiveViewFrame(picture)) {
    return unavailable();
  }
  reply.body.assign(picture.begin(), picture.end());
  return reply;
}

HttpReply liveViewStream(const RouteCall& call) {
  if (!call.cameraHeld || cameraGoneHeld(call.camera.controller())) return unavailable();
  // The stream shares the slot: a camera removed meanwhile stays whole
  // (without its camera, so the stream ends) until the stream lets it go.
  std::shared_ptr<CameraSlot> slot = call.slot;
  return mjpegReply(slot->feed(), [slot] { return cameraGone(*slot); });
}

}  // namespace

std::vector<Route> liveViewRoutes() {
  return {
      {HttpMethod::Get, "/liveview.jpg", CameraAccess::Reader, liveViewPicture, {}, feedPicture},
      {HttpMethod::Get, "/liveview.mjpg", CameraAccess::Reader, liveViewStream, {}},
  };
}
