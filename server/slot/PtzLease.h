// PtzLease: the time limit on one camera's continuous pan/tilt move. A move
// sent with a hold runs only while renewals keep coming; when none came
// within the hold, the lease's own timer thread reports it, so the owner can
// stop the head even if the client that moved it is gone. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <thread>

#include "common/ThreadAnnotations.h"

class PtzLease {
 public:
  static constexpr int kMinHoldMs = 100;
  static constexpr int kMaxHoldMs = 5000;
  // Any hold a client asks for, brought into kMinHoldMs..kMaxHoldMs.
  static int clampHold(int holdMs);

  // Called on the lease's thread, with none of the lease's locks held, once
  // a lease has gone a whole hold without renewal. The owner confirms with
  // expireIf(generation), under the lock that orders its head commands, so a
  // renewal or a new move that got there first wins.
  using Expiry = std::function<void(std::uint64_t generation)>;
  explicit PtzLease(Expiry onExpiry);
  // Ends the timer thread; onExpiry is not running and is never called after.
  ~PtzLease();
  PtzLease(const PtzLease&) = delete;
  PtzLease& operator=(const PtzLease&) = delete;

  // A continuous move at these speeds was sent: a new lease replaces any other.
  void start(std::int32_t pan, std::int32_t tilt, int holdMs) EXCLUDES(mutex_);
  // Pushes the deadline one hold further; false without a lease.
  bool renew() EXCLUDES(mutex_);
  // renew() when the lease is for these speeds, taking holdMs as its hold.
  bool renewIfSame(std::int32_t pan, std::int32_t tilt, int holdMs) EXCLUDES(mutex_);
  // Ends the lease; true when one was running.
  bool end() EXCLUDES(mutex_);
  // Ends lease `generation` if it is still running and past its deadline.
  bool expireIf(std::uint64_t generation) EXCLUDES(mutex_);

 private:
  using Clock = std::chrono::steady_clock;
  void run() EXCLUDES(mutex_);

  const Expiry onExpiry_;
  Mutex mutex_;
  std::condition_variable changed_;
  bool quit_ GUARDED_BY(mutex_) = false;
  bool active_ GUARDED_BY(mutex_) = false;
  std::uint64_t generation_ GUARDED_BY(mutex_) = 0;
  std::int32_t pan_ GUARDED_BY(mutex_) = 0;
  std::int32_t tilt_ GUARDED_BY(mutex_) = 0;
  std::chrono::milliseconds hold_ GUARDED_BY(mutex_){kMinHoldMs};
  Clock::time_point deadline_ GUARDED_BY(mutex_);
  std::thread timer_ GUARDED_BY(mutex_);  // from the first lease on
};
