// A camera's frame: the camera taken as a command for the frame's shots.
#include "server/sequence/SlotSequencer.h"

#include "camera/FrameShots.h"
#include "server/sequence/SequenceJson.h"
#include "server/slot/CameraSlot.h"

bool cameraAway(CameraSlot& slot) {
  const CameraState state = slot.health().view().state;
  return state == CameraState::NoCamera || state == CameraState::Lost ||
         state == CameraState::Reconnecting;
}

FrameOutcome SlotSequencer::shoot(const FrameCall& call) {
  FrameOutcome away;
  away.skipped = SkipReason::Lost;
  if (cameraAway(slot_)) return away;
  // The gate waits on the machine's clock; the frame's slack is on the run's.
  const auto budget = call.deadline - call.run.now();
  CameraGate::Command hold(slot_.gate(), SchedulerClock::Steady::now() + budget);
  if (!hold.held()) {
    FrameOutcome busy;
    busy.skipped = cameraAway(slot_) ? SkipReason::Lost : SkipReason::Busy;
    return busy;
  }
  CameraController& camera = slot_.controller();
  if (cameraAway(slot_) || !camera.hasDevice() || camera.events().disconnected()) return away;
  return shootFrame(camera, call, [this] { return slot_.shouldYield(); });
}

void SlotSequencer::frameDone(const FrameReport& report, const SequenceView&) {
  slot_.events().publish("sequence", frameEventJson(report));
}

void SlotSequencer::stateChanged(const SequenceView& view) {
  // The log puts the camera's id first.
  slot_.events().publish("sequence", sequenceJson(view, ""));
}
