// A sequence clock that tests drive: a wait ends at once with the clock moved
// to its end, so a day of frames runs in a moment, and advance() moves it by
// hand. The wall clock keeps a fixed offset from it. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>

#include "camera/SchedulerClock.h"

class DrivenClock final : public SchedulerClock {
 public:
  // 2026-01-02T10:00:00Z on the wall, an arbitrary moment on the steady clock.
  static constexpr std::chrono::milliseconds kWallStart{1767348000000};

  Steady::time_point now() override { return Steady::time_point(Steady::duration(ticks_.load())); }
  Wall::time_point wallNow() override {
    return Wall::time_point(std::chrono::duration_cast<Wall::duration>(kWallStart)) +
           std::chrono::duration_cast<Wall::duration>(now() - origin());
  }
  void waitUntil(MutexLock&, std::condition_variable&, Steady::time_point until) override {
    moveTo(until);
  }
  void advance(std::chrono::nanoseconds by) { ticks_ += Steady::duration(by).count(); }
  static Steady::time_point origin() { return Steady::time_point(std::chrono::hours(1000)); }

 private:
  void moveTo(Steady::time_point t) {
    auto was = ticks_.load();
    while (t.time_since_epoch().count() > was &&
           !ticks_.compare_exchange_weak(was, t.time_since_epoch().count())) {
    }
  }
  std::atomic<Steady::rep> ticks_{origin().time_since_epoch().count()};
};
