// SlotObserver: a part of a camera slot that reacts to the camera's life. Each
// part (the supervisor, the pan/tilt driver, the live-view feed, the capture
// set-up, and whatever is added later) registers once with its slot, which
// calls every part, in the order they registered, at each turn of the life:
// no reaction is wired by hand where the turn happens. A hook runs on the
// thread of whoever made the turn and must not register parts itself.
#pragma once

class CameraSlot;

class SlotObserver {
 public:
  virtual ~SlotObserver() = default;

  // A user's connect or disconnect is about to take the camera; nothing is
  // held yet (it may wait behind a capture).
  virtual void beforeHandover(CameraSlot&) {}
  // That connect or disconnect now holds the camera alone, before it acts.
  virtual void handover(CameraSlot&) {}
  // The camera's link is up: a user's connect, or the first connection the
  // server made for a rig camera. The camera is held alone.
  virtual void connected(CameraSlot&) {}
  // The link was lost. Called on the supervisor's thread, nothing held.
  virtual void lost(CameraSlot&) {}
  // The camera is back after a loss, held alone.
  virtual void reconnected(CameraSlot&) {}
  // The camera leaves the rig, or the server stops: end the part's work
  // now. Nothing is held; the camera is disconnected after every part has
  // been told.
  virtual void removed(CameraSlot&) {}
  virtual void shutdown(CameraSlot&) {}
};
