// SlotSequencer: the sequence of one camera slot. It takes the camera frame
// by frame (command access for one frame's shots, given up between frames),
// so live view, pan/tilt and settings keep working and a manual capture
// waits one frame at most. Frames due while the camera is lost are skipped
// as "perdida"; a capture under way that keeps the camera past a frame's
// slack skips it as "ocupada". Each frame and each change of state is a
// "sequence" event of the camera. A part of its slot: the server's stop and
// the camera's removal end it after the shot under way. Thread-safe.
#pragma once

#include "server/sequence/SequenceHost.h"
#include "server/slot/SlotObserver.h"

class CameraSlot;

// No camera to shoot with: none asked for, or its link down.
bool cameraAway(CameraSlot& slot);

class SlotSequencer : public SlotObserver, public SequenceHost {
 public:
  // Uses the slot's controller, gate, health and event log, which need not
  // be built yet; clock null: the machine's.
  explicit SlotSequencer(CameraSlot& slot, SchedulerClock* clock = nullptr)
      : SequenceHost(clock), slot_(slot) {}
  ~SlotSequencer() override { finish(); }

  void shutdown(CameraSlot&) override { SequenceHost::shutdown(); }
  void removed(CameraSlot&) override { SequenceHost::shutdown(); }

 private:
  FrameOutcome shoot(const FrameCall& call) override;
  void frameDone(const FrameReport& report, const SequenceView& view) override;
  void stateChanged(const SequenceView& view) override;

  CameraSlot& slot_;
};
