// The grab loop of a live-view feed and its hand-over to viewers.
#include "server/slot/LiveFeed.h"

#include <algorithm>

#include "camera/CameraController.h"
#include "server/slot/CameraGate.h"

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds intervalFor(int fps) {
  fps = std::clamp(fps, LiveFeed::kMinFps, LiveFeed::kMaxFps);
  return std::chrono::microseconds(1000000 / fps);
}

}  // namespace

LiveFeed::LiveFeed(CameraController& camera, CameraGate& gate, int maxFps)
    : camera_(camera), gate_(gate), interval_(intervalFor(maxFps)) {
  thread_ = std::thread([this] { loop(); });
}

LiveFeed::~LiveFeed() {
  stop();
  if (thread_.joinable()) thread_.join();
}

LiveFeed::Viewer::~Viewer() {
  wake_.reset();
  {
    MutexLock lock(feed_.mutex_);
    --feed_.viewers_;
    feed_.lastViewerLeft_ = Clock::now();
  }
  feed_.changed_.notify_all();
}

std::unique_ptr<LiveFeed::Viewer> LiveFeed::watch(std::function<void()> wake) {
  std::unique_ptr<WakeList::Subscription> subscription;
  if (wake) subscription = wakes_.subscribe(std::move(wake));
  {
    MutexLock lock(mutex_);
    ++viewers_;
  }
  changed_.notify_all();
  return std::unique_ptr<Viewer>(new Viewer(*this, std::move(subscription)));
}

LiveFrame LiveFeed::latest() const {
  MutexLock lock(mutex_);
  return latest_;
}

LiveFrame LiveFeed::fresh() const {
  MutexLock lock(mutex_);
  if (!grabbing_ || !latest_.jpeg || Clock::now() - latest_.grabbedSteady >= interval_) {
    return LiveFrame();
  }
  return latest_;
}

bool LiveFeed::running() const {
  MutexLock lock(mutex_);
  return grabbing_;
}

std::uint64_t LiveFeed::grabCount() const {
  MutexLock lock(mutex_);
  return grabs_;
}

void LiveFeed::stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

bool LiveFeed::grabOnce(std::vector<std::uint8_t>& picture) {
  // A reader never waits for a connect or disconnect: the loop then skips
  // this turn and goes on by itself once the camera is back.
  CameraGate::Reader read(gate_);
  if (!read.held() || !camera_.hasDevice()) return false;
  {
    MutexLock lock(mutex_);
    ++grabs_;
  }
  return camera_.grabLiveViewFrame(picture);
}

void LiveFeed::publish(std::vector<std::uint8_t>&& picture) {
  {
    MutexLock lock(mutex_);
    // A camera that has not rendered anew hands out the same picture again.
    if (latest_.jpeg && *latest_.jpeg == picture) return;
    latest_.jpeg = std::make_shared<const std::vector<std::uint8_t>>(std::move(picture));
    ++latest_.sequence;
    latest_.grabbedAt = std::chrono::system_clock::now();
    latest_.grabbedSteady = Clock::now();
  }
  wakes_.notifyAll();
}

void LiveFeed::loop() {
  Clock::time_point next = Clock::now();
  while (true) {
    {
      MutexLock lock(mutex_);
      // Lambdas are checked on their own: each says it runs under the lock.
      const auto watched = [this]() REQUIRES(mutex_) {
        return stopping_ || viewers_ > 0 || Clock::now() - lastViewerLeft_ < kLinger;
      };
      if (!watched()) {
        grabbing_ = false;
        lock.wait(changed_, [this]() REQUIRES(mutex_) { return stopping_ || viewers_ > 0; });
        next = Clock::now();
      }
      if (stopping_) {
        grabbing_ = false;
        return;
      }
      grabbing_ = true;
    }
    std::vector<std::uint8_t> picture;
    if (grabOnce(picture)) publish(std::move(picture));

    // Paced from the planned start, so the rate holds whatever a grab
    // costs; after a stall the plan restarts instead of catching up.
    next += interval_;
    const Clock::time_point now = Clock::now();
    if (next < now) next = now;
    MutexLock lock(mutex_);
    lock.waitUntil(changed_, next, [this]() REQUIRES(mutex_) { return stopping_; });
  }
}
