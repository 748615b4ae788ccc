// SequenceRun: walks a sequence's plan on a clock. Frame n is due at the
// start plus (n - 1) intervals; at each due time the frame's work runs (its
// shots, back to back), or the frame is skipped with a reason when it cannot
// start within half an interval, while paused, or when the work reports that
// the camera is away or busy. Nothing is ever shifted: a late frame costs at
// most itself. Keeps what clients read back (state, counts, lateness, the
// skipped frames) in bounded memory. Thread-safe: run() on one thread; the
// controls and view() from any.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "camera/LatenessStats.h"
#include "camera/SchedulerClock.h"
#include "camera/SequencePlan.h"
#include "common/ThreadAnnotations.h"

enum class SequenceState { Running, Paused, Done, Stopped };
// "rodando", "pausada", "concluida", "parada".
const char* sequenceStateName(SequenceState state);

enum class SkipReason { Lost, Late, Busy, Paused };
// "perdida", "atrasada", "ocupada", "pausada".
const char* skipReasonName(SkipReason reason);

// One shot of a frame: the bracket step it was for, the file it gave.
struct ShotReport {
  double ev = 0;        // the step's offset (0 without a bracket)
  std::string file;     // the downloaded file's name, empty when none
  bool ok = false;      // downloaded
  std::string applied;  // with a bracket: the setting shot at ("1/500", "-2.0")
  std::string error;    // why not ok: "recusada", "fora da escala", ...
  std::string detail;   // a JSON object the frame's work adds: a volley's result
};

// What a frame's work gives back.
struct FrameOutcome {
  std::optional<SkipReason> skipped;          // set when the frame took nothing
  SchedulerClock::Steady::time_point started;  // when its first shot began
  std::vector<ShotReport> shots;
};

// A frame, as the run reports it.
struct FrameReport {
  std::uint64_t frame = 0;
  SchedulerClock::Wall::time_point due;
  std::optional<SkipReason> skipped;
  std::chrono::nanoseconds late{0};  // frames taken only
  std::vector<ShotReport> shots;
};

// Consecutive frames skipped for one reason.
struct SkippedRun {
  std::uint64_t frame = 0;   // the first
  std::uint64_t frames = 0;  // how many
  SkipReason reason = SkipReason::Late;
};

// What clients read back at one moment. Plain values.
struct SequenceView {
  SequenceState state = SequenceState::Running;
  SequencePlan plan;
  SchedulerClock::Wall::time_point start;
  std::uint64_t frame = 0;  // frames handled (taken or skipped) so far
  std::optional<SchedulerClock::Wall::time_point> nextDue;
  std::uint64_t taken = 0;  // frames with at least one picture
  std::uint64_t shots = 0;  // pictures downloaded
  std::uint64_t skippedTotal = 0;
  std::deque<SkippedRun> skipped;  // the newest kKeptSkippedRuns
  std::uint64_t lateCount = 0;
  double lateP50Ms = 0, lateP95Ms = 0, lateMaxMs = 0;
};

class SequenceRun;

// A frame's work is handed the frame and the run, to ask whether it should
// stop between shots and to wait on the run's clock.
struct FrameCall {
  std::uint64_t frame;
  SchedulerClock::Steady::time_point due;
  SchedulerClock::Steady::time_point deadline;  // due + half an interval
  const std::vector<double>& bracket;
  SequenceRun& run;
};

// What a frame does: its shots. Runs on the run's thread.
class FrameWork {
 public:
  virtual ~FrameWork() = default;
  virtual FrameOutcome shoot(const FrameCall& call) = 0;
};

// Hears the run, on its thread, after its view has changed.
class SequenceListener {
 public:
  virtual ~SequenceListener() = default;
  virtual void frameDone(const FrameReport& report, const SequenceView& view) = 0;
  // Paused, resumed, done or stopped (and the start, before frame 1).
  virtual void stateChanged(const SequenceView& view) = 0;
};

class SequenceRun {
 public:
  static constexpr std::size_t kKeptSkippedRuns = 100;

  // start: the wall-clock moment frame 1 is due; none: now.
  SequenceRun(SequencePlan plan, SchedulerClock& clock, FrameWork& work, SequenceListener* listener,
              std::optional<SchedulerClock::Wall::time_point> start = std::nullopt);
  SequenceRun(const SequenceRun&) = delete;
  SequenceRun& operator=(const SequenceRun&) = delete;

  // Walks the plan to its last frame, or until stop(). Once.
  void run() EXCLUDES(mutex_);

  // Frames due while paused are skipped; resuming keeps the schedule.
  void pause() EXCLUDES(mutex_);
  void resume() EXCLUDES(mutex_);
  // Ends the run after the shot under way.
  void stop() EXCLUDES(mutex_);
  SequenceView view() const EXCLUDES(mutex_);

  // For a frame's work.
  bool stopping() const EXCLUDES(mutex_);
  SchedulerClock::Steady::time_point now() { return clock_.now(); }
  // Waits on the run's clock until `until`; false when the run is being
  // stopped (at once or meanwhile).
  bool waitUntil(SchedulerClock::Steady::time_point until) EXCLUDES(mutex_);

 private:
  FrameReport take(std::uint64_t frame, SchedulerClock::Steady::time_point due) EXCLUDES(mutex_);
  void record(const FrameReport& report) REQUIRES(mutex_);
  void setState(SequenceState state) EXCLUDES(mutex_);
  SequenceView viewLocked() const REQUIRES(mutex_);
  SchedulerClock::Wall::time_point wallOf(SchedulerClock::Steady::time_point t) const;

  const SequencePlan plan_;
  SchedulerClock& clock_;
  FrameWork& work_;
  SequenceListener* const listener_;
  // The start on both clocks; due times are reckoned on the steady one.
  SchedulerClock::Steady::time_point start_;
  SchedulerClock::Wall::time_point startWall_;

  mutable Mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool paused_ GUARDED_BY(mutex_) = false;
  SequenceState state_ GUARDED_BY(mutex_) = SequenceState::Running;
  std::uint64_t frame_ GUARDED_BY(mutex_) = 0;      // handled
  std::uint64_t nextFrame_ GUARDED_BY(mutex_) = 1;  // not yet begun
  std::uint64_t taken_ GUARDED_BY(mutex_) = 0;
  std::uint64_t shots_ GUARDED_BY(mutex_) = 0;
  std::uint64_t skippedTotal_ GUARDED_BY(mutex_) = 0;
  std::deque<SkippedRun> skipped_ GUARDED_BY(mutex_);
  LatenessStats late_ GUARDED_BY(mutex_);
};
