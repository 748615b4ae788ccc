// The slot's start, its parts and its orderly end.
#include "server/slot/CameraSlot.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace {

// The camera's downloads land in its own folder once its link is up, and
// again after each reconnection (a camera forgets it when the link goes).
class CaptureSetup : public SlotObserver {
 public:
  void connected(CameraSlot& slot) override { setUp(slot); }
  void reconnected(CameraSlot& slot) override { setUp(slot); }

 private:
  static void setUp(CameraSlot& slot) {
    // Made here rather than left to the SDK, which may expect it to exist.
    std::error_code ignored;
    std::filesystem::create_directories(slot.captures().path(), ignored);
    slot.controller().setupForPcCapture(slot.captures().path(), defaults::kFilePrefix);
  }
};

std::string folderOf(const std::string& id) {
  return id == CameraSlot::kMainId ? defaults::kSaveFolder
                                   : std::string(defaults::kSaveFolder) + "/" + id;
}

}  // namespace

CameraSlot::CameraSlot(std::string id, EventLog& events, const SlotOptions& options)
    : id_(std::move(id)),
      events_(events, id_),
      errors_(events_),
      gate_(&errors_),
      captures_(folderOf(id_)),
      health_(events_, [this] { supervisor_.wake(); }),
      supervisor_(*this, options.supervisorClock),
      feed_(controller_, gate_, options.liveViewFps),
      tiles_(feed_),
      ptz_(controller_, gate_, events_),
      sequence_(*this, options.sequenceClock) {
  // The order of the reactions: the supervisor gives up an attempt that
  // holds the camera before the head is stopped; the downloads' folder is
  // set before the head's stop is sent.
  observe(supervisor_);
  adopt(std::make_shared<CaptureSetup>());
  observe(ptz_);
  observe(feed_);
  observe(tiles_);
  observe(sequence_);
  controller_.setObserver(&supervisor_);
  supervisor_.start();
}

CameraSlot::~CameraSlot() {
  beginShutdown();
  // No reconnection may start once the controller begins to go.
  supervisor_.stop();
}

void CameraSlot::observe(SlotObserver& part) {
  MutexLock lock(partsMutex_);
  parts_.push_back(&part);
}

void CameraSlot::adopt(std::shared_ptr<SlotObserver> part) {
  MutexLock lock(partsMutex_);
  parts_.push_back(part.get());
  adopted_.push_back(std::move(part));
}

void CameraSlot::notify(void (SlotObserver::*turn)(CameraSlot&)) {
  std::vector<SlotObserver*> parts;
  {
    // Told outside the lock: a part may wait for the camera, and another
    // turn may come meanwhile. Parts are never removed before the slot goes.
    MutexLock lock(partsMutex_);
    parts = parts_;
  }
  for (SlotObserver* part : parts) (part->*turn)(*this);
}

void CameraSlot::keepConnected(const CameraRequest& request) { health_.serverConnecting(request); }

void CameraSlot::beginShutdown() {
  if (stopping_.exchange(true)) return;
  notify(&SlotObserver::shutdown);
}

void CameraSlot::retire() {
  if (retired_.exchange(true)) return;
  stopping_.store(true);
  notify(&SlotObserver::removed);
  // No attempt may begin again; one under way has given up.
  supervisor_.stop();
  CameraGate::Teardown alone(gate_);
  controller_.disconnect();
  health_.userDisconnected();
}
