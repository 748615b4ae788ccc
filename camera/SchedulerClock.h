// The clock a scheduler (a sequence, a camera's supervisor) keeps time by,
// given to it as a parameter so that a test can drive a day of frames in a
// moment, or a reconnection plan step by step. Due times are on the steady
// clock, which never jumps; the wall clock only places them for people and
// for a start agreed across machines.
#pragma once

#include <chrono>
#include <condition_variable>

#include "common/ThreadAnnotations.h"

class SchedulerClock {
 public:
  using Steady = std::chrono::steady_clock;
  using Wall = std::chrono::system_clock;

  virtual ~SchedulerClock() = default;
  virtual Steady::time_point now() = 0;
  virtual Wall::time_point wallNow() = 0;
  // Sleeps on changed (its mutex held through lock) until `until` or a
  // notify, whichever comes first; the caller looks at its state again.
  virtual void waitUntil(MutexLock& lock, std::condition_variable& changed,
                         Steady::time_point until) = 0;
};

// The machine's own clocks. Thread-safe.
class MachineClock final : public SchedulerClock {
 public:
  Steady::time_point now() override { return Steady::now(); }
  Wall::time_point wallNow() override { return Wall::now(); }
  void waitUntil(MutexLock& lock, std::condition_variable& changed,
                 Steady::time_point until) override {
    lock.waitUntil(changed, until);
  }
};

// `clock`, or the machine's when null: one for the whole program, since it
// keeps no state, and never destroyed, so a thread still running at exit
// may use it.
inline SchedulerClock& clockOrMachine(SchedulerClock* clock) {
  static MachineClock* const machine = new MachineClock;
  return clock != nullptr ? *clock : *machine;
}
