// TileFeed: one camera's live view as small pictures, for a wall of tiles
// showing every camera at once. While a viewer watches, it follows the
// camera's LiveFeed at a few pictures a second and keeps the newest as a
// copy kWidth pixels wide, made once with the JPEG library's scaled
// decoding however many viewers there are; viewers read the newest copy
// when they are ready, as LiveFeed's do. Its thread sleeps while nobody
// watches; as a part of its slot it ends for good when the camera leaves or
// the server stops. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "common/ThreadAnnotations.h"
#include "server/events/WakeList.h"
#include "server/slot/FeedViewer.h"
#include "server/slot/LiveFeed.h"
#include "server/slot/SlotObserver.h"

class TileFeed : public SlotObserver {
 public:
  // Enough for a picture that reads as live (at least 5 a second) with room
  // for a busy machine, and a quarter of a 1024-wide view: the library
  // decodes at 1/4 scale directly, without a shrink.
  static constexpr int kFps = 8;
  static constexpr int kWidth = 256;
  static constexpr int kQuality = 70;

  explicit TileFeed(LiveFeed& source);
  ~TileFeed() override;  // ends the thread
  TileFeed(const TileFeed&) = delete;
  TileFeed& operator=(const TileFeed&) = delete;

  // A viewer: copies are made while one exists. Its wake function (may be
  // empty) is called after each new copy, as WakeList says.
  using Viewer = FeedViewer;
  std::unique_ptr<Viewer> watch(std::function<void()> wake = {}) EXCLUDES(mutex_);

  // The newest copy: its own sequence (1, 2, ...), the grab time of the
  // picture it was made from. Empty before the first.
  LiveFrame latest() const EXCLUDES(mutex_);
  std::uint64_t scaled() const EXCLUDES(mutex_);  // copies made, for figures

  void stop() EXCLUDES(mutex_);
  void removed(CameraSlot&) override { stop(); }
  void shutdown(CameraSlot&) override { stop(); }

 private:
  void loop() EXCLUDES(mutex_);
  // Makes the copy of the source's newest picture when it is new.
  void scaleNewest(std::uint64_t& done) EXCLUDES(mutex_);

  LiveFeed& source_;
  WakeList wakes_;
  mutable Mutex mutex_;
  std::condition_variable changed_;
  int viewers_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool sourceMoved_ GUARDED_BY(mutex_) = false;  // the source published since the last look
  LiveFrame latest_ GUARDED_BY(mutex_);
  std::uint64_t scaled_ GUARDED_BY(mutex_) = 0;
  std::thread thread_;
};
