// CameraSlot: one camera as the server holds it, under its id. It owns
// everything about that camera: the controller, the gate that orders the
// requests on it, its live-view feed, its capture folder, and whether the
// server is letting it go; it reports what happens to the server's event
// log under its id, and tells its parts (SlotObserver) each turn of the
// camera's life. A server holds one slot per camera (see Rig); requests,
// streams and the rig share a slot, so a camera removed while in use stays
// whole until the last of them lets it go. Thread-safe: the controller is
// used only as the gate allows.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/CameraController.h"
#include "camera/CaptureFolder.h"
#include "camera/Defaults.h"
#include "camera/ScaledJpeg.h"
#include "common/ThreadAnnotations.h"
#include "server/events/EventLog.h"
#include "server/sequence/SlotSequencer.h"
#include "server/slot/CameraGate.h"
#include "server/slot/CameraHealth.h"
#include "server/slot/CameraSupervisor.h"
#include "server/slot/LiveFeed.h"
#include "server/slot/PtzDriver.h"
#include "server/slot/SdkErrorEvents.h"
#include "server/slot/SlotObserver.h"
#include "server/slot/TileFeed.h"

struct SlotOptions {
  int liveViewFps = LiveFeed::kDefaultFps;    // the feed's cap
  SchedulerClock* sequenceClock = nullptr;    // tests only: drives the sequences' time
  SchedulerClock* supervisorClock = nullptr;  // tests only: drives the reconnection plan
};

class CameraSlot {
 public:
  // The camera the unprefixed routes address; its pictures land in
  // captures/ itself, every other camera's in captures/<id>/.
  static constexpr const char* kMainId = "main";

  CameraSlot(std::string id, EventLog& events, const SlotOptions& options);
  ~CameraSlot();
  CameraSlot(const CameraSlot&) = delete;
  CameraSlot& operator=(const CameraSlot&) = delete;

  const std::string& id() const { return id_; }
  CameraController& controller() { return controller_; }
  CameraGate& gate() { return gate_; }
  LiveFeed& feed() { return feed_; }
  // The live view as small pictures, for a wall of every camera.
  TileFeed& tiles() { return tiles_; }
  // Publishes under this camera's id.
  const CameraEventLog& events() const { return events_; }
  PtzDriver& ptz() { return ptz_; }
  // What state the camera is in; its supervisor brings it back after a loss.
  CameraHealth& health() { return health_; }
  // The folder this camera's downloads land in, and its scaled copies.
  CaptureFolder& captures() { return captures_; }
  ScaledJpegCache& scaledCopies() { return scaledCopies_; }
  // Timed sequences of pictures (intervalometer, brackets).
  SlotSequencer& sequence() { return sequence_; }

  // A part that reacts to the camera's life, told after those registered
  // before it. observe: the part lives as long as the slot; adopt: the slot
  // keeps it until the slot goes, and lets it go before the camera.
  void observe(SlotObserver& part) EXCLUDES(partsMutex_);
  void adopt(std::shared_ptr<SlotObserver> part) EXCLUDES(partsMutex_);
  // Tells every part one turn of the camera's life (e.g.
  // notify(&SlotObserver::connected)), on this thread.
  void notify(void (SlotObserver::*turn)(CameraSlot&)) EXCLUDES(partsMutex_);

  // A rig camera: the supervisor connects it and keeps it connected (unlike
  // a user's connect, a failed first attempt is tried again) until it is
  // removed or a user's connect or disconnect takes it over.
  void keepConnected(const CameraRequest& request);

  // The next request's place in the order requests reached this camera.
  std::uint64_t arrive() { return ++arrivals_; }
  // An "exposure" event with the values read back from the camera (iso,
  // fnumber, shutter, ev); nothing without an answer. Command access.
  void publishExposure();

  // The server is stopping: reconnections end, a leased pan/tilt move is
  // stopped, a multi-shot capture and a sequence end after the shot under
  // way and the feed stops. The camera itself is let go when the slot goes.
  void beginShutdown();
  // The camera leaves the rig: its parts end their work as at shutdown, then
  // the camera is disconnected (after the command under way). Requests and
  // streams that still share the slot find it without a camera. Once only.
  void retire();
  bool retired() const { return retired_.load(); }
  // True when a long command should end early: the server stops, a
  // connect or disconnect waits for the camera, or the link is down.
  bool shouldYield() const {
    return stopping_.load() || gate_.teardownPending() || health_.linkDown() ||
           controller_.events().disconnected();
  }

 private:
  const std::string id_;
  const CameraEventLog events_;
  // Before the gate, which puts every call on the camera in its scope.
  SdkErrorEvents errors_;
  CameraGate gate_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> retired_{false};
  CaptureFolder captures_;
  ScaledJpegCache scaledCopies_;
  CameraHealth health_;
  Mutex partsMutex_;
  std::vector<SlotObserver*> parts_ GUARDED_BY(partsMutex_);
  // Before the controller: the camera's events reach the supervisor until
  // the controller has disconnected. Its thread ends before any member goes.
  CameraSupervisor supervisor_;
  // Members go in reverse order: the feed's loop ends first, then the
  // controller disconnects the camera.
  CameraController controller_;
  LiveFeed feed_;
  TileFeed tiles_;  // follows the feed: goes before it
  std::atomic<std::uint64_t> arrivals_{0};
  PtzDriver ptz_;  // its lease's thread ends before the camera goes
  // Its thread ends before anything it shoots with goes.
  SlotSequencer sequence_;
  // First to go: parts added from outside end before the camera is let go.
  std::vector<std::shared_ptr<SlotObserver>> adopted_ GUARDED_BY(partsMutex_);
};
