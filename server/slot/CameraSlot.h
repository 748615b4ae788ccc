// CameraSlot: one camera as the server holds it. It owns everything about
// that camera: the controller, the gate that orders the requests on it, its
// live-view feed, its health and the supervisor that brings it back after a
// loss, and whether the server is letting it go; it reports what happens to
// the server's event log. A server holds one slot per camera.
// Thread-safe: the controller is used only as the gate allows.
#pragma once

#include <atomic>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "camera/CameraController.h"
#include "server/events/EventLog.h"
#include "server/slot/CameraGate.h"
#include "server/slot/CameraHealth.h"
#include "server/slot/CameraSupervisor.h"
#include "server/slot/LiveFeed.h"
#include "server/slot/SdkErrorEvents.h"

struct SlotOptions {
  int liveViewFps = LiveFeed::kDefaultFps;  // the feed's cap
};

class CameraSlot {
 public:
  CameraSlot(EventLog& events, const SlotOptions& options);
  ~CameraSlot();
  CameraSlot(const CameraSlot&) = delete;
  CameraSlot& operator=(const CameraSlot&) = delete;

  CameraController& controller() { return controller_; }
  CameraGate& gate() { return gate_; }
  LiveFeed& feed() { return feed_; }
  EventLog& events() { return events_; }
  CameraHealth& health() { return health_; }

  // A "ptz" event for a command the server sent the head:
  // {"command":"<command>", ...values}. values is a JSON object.
  void publishPtz(const std::string& command, const nlohmann::ordered_json& values);
  // An "exposure" event with the values read back from the camera (iso,
  // fnumber, shutter, ev); nothing without an answer. Command access.
  void publishExposure();

  // The server is stopping: a multi-shot capture ends after the shot under
  // way, the feed stops and so do reconnections. The camera itself is let go
  // when the slot goes.
  void beginShutdown();
  // True when a long command should end early: the server stops, a
  // connect or disconnect waits for the camera, or the link is down.
  bool shouldYield() const {
    return stopping_.load() || gate_.teardownPending() || health_.linkDown() ||
           controller_.events().disconnected();
  }

 private:
  EventLog& events_;
  CameraGate gate_;
  std::atomic<bool> stopping_{false};
  CameraHealth health_;
  SdkErrorEvents errors_;
  // Before the controller: the camera's events reach the supervisor until
  // the controller has disconnected.
  CameraSupervisor supervisor_;
  // Members go in reverse order: the feed's loop ends first, then the
  // controller disconnects the camera.
  CameraController controller_;
  LiveFeed feed_;
};
