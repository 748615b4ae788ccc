// A scheduler clock that moves only when a test advances it, and tells when
// its sleeper will wake: a test sees the plan a scheduler made (its next
// look at exactly +500 ms, say) before it moves time there. A wait ends at
// a notify, or within a few real milliseconds so that the sleeper sees an
// advance. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>

#include "camera/SchedulerClock.h"

class SteppedClock final : public SchedulerClock {
 public:
  Steady::time_point now() override { return Steady::time_point(Steady::duration(ticks_.load())); }
  Wall::time_point wallNow() override {
    return Wall::time_point(std::chrono::duration_cast<Wall::duration>(now() - origin()));
  }
  void waitUntil(MutexLock& lock, std::condition_variable& changed,
                 Steady::time_point until) override {
    wakeAt_.store(until.time_since_epoch().count());
    if (now() < until) lock.waitUntil(changed, Steady::now() + std::chrono::milliseconds(2));
  }

  void advance(std::chrono::nanoseconds by) { ticks_ += Steady::duration(by).count(); }
  // How far past the start the latest wait was to end.
  std::chrono::milliseconds wakeAt() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        Steady::time_point(Steady::duration(wakeAt_.load())) - origin());
  }
  static Steady::time_point origin() { return Steady::time_point(std::chrono::hours(1000)); }

 private:
  std::atomic<Steady::rep> ticks_{origin().time_since_epoch().count()};
  std::atomic<Steady::rep> wakeAt_{origin().time_since_epoch().count()};
};
