// A frame's shots: plan the steps from the exposure now set, then set, shoot
// and report each, and put the base back.
#include "camera/FrameShots.h"

#include <filesystem>

#include "camera/BracketSteps.h"
#include "camera/Defaults.h"

namespace {

std::string fileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

// One shot, asked again while the camera answers busy and the frame's
// deadline allows. busy tells whether busy was the last answer.
bool shoot(CameraController& camera, const FrameCall& call, ShotReport& shot, bool& busy) {
  for (;;) {
    std::string path;
    if (camera.capturePhoto(defaults::kDownloadWaitMs, &path)) {
      shot.ok = true;
      shot.file = fileName(path);
      return true;
    }
    busy = camera.events().lastError() == VCSDK::VcError_Busy;
    if (!busy) {
      shot.error = camera.events().disconnected() ? "perdida" : "falhou";
      return false;
    }
    const SchedulerClock::Steady::time_point again = call.run.now() + kBusyRetry;
    if (again > call.deadline || !call.run.waitUntil(again)) {
      shot.error = "ocupada";
      return false;
    }
  }
}

}  // namespace

FrameOutcome shootFrame(CameraController& camera, const FrameCall& call,
                        const std::function<bool()>& yield) {
  FrameOutcome out;
  out.started = call.run.now();
  const bool bracketed = !call.bracket.empty();
  std::optional<ExposureNow> base;
  std::vector<BracketStep> steps(1);
  if (bracketed) {
    base = camera.readExposure();
    if (!base) {
      // No answer: a lost link is the usual reason.
      if (camera.events().disconnected() || !camera.hasDevice()) {
        out.skipped = SkipReason::Lost;
        return out;
      }
      base = ExposureNow{};
    }
    steps = bracketSteps(*base, call.bracket);
  }

  bool anyOk = false, allBusy = true, moved = false;
  for (const BracketStep& step : steps) {
    // Also before the first: a stop or a connect that came while the frame
    // waited for the camera finds no shot under way.
    if (call.run.stopping() || yield()) break;
    ShotReport shot;
    shot.ev = step.ev;
    shot.applied = step.applied;
    if (!step.error.empty()) shot.error = step.error;
    if (shot.error.empty() && bracketed) {
      moved = true;
      // Not taken at the wrong exposure: the step is reported instead.
      if (stepRefused(step.set, applyExposure(camera, step.set))) shot.error = "recusada";
    }
    if (shot.error.empty()) {
      bool busy = false;
      anyOk = shoot(camera, call, shot, busy) || anyOk;
      allBusy = allBusy && busy;
    } else {
      allBusy = false;
    }
    out.shots.push_back(std::move(shot));
  }
  if (moved) applyExposure(camera, bracketRestore(*base));

  if (!anyOk && camera.events().disconnected()) {
    out.skipped = SkipReason::Lost;
  } else if (!anyOk && allBusy) {
    out.skipped = SkipReason::Busy;
  }
  if (out.skipped) out.shots.clear();
  return out;
}
