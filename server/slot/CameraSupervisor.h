// CameraSupervisor: watches the slot's camera from a thread of its own and
// brings it back after a loss. As the camera's observer it only records the
// SDK's events and wakes its thread; the thread turns a lost link into
// "perdida", makes the user's connection again (0.5 s after the loss, then
// at most 1 s after each failed attempt ended) until it holds or the user
// connects or disconnects, marks a connected camera whose running live view
// has brought no picture for 2 s as suspect, and publishes each downloaded
// file as a "capture" event. Thread-safe; the thread runs from start() to
// stop().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera/DeviceCallback.h"
#include "camera/SchedulerClock.h"
#include "common/ThreadAnnotations.h"
#include "server/slot/CameraHealth.h"
#include "server/slot/SlotObserver.h"

class CameraSlot;

class CameraSupervisor : public DeviceObserver, public SlotObserver {
 public:
  static constexpr std::chrono::milliseconds kFirstAttempt{500};
  static constexpr std::chrono::milliseconds kBetweenAttempts{1000};
  static constexpr std::chrono::milliseconds kStall{2000};
  // How often a connected camera's live view is looked at.
  static constexpr std::chrono::milliseconds kWatchPeriod{200};

  // Uses the slot's controller, gate, feed, health and event log, which
  // need not be built yet: nothing is touched before start(). Plans and
  // waits by `clock` (the machine's when null), which must outlive it. The
  // live view's stall is measured against the feed's own timestamps, so
  // only the machine's clock makes sense for it.
  CameraSupervisor(CameraSlot& slot, SchedulerClock* clock);
  ~CameraSupervisor() override;  // stop()
  CameraSupervisor(const CameraSupervisor&) = delete;
  CameraSupervisor& operator=(const CameraSupervisor&) = delete;

  void start();
  // Asks the thread to end without waiting: an attempt under way gives up.
  void requestStop() EXCLUDES(mutex_);
  // requestStop(), then waits for the thread.
  void stop() EXCLUDES(mutex_);
  // Something changed (the health, the user's request): look again now.
  void wake() EXCLUDES(mutex_);

  void onConnected() noexcept override EXCLUDES(mutex_);
  void onDisconnected(std::uint32_t error) noexcept override EXCLUDES(mutex_);
  void onError(std::uint32_t error) noexcept override EXCLUDES(mutex_);
  void onDownload(const char* path) noexcept override EXCLUDES(mutex_);

  // The camera leaves or the server stops: no attempt begins any more.
  void removed(CameraSlot&) override { requestStop(); }
  void shutdown(CameraSlot&) override { requestStop(); }

 private:
  using Clock = SchedulerClock::Steady;
  enum class Outcome { Connected, Failed, GaveUp };

  // The reconnection under way; touched by the thread only.
  struct Plan {
    std::uint64_t generation = 0;
    int attempts = 0;
    Clock::time_point next;
  };

  void run() EXCLUDES(mutex_);
  // One look at the camera; returns when to look again.
  Clock::time_point step() EXCLUDES(mutex_);
  void watchFeed(const CameraHealthView& health, Clock::time_point now);
  // number 0 is a rig camera's first connection, 1, 2, ... reconnections.
  void attempt(std::uint64_t generation, int number) EXCLUDES(mutex_);
  Outcome awaitLink(Clock::time_point deadline) EXCLUDES(mutex_);
  void publishDownloads() EXCLUDES(mutex_);
  void publishDownload(const std::string& path);

  // Waits on changed_ until `until`, a change or the stop, whichever first.
  void waitForChange(MutexLock& lock, Clock::time_point until) REQUIRES(mutex_);

  CameraSlot& slot_;
  SchedulerClock& clock_;
  std::atomic<std::uint32_t> lossCode_{0};

  Mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool signalled_ GUARDED_BY(mutex_) = false;
  std::vector<std::string> downloads_ GUARDED_BY(mutex_);

  Plan plan_;
  std::optional<Clock::time_point> feedSeenRunning_;
  std::thread thread_;
};
