// The rig's frame: each step's exposure on every camera, then one volley.
#include "server/sequence/RigSequencer.h"

#include "camera/BracketSteps.h"
#include "server/rig/Rig.h"
#include "server/rig/Volley.h"
#include "server/sequence/SequenceJson.h"
#include "server/sequence/SlotSequencer.h"

namespace {

struct Member {
  VolleyCamera camera;
  std::optional<ExposureNow> base;  // read before its first step
  bool moved = false;
};

// Sets one camera's exposure for a step, under its command access, before
// the frame's deadline; false (not fired in this step) when the camera is
// busy past it, its exposure unknown, or the step refused.
bool setStep(Member& m, double ev, SchedulerClock::Steady::time_point deadline) {
  CameraGate::Command hold(m.camera.slot->gate(), deadline);
  if (!hold.held()) return false;
  CameraController& controller = m.camera.slot->controller();
  if (!m.base) m.base = controller.readExposure();
  if (!m.base) return false;
  const BracketStep step = bracketSteps(*m.base, {ev})[0];
  if (!step.error.empty()) return false;
  m.moved = true;
  return !stepRefused(step.set, applyExposure(controller, step.set));
}

void restore(Member& m) {
  if (!m.moved) return;
  CameraGate::Command hold(m.camera.slot->gate());
  applyExposure(m.camera.slot->controller(), bracketRestore(*m.base));
}

}  // namespace

bool RigSequencer::start(const SequencePlan& plan,
                         std::optional<SchedulerClock::Wall::time_point> start,
                         std::vector<std::string> cameras, SequenceView& out) {
  return SequenceHost::start(plan, start, out, [&] {
    MutexLock lock(mutex_);
    cameras_ = std::move(cameras);
  });
}

std::vector<std::string> RigSequencer::cameras() const {
  MutexLock lock(mutex_);
  return cameras_;
}

FrameOutcome RigSequencer::shoot(const FrameCall& call) {
  FrameOutcome out;
  out.started = call.run.now();
  std::vector<Member> members;
  for (const std::string& id : cameras()) {
    std::shared_ptr<CameraSlot> slot = rig_.find(id);
    if (slot && !cameraAway(*slot)) members.push_back({{id, std::move(slot)}, std::nullopt, false});
  }
  if (members.empty()) {
    out.skipped = SkipReason::Lost;
    return out;
  }
  // The gates wait on the machine's clock; the frame's slack is on the run's.
  const SchedulerClock::Steady::time_point deadline =
      SchedulerClock::Steady::now() + (call.deadline - call.run.now());
  const bool bracketed = !call.bracket.empty();
  const std::vector<double> steps = bracketed ? call.bracket : std::vector<double>{0};
  bool anyOk = false;
  for (double ev : steps) {
    if (call.run.stopping()) break;
    ShotReport shot;
    shot.ev = ev;
    std::vector<VolleyCamera> firing;
    std::string left;
    for (Member& m : members) {
      if (!bracketed || setStep(m, ev, deadline)) {
        firing.push_back(m.camera);
      } else {
        left += (left.empty() ? "" : ",") + m.camera.id;
      }
    }
    if (!left.empty()) shot.error = "recusada: " + left;
    if (!firing.empty()) {
      const VolleyResult result = volley_.fire(firing, 1, VolleyRelease());
      shot.detail = volleyJson(result);
      bool all = left.empty();
      for (const VolleyCameraResult& c : result.cameras) {
        anyOk = anyOk || c.ok;
        all = all && c.ok;
      }
      shot.ok = all;
    }
    out.shots.push_back(std::move(shot));
  }
  for (Member& m : members) restore(m);
  if (!anyOk) {
    bool away = true;
    for (Member& m : members) away = away && cameraAway(*m.camera.slot);
    out.skipped = away ? SkipReason::Lost : SkipReason::Busy;
    out.shots.clear();
  }
  return out;
}

void RigSequencer::frameDone(const FrameReport& report, const SequenceView&) {
  events_.publish("sequence", rigFrameEventJson(report));
}

void RigSequencer::stateChanged(const SequenceView& view) {
  events_.publish("sequence", rigSequenceJson(view, cameras()));
}
