// The slot's start and its orderly end.
#include "server/slot/CameraSlot.h"

CameraSlot::CameraSlot(EventLog& events, const SlotOptions& options)
    : events_(events),
      feed_(controller_, gate_, options.liveViewFps),
      ptz_(controller_, gate_, events) {}

CameraSlot::~CameraSlot() { beginShutdown(); }

void CameraSlot::beginShutdown() {
  stopping_.store(true);
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
