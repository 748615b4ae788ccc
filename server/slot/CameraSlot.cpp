// The slot's start and its orderly end.
#include "server/slot/CameraSlot.h"

CameraSlot::CameraSlot(EventLog& events, const SlotOptions& options)
    : events_(events),
      health_(events, [this] { supervisor_.wake(); }),
      errors_(events),
      supervisor_(*this),
      feed_(controller_, gate_, options.liveViewFps),
      ptz_(controller_, gate_, events) {
  controller_.setObserver(&supervisor_);
  supervisor_.start();
}

CameraSlot::~CameraSlot() {
  beginShutdown();
  // No reconnection may start once the controller begins to go.
  supervisor_.stop();
}

void CameraSlot::beginShutdown() {
  stopping_.store(true);
  // First, so that an attempt holding the camera gives it up for the stop.
  supervisor_.requestStop();
  endPtzLease(true);
  feed_.stop();
}

void CameraSlot::endPtzLease(bool sendStop) {
  if (!sendStop) {
    ptz_.endLease(false);
    return;
  }
  CameraGate::Urgent now(gate_);
  ptz_.endLease(true);
}
