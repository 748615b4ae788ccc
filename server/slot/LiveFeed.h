// LiveFeed: one camera's live view as one shared feed. A grab loop runs
// while at least one viewer watches, at the camera's own rate up to a cap
// (or the fastest rate its viewers ask for, when all ask for less);
// it skips a picture identical to the one before and publishes each new one
// with a sequence number and the time it was grabbed. Viewers read the
// newest picture when they are ready, so a slow viewer skips pictures and
// never holds up the camera or another viewer; memory stays at the newest
// picture plus the ones viewers are still sending. The loop takes the
// camera as a reader: it runs beside captures, setters and pan/tilt, and
// pauses while a connect or disconnect holds the camera; as a part of its
// slot it ends for good when the camera leaves or the server stops.
// Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/events/WakeList.h"
#include "server/slot/FeedViewer.h"
#include "server/slot/SlotObserver.h"

class CameraController;
class CameraGate;

struct LiveFrame {
  std::shared_ptr<const std::vector<std::uint8_t>> jpeg;  // null before the first
  std::uint64_t sequence = 0;                             // 1, 2, 3, ...
  std::chrono::system_clock::time_point grabbedAt;        // for clients
  std::chrono::steady_clock::time_point grabbedSteady;    // for ages
};

class LiveFeed : public SlotObserver {
 public:
  static constexpr int kDefaultFps = 30;
  static constexpr int kMinFps = 1;
  static constexpr int kMaxFps = 60;
  // How long the loop keeps grabbing after the last viewer left.
  static constexpr std::chrono::milliseconds kLinger{500};

  // maxFps is clamped to kMinFps..kMaxFps.
  LiveFeed(CameraController& camera, CameraGate& gate, int maxFps);
  ~LiveFeed() override;  // ends the loop
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // A viewer: the loop runs while one exists. Its wake function (may be
  // empty) is called after each new picture, as WakeList says. fps: the
  // rate this viewer needs (0: the cap); the loop grabs at the highest rate
  // its viewers need, never above the cap, so a wall of small pictures does
  // not make every camera render at full rate.
  using Viewer = FeedViewer;
  std::unique_ptr<Viewer> watch(std::function<void()> wake = {}, int fps = 0) EXCLUDES(mutex_);

  LiveFrame latest() const EXCLUDES(mutex_);
  // The newest picture when the loop is grabbing and it is younger than two
  // frame intervals; empty otherwise. While the loop grabs, its newest
  // picture is the newest the camera has (a camera slower than the cap
  // leaves more than one interval between pictures), so a single-picture
  // request can skip a camera round trip.
  LiveFrame fresh() const EXCLUDES(mutex_);
  bool running() const EXCLUDES(mutex_);
  std::chrono::microseconds frameInterval() const { return interval_; }
  // The interval the loop grabs at now: the cap's, or longer while every
  // viewer asks for less.
  std::chrono::microseconds grabInterval() const EXCLUDES(mutex_);
  std::uint64_t grabCount() const EXCLUDES(mutex_);  // SDK grabs made, for figures

  // Ends the loop for good (server shutdown); viewers see no new pictures.
  void stop() EXCLUDES(mutex_);
  void removed(CameraSlot&) override { stop(); }
  void shutdown(CameraSlot&) override { stop(); }

 private:
  void loop() EXCLUDES(mutex_);
  std::chrono::microseconds grabIntervalLocked() const REQUIRES(mutex_);
  bool grabOnce(std::vector<std::uint8_t>& picture);
  // False when the picture is the one published last.
  bool publish(std::vector<std::uint8_t>&& picture) EXCLUDES(mutex_);

  CameraController& camera_;
  CameraGate& gate_;
  const std::chrono::microseconds interval_;
  WakeList wakes_;

  mutable Mutex mutex_;
  std::condition_variable changed_;
  int viewers_ GUARDED_BY(mutex_) = 0;
  // The interval each viewer asks for; the shortest wins.
  std::multiset<std::chrono::microseconds> wanted_ GUARDED_BY(mutex_);
  // The interval of the viewers last there, kept while the loop lingers.
  std::chrono::microseconds lastWanted_ GUARDED_BY(mutex_);
  bool grabbing_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::chrono::steady_clock::time_point lastViewerLeft_ GUARDED_BY(mutex_);
  LiveFrame latest_ GUARDED_BY(mutex_);
  std::uint64_t grabs_ GUARDED_BY(mutex_) = 0;
  std::thread thread_ GUARDED_BY(mutex_);  // from the first viewer on
};
