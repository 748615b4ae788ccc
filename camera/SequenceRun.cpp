// The run's loop: wait for the due time, decide whether the frame can be
// taken, let the work take it, record it.
#include "camera/SequenceRun.h"

#include <utility>

namespace {

using Steady = SchedulerClock::Steady;
using Wall = SchedulerClock::Wall;

}  // namespace

const char* sequenceStateName(SequenceState state) {
  switch (state) {
    case SequenceState::Running:
      return "rodando";
    case SequenceState::Paused:
      return "pausada";
    case SequenceState::Done:
      return "concluida";
    case SequenceState::Stopped:
      break;
  }
  return "parada";
}

const char* skipReasonName(SkipReason reason) {
  switch (reason) {
    case SkipReason::Lost:
      return "perdida";
    case SkipReason::Late:
      return "atrasada";
    case SkipReason::Busy:
      return "ocupada";
    case SkipReason::Paused:
      break;
  }
  return "pausada";
}

SequenceRun::SequenceRun(SequencePlan plan, SchedulerClock& clock, FrameWork& work,
                         SequenceListener* listener, std::optional<Wall::time_point> start)
    : plan_(std::move(plan)), clock_(clock), work_(work), listener_(listener) {
  const Steady::time_point now = clock_.now();
  const Wall::time_point wallNow = clock_.wallNow();
  startWall_ = start ? *start : wallNow;
  // A start agreed on the wall clock is carried over to the steady one once;
  // a later step of the wall clock moves no frame.
  start_ = now + std::chrono::duration_cast<Steady::duration>(startWall_ - wallNow);
}

void SequenceRun::run() {
  if (listener_ != nullptr) listener_->stateChanged(view());
  for (std::uint64_t frame = 1; plan_.hasFrame(frame); ++frame) {
    const Steady::time_point due = start_ + plan_.dueAfterStart(frame);
    {
      MutexLock lock(mutex_);
      while (!stopping_ && clock_.now() < due) clock_.waitUntil(lock, changed_, due);
      if (stopping_) break;
    }
    const FrameReport report = take(frame, due);
    SequenceView seen;
    {
      MutexLock lock(mutex_);
      // Stopped before its first shot: the run ends before this frame.
      if (stopping_ && report.skipped) break;
      record(report);
      seen = viewLocked();
    }
    if (listener_ != nullptr) listener_->frameDone(report, seen);
  }
  bool stopped;
  {
    MutexLock lock(mutex_);
    stopped = stopping_;
  }
  setState(stopped ? SequenceState::Stopped : SequenceState::Done);
}

FrameReport SequenceRun::take(std::uint64_t frame, Steady::time_point due) {
  FrameReport report;
  report.frame = frame;
  report.due = wallOf(due);
  bool paused;
  {
    MutexLock lock(mutex_);
    paused = paused_;
    nextFrame_ = frame + 1;
  }
  const Steady::time_point deadline = due + plan_.slack();
  if (paused) {
    report.skipped = SkipReason::Paused;
  } else if (clock_.now() > deadline) {
    // The frame before ran over this one's slack.
    report.skipped = SkipReason::Late;
  } else {
    FrameOutcome outcome = work_.shoot(FrameCall{frame, due, deadline, plan_.bracket, *this});
    report.skipped = outcome.skipped;
    report.shots = std::move(outcome.shots);
    if (!report.skipped) report.late = outcome.started - due;
  }
  return report;
}

void SequenceRun::record(const FrameReport& report) {
  frame_ = report.frame;
  if (report.skipped) {
    ++skippedTotal_;
    if (!skipped_.empty() && skipped_.back().reason == *report.skipped &&
        skipped_.back().frame + skipped_.back().frames == report.frame) {
      ++skipped_.back().frames;
    } else {
      skipped_.push_back(SkippedRun{report.frame, 1, *report.skipped});
      if (skipped_.size() > kKeptSkippedRuns) skipped_.pop_front();
    }
    return;
  }
  ++taken_;
  for (const ShotReport& shot : report.shots) shots_ += shot.ok ? 1 : 0;
  late_.add(report.late);
}

void SequenceRun::pause() {
  {
    MutexLock lock(mutex_);
    if (state_ != SequenceState::Running) return;
    paused_ = true;
  }
  setState(SequenceState::Paused);
}

void SequenceRun::resume() {
  {
    MutexLock lock(mutex_);
    if (state_ != SequenceState::Paused) return;
    paused_ = false;
  }
  setState(SequenceState::Running);
}

void SequenceRun::stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

bool SequenceRun::stopping() const {
  MutexLock lock(mutex_);
  return stopping_;
}

bool SequenceRun::waitUntil(Steady::time_point until) {
  MutexLock lock(mutex_);
  while (!stopping_ && clock_.now() < until) clock_.waitUntil(lock, changed_, until);
  return !stopping_;
}

void SequenceRun::setState(SequenceState state) {
  SequenceView seen;
  {
    MutexLock lock(mutex_);
    // A run that has ended stays ended.
    if (state_ == SequenceState::Done || state_ == SequenceState::Stopped) return;
    state_ = state;
    seen = viewLocked();
  }
  if (listener_ != nullptr) listener_->stateChanged(seen);
}

SequenceView SequenceRun::view() const {
  MutexLock lock(mutex_);
  return viewLocked();
}

SequenceView SequenceRun::viewLocked() const {
  SequenceView v;
  v.state = state_;
  v.plan = plan_;
  v.start = startWall_;
  v.frame = frame_;
  const bool ongoing = state_ == SequenceState::Running || state_ == SequenceState::Paused;
  if (ongoing && plan_.hasFrame(nextFrame_)) {
    v.nextDue = wallOf(start_ + plan_.dueAfterStart(nextFrame_));
  }
  v.taken = taken_;
  v.shots = shots_;
  v.skippedTotal = skippedTotal_;
  v.skipped = skipped_;
  v.lateCount = late_.count();
  v.lateP50Ms = late_.quantileUs(0.50) / 1000.0;
  v.lateP95Ms = late_.quantileUs(0.95) / 1000.0;
  v.lateMaxMs = late_.maxUs() / 1000.0;
  return v;
}

Wall::time_point SequenceRun::wallOf(Steady::time_point t) const {
  return startWall_ + std::chrono::duration_cast<Wall::duration>(t - start_);
}
