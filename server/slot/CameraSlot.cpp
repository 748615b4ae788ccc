// The slot's start and its orderly end.
#include "server/slot/CameraSlot.h"

CameraSlot::CameraSlot(EventLog& events, const SlotOptions& options)
    : events_(events),
      health_(events, [this] { supervisor_.wake(); }),
      errors_(events),
      supervisor_(*this),
      feed_(controller_, gate_, options.liveViewFps) {
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
  supervisor_.requestStop();
  feed_.stop();
}
