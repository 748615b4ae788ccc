// The small copies of a camera's live view and their hand-over to viewers.
#include "server/slot/TileFeed.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "common/JpegScale.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kInterval = std::chrono::microseconds(1000000 / TileFeed::kFps);

}  // namespace

TileFeed::TileFeed(LiveFeed& source) : source_(source) {
  thread_ = std::thread([this] { loop(); });
}

TileFeed::~TileFeed() {
  stop();
  if (thread_.joinable()) thread_.join();
}

std::unique_ptr<TileFeed::Viewer> TileFeed::watch(std::function<void()> wake) {
  std::unique_ptr<WakeList::Subscription> subscription;
  if (wake) subscription = wakes_.subscribe(std::move(wake));
  {
    MutexLock lock(mutex_);
    ++viewers_;
  }
  changed_.notify_all();
  return std::make_unique<Viewer>(std::move(subscription), [this] {
    {
      MutexLock lock(mutex_);
      --viewers_;
    }
    changed_.notify_all();
  });
}

LiveFrame TileFeed::latest() const {
  MutexLock lock(mutex_);
  return latest_;
}

std::uint64_t TileFeed::scaled() const {
  MutexLock lock(mutex_);
  return scaled_;
}

void TileFeed::stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void TileFeed::scaleNewest(std::uint64_t& done) {
  const LiveFrame source = source_.latest();
  if (!source.jpeg || source.sequence == done) return;
  done = source.sequence;
  std::vector<std::uint8_t> small;
  if (!jpegscale::scaleJpeg(source.jpeg->data(), source.jpeg->size(), kWidth, kQuality, small)) {
    return;  // not a picture the library reads: the tile keeps the one before
  }
  {
    MutexLock lock(mutex_);
    latest_.jpeg = std::make_shared<const std::vector<std::uint8_t>>(std::move(small));
    ++latest_.sequence;
    latest_.grabbedAt = source.grabbedAt;
    latest_.grabbedSteady = source.grabbedSteady;
    ++scaled_;
  }
  wakes_.notifyAll();
}

void TileFeed::loop() {
  while (true) {
    {
      MutexLock lock(mutex_);
      lock.wait(changed_, [this]() REQUIRES(mutex_) { return stopping_ || viewers_ > 0; });
      if (stopping_) return;
      sourceMoved_ = true;  // the feed may hold a picture already
    }
    // Watched: the feed runs at the tile rate at least, until the last
    // viewer leaves.
    std::unique_ptr<LiveFeed::Viewer> source = source_.watch(
        [this] {
          {
            MutexLock lock(mutex_);
            sourceMoved_ = true;
          }
          changed_.notify_all();
        },
        kFps);
    std::uint64_t done = 0;
    Clock::time_point due = Clock::now();
    while (true) {
      {
        MutexLock lock(mutex_);
        const auto leaving = [this]() REQUIRES(mutex_) { return stopping_ || viewers_ == 0; };
        lock.wait(changed_, [&]() REQUIRES(mutex_) { return leaving() || sourceMoved_; });
        if (!leaving()) lock.waitUntil(changed_, due, leaving);
        if (leaving()) break;
        sourceMoved_ = false;
      }
      // Copies go on a schedule, not a gap after the last one: kFps a second
      // on average whatever rate the feed runs at for a full-size viewer, and
      // a picture that comes a hair early waits a hair instead of a turn;
      // after a pause the schedule starts again rather than catching up.
      due = std::max(due + kInterval, Clock::now() + kInterval / 2);
      scaleNewest(done);
    }
    // Outside the lock: the feed's wake, which takes it, may be under way.
    source.reset();
  }
}
