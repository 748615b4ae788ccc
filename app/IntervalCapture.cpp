// The command line's sequence: the frame work is a plain run of the frame's
// shots on the one controller; each frame is one printed line.
#include "app/IntervalCapture.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "app/StopSignals.h"
#include "camera/CameraController.h"
#include "camera/FrameShots.h"
#include "camera/SequenceRun.h"
#include "common/IsoTime.h"

namespace {

class PrintedFrames final : public FrameWork, public SequenceListener {
 public:
  explicit PrintedFrames(CameraController& camera) : camera_(camera) {}

  FrameOutcome shoot(const FrameCall& call) override {
    if (camera_.events().disconnected()) {
      FrameOutcome away;
      away.skipped = SkipReason::Lost;
      return away;
    }
    return shootFrame(camera_, call, [] { return false; });
  }

  void frameDone(const FrameReport& report, const SequenceView& view) override {
    std::string frame = std::to_string(report.frame);
    if (view.plan.count != 0) frame += "/" + std::to_string(view.plan.count);
    const std::string due = isoUtc(report.due);
    if (report.skipped) {
      std::printf("[info] quadro %s %s pulado (%s)\n", frame.c_str(), due.c_str(),
                  skipReasonName(*report.skipped));
      return;
    }
    std::string shots;
    for (const ShotReport& shot : report.shots) {
      if (!view.plan.bracket.empty())
        shots += " " + shot.applied + ":";
      else
        shots += " ";
      shots += shot.ok ? shot.file : shot.error;
    }
    std::printf("[info] quadro %s %s +%.1f ms%s\n", frame.c_str(), due.c_str(),
                static_cast<double>(report.late.count()) / 1e6, shots.c_str());
  }

  void stateChanged(const SequenceView&) override {}

 private:
  CameraController& camera_;
};

}  // namespace

std::optional<SequencePlan> intervalPlan(const Options& options) {
  SequencePlan plan;
  if (!parseInterval(options.interval, plan.interval)) {
    std::printf("[error] intervalo invalido: %s (segundos, minimo 0.5)\n",
                options.interval.c_str());
    return std::nullopt;
  }
  if (!parseBracket(options.bracket, plan.bracket)) {
    std::printf("[error] bracket invalido: %s\n", options.bracket.c_str());
    return std::nullopt;
  }
  // "--shots" counts frames here; 0 (or below) runs until Ctrl+C.
  plan.count = options.shots > 0 ? static_cast<std::uint64_t>(options.shots) : 0;
  if (plan.count > SequencePlan::kMostFrames) plan.count = SequencePlan::kMostFrames;
  return plan;
}

void runIntervalCapture(CameraController& camera, const SequencePlan& plan) {
  MachineClock clock;
  PrintedFrames frames(camera);
  SequenceRun run(plan, clock, frames, &frames);
  {
    StopSignals signals([&run] { run.stop(); });
    run.run();
  }
  const SequenceView end = run.view();
  std::printf("[info] sequencia encerrada (%" PRIu64 " quadros, %" PRIu64 " pulados, %" PRIu64
              " fotos).\n",
              end.taken, end.skippedTotal, end.shots);
}
