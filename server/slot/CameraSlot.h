// CameraSlot: one camera as the server holds it. It owns everything about
// that camera: the controller, the gate that orders the requests on it, its
// live-view feed, and whether the server is letting it go; it reports what
// happens to the server's event log. A server holds one slot per camera.
// Thread-safe: the controller is used only as the gate allows.
#pragma once

#include <atomic>
#include <cstdint>

#include "camera/CameraController.h"
#include "camera/CaptureFolder.h"
#include "camera/Defaults.h"
#include "camera/ScaledJpeg.h"
#include "server/events/EventLog.h"
#include "server/slot/CameraGate.h"
#include "server/slot/CameraHealth.h"
#include "server/slot/CameraSupervisor.h"
#include "server/slot/LiveFeed.h"
#include "server/slot/PtzDriver.h"
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
  PtzDriver& ptz() { return ptz_; }
  // What state the camera is in; its supervisor brings it back after a loss.
  CameraHealth& health() { return health_; }
  // The folder this camera's downloads land in, and its scaled copies.
  CaptureFolder& captures() { return captures_; }
  ScaledJpegCache& scaledCopies() { return scaledCopies_; }

  // Ends the pan/tilt lease: a lost camera, a connect or disconnect, the
  // server stopping. With sendStop, a leased move under way is stopped at
  // once, even beside a capture. Not from a thread that holds the camera's
  // teardown access (the stop takes the camera as urgent); there, call
  // ptz().endLease instead.
  void endPtzLease(bool sendStop);
  // The next request's place in the order requests reached this camera.
  std::uint64_t arrive() { return ++arrivals_; }
  // An "exposure" event with the values read back from the camera (iso,
  // fnumber, shutter, ev); nothing without an answer. Command access.
  void publishExposure();

  // The server is stopping: reconnections end, a leased pan/tilt move is
  // stopped, a multi-shot capture ends after the shot under way and the feed
  // stops. The camera itself is let go when the slot goes.
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
  CaptureFolder captures_{defaults::kSaveFolder};
  ScaledJpegCache scaledCopies_;
  CameraHealth health_;
  SdkErrorEvents errors_;
  // Before the controller: the camera's events reach the supervisor until
  // the controller has disconnected. Its thread ends before any member goes.
  CameraSupervisor supervisor_;
  // Members go in reverse order: the feed's loop ends first, then the
  // controller disconnects the camera.
  CameraController controller_;
  LiveFeed feed_;
  std::atomic<std::uint64_t> arrivals_{0};
  PtzDriver ptz_;  // its lease's thread ends before the camera goes
};
