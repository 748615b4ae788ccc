// The slot's start and its orderly end.
#include "server/slot/CameraSlot.h"

CameraSlot::CameraSlot(EventLog& events, const SlotOptions& options)
    : events_(events), feed_(controller_, gate_, options.liveViewFps) {}

CameraSlot::~CameraSlot() { beginShutdown(); }

void CameraSlot::beginShutdown() {
  stopping_.store(true);
  feed_.stop();
}
