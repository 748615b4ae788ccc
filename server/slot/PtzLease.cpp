// The lease's timer: one thread, started with the first lease, that sleeps
// on a condition variable until the running lease's deadline (or until
// there is a lease at all). A camera never moved with a lease costs none.
#include "server/slot/PtzLease.h"

#include <algorithm>

int PtzLease::clampHold(int holdMs) { return std::clamp(holdMs, kMinHoldMs, kMaxHoldMs); }

PtzLease::PtzLease(Expiry onExpiry) : onExpiry_(std::move(onExpiry)) {}

PtzLease::~PtzLease() {
  std::thread timer;
  {
    MutexLock lock(mutex_);
    quit_ = true;
    timer = std::move(timer_);
  }
  changed_.notify_all();
  if (timer.joinable()) timer.join();
}

void PtzLease::start(std::int32_t pan, std::int32_t tilt, int holdMs) {
  {
    MutexLock lock(mutex_);
    if (!timer_.joinable()) timer_ = std::thread([this] { run(); });
    active_ = true;
    ++generation_;
    pan_ = pan;
    tilt_ = tilt;
    hold_ = std::chrono::milliseconds(clampHold(holdMs));
    deadline_ = Clock::now() + hold_;
  }
  changed_.notify_all();
}

bool PtzLease::renew() {
  MutexLock lock(mutex_);
  if (!active_) return false;
  // A later deadline needs no wake-up: the timer finds it when the old one
  // passes and sleeps again.
  deadline_ = Clock::now() + hold_;
  return true;
}

bool PtzLease::renewIfSame(std::int32_t pan, std::int32_t tilt, int holdMs) {
  {
    MutexLock lock(mutex_);
    if (!active_ || pan != pan_ || tilt != tilt_) return false;
    hold_ = std::chrono::milliseconds(clampHold(holdMs));
    deadline_ = Clock::now() + hold_;
  }
  // The hold may have become shorter than the wait under way.
  changed_.notify_all();
  return true;
}

bool PtzLease::end() {
  MutexLock lock(mutex_);
  const bool wasActive = active_;
  active_ = false;
  return wasActive;
}

bool PtzLease::expireIf(std::uint64_t generation) {
  MutexLock lock(mutex_);
  if (!active_ || generation != generation_ || Clock::now() < deadline_) return false;
  active_ = false;
  return true;
}

void PtzLease::run() {
  // The lease last reported, so an owner that leaves it running (it should
  // not) costs a wait for the next change rather than a busy loop.
  std::uint64_t reported = 0;
  Clock::time_point reportedDeadline;
  for (;;) {
    {
      MutexLock lock(mutex_);
      lock.wait(changed_, [&]() REQUIRES(mutex_) {
        return quit_ || (active_ && (generation_ != reported || deadline_ != reportedDeadline));
      });
      if (quit_) return;
      const std::uint64_t generation = generation_;
      const Clock::time_point deadline = deadline_;
      // Wakes for the deadline, a quit, or any change to the lease (a new
      // one, an end, a shorter hold); the loop then looks again.
      const bool changed = lock.waitUntil(changed_, deadline, [&]() REQUIRES(mutex_) {
        return quit_ || !active_ || generation_ != generation || deadline_ < deadline;
      });
      if (changed || Clock::now() < deadline_) continue;
      reported = generation_;
      reportedDeadline = deadline_;
    }
    // Outside the lock: the owner takes its own locks, then expireIf.
    onExpiry_(reported);
  }
}
