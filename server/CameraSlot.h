// CameraSlot: one camera as the server holds it. It owns everything about
// that camera: the controller, the gate that orders the requests on it, and
// whether the server is letting it go. A server holds one slot per camera.
// Thread-safe: the controller is used only as the gate allows.
#pragma once

#include <atomic>

#include "camera/CameraController.h"
#include "server/CameraGate.h"

class CameraSlot {
 public:
  CameraSlot() = default;
  CameraSlot(const CameraSlot&) = delete;
  CameraSlot& operator=(const CameraSlot&) = delete;

  CameraController& controller() { return controller_; }
  CameraGate& gate() { return gate_; }

  // The server is stopping: a multi-shot capture ends after the shot under
  // way. The camera itself is let go when the slot is destroyed.
  void beginShutdown() { stopping_.store(true); }
  // True when a long command should end early: the server stops, or a
  // connect or disconnect waits for the camera.
  bool shouldYield() const { return stopping_.load() || gate_.teardownPending(); }

 private:
  CameraGate gate_;
  std::atomic<bool> stopping_{false};
  // Last, so it goes first: the camera is disconnected before the rest.
  CameraController controller_;
};
