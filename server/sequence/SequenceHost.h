// SequenceHost: one sequence at a time on a thread of its own, kept readable
// after it ends until the next starts; what a frame does and where its
// events go is the derived class's (a camera's sequencer, the rig's).
// Thread-safe. A derived class calls finish() first in its destructor, so
// the thread has ended before the members its frames use go.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "camera/SequenceRun.h"
#include "common/ThreadAnnotations.h"

class SequenceHost : protected FrameWork, protected SequenceListener {
 public:
  // clock null: the machine's.
  explicit SequenceHost(SchedulerClock* clock);
  ~SequenceHost() override;  // finish()
  SequenceHost(const SequenceHost&) = delete;
  SequenceHost& operator=(const SequenceHost&) = delete;

  // Starts a sequence unless one runs or the host was shut down (false:
  // out is left alone). before runs under the host's lock once the start is
  // sure, ahead of the first frame (null: nothing).
  bool start(const SequencePlan& plan, std::optional<SchedulerClock::Wall::time_point> start,
             SequenceView& out, const std::function<void()>& before = {}) EXCLUDES(mutex_);
  // The running or last sequence; none before the first.
  std::optional<SequenceView> view() const EXCLUDES(mutex_);
  std::optional<SequenceView> pause() EXCLUDES(mutex_);
  std::optional<SequenceView> resume() EXCLUDES(mutex_);
  std::optional<SequenceView> stop() EXCLUDES(mutex_);
  // The sequence ends after the shot under way and no other starts.
  void shutdown() EXCLUDES(mutex_);
  // shutdown(), then waits for the thread.
  void finish() EXCLUDES(mutex_);
  SchedulerClock& clock() { return clock_; }

 private:
  template <typename Control>
  std::optional<SequenceView> control(Control act) EXCLUDES(mutex_);

  SchedulerClock& clock_;
  mutable Mutex mutex_;
  bool shutdown_ GUARDED_BY(mutex_) = false;
  // Kept after its end, for GET; replaced by the next start.
  std::shared_ptr<SequenceRun> run_ GUARDED_BY(mutex_);
  std::thread thread_ GUARDED_BY(mutex_);
};
