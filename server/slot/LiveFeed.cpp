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

// When to grab next. A camera renders on its own clock, and asking it once
// per interval beats against that clock: a grab that comes a little early
// gets the picture already sent and the feed loses a whole interval, about
// halving its rate at a cap equal to the camera's rate. So a repeat is
// asked again shortly, a few times, and a new picture starts the next
// interval from the grab that brought it (pictures stay at least one
// interval apart: the cap). When new pictures keep needing a second ask,
// the next interval is planned a little later (up to an eighth of it), so
// the camera is mostly asked once per picture; the lead shrinks again while
// first asks succeed. A camera that keeps repeating (a frozen picture) is
// asked once per interval until it changes. Thread-bound.
class GrabPace {
 public:
  static constexpr int kRetries = 4;

  explicit GrabPace(std::chrono::microseconds interval)
      : interval_(interval),
        retryStep_(std::clamp<std::chrono::microseconds>(
            interval / 16, std::chrono::milliseconds(1), std::chrono::milliseconds(4))) {}

  // started: when the grab began; now: when it ended.
  Clock::time_point after(Clock::time_point started, bool grabbed, bool fresh,
                          Clock::time_point now) {
    if (fresh) {
      lead_ = askedAgain_ ? std::min(lead_ + retryStep_, interval_ / 8)
                          : std::max(lead_ - retryStep_ / 4, std::chrono::microseconds(0));
      askedAgain_ = false;
      retriesLeft_ = kRetries;
      planned_ = started + interval_ + lead_;
    } else if (grabbed && retriesLeft_ > 0) {
      --retriesLeft_;
      askedAgain_ = true;
      return now + retryStep_;
    } else {
      askedAgain_ = false;
      planned_ = (planned_ == Clock::time_point() ? started : planned_) + interval_;
    }
    // After a stall the plan restarts instead of catching up.
    if (planned_ < now) planned_ = now;
    return planned_;
  }

 private:
  std::chrono::microseconds interval_;
  std::chrono::microseconds retryStep_;
  std::chrono::microseconds lead_{0};
  int retriesLeft_ = kRetries;
  bool askedAgain_ = false;
  Clock::time_point planned_;
};

}  // namespace

LiveFeed::LiveFeed(CameraController& camera, CameraGate& gate, int maxFps)
    : camera_(camera), gate_(gate), interval_(intervalFor(maxFps)), lastWanted_(interval_) {}

LiveFeed::~LiveFeed() {
  stop();
  std::thread loop;
  {
    MutexLock lock(mutex_);
    loop = std::move(thread_);
  }
  if (loop.joinable()) loop.join();
}

std::unique_ptr<LiveFeed::Viewer> LiveFeed::watch(std::function<void()> wake, int fps) {
  std::unique_ptr<WakeList::Subscription> subscription;
  if (wake) subscription = wakes_.subscribe(std::move(wake));
  const std::chrono::microseconds interval =
      fps <= 0 ? interval_ : std::max(interval_, intervalFor(fps));
  {
    MutexLock lock(mutex_);
    ++viewers_;
    wanted_.insert(interval);
    // The grab loop's thread comes with the first viewer: a camera nobody
    // has watched costs none.
    if (!thread_.joinable() && !stopping_) thread_ = std::thread([this] { loop(); });
  }
  changed_.notify_all();
  return std::make_unique<Viewer>(std::move(subscription), [this, interval] {
    {
      MutexLock lock(mutex_);
      --viewers_;
      wanted_.erase(wanted_.find(interval));
      lastViewerLeft_ = Clock::now();
    }
    changed_.notify_all();
  });
}

std::chrono::microseconds LiveFeed::grabIntervalLocked() const {
  return wanted_.empty() ? lastWanted_ : *wanted_.begin();
}

std::chrono::microseconds LiveFeed::grabInterval() const {
  MutexLock lock(mutex_);
  return grabIntervalLocked();
}

LiveFrame LiveFeed::latest() const {
  MutexLock lock(mutex_);
  return latest_;
}

LiveFrame LiveFeed::fresh() const {
  MutexLock lock(mutex_);
  if (!grabbing_ || !latest_.jpeg || Clock::now() - latest_.grabbedSteady >= 2 * interval_) {
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

bool LiveFeed::publish(std::vector<std::uint8_t>&& picture) {
  {
    MutexLock lock(mutex_);
    // A camera that has not rendered anew hands out the same picture again.
    if (latest_.jpeg && *latest_.jpeg == picture) return false;
    latest_.jpeg = std::make_shared<const std::vector<std::uint8_t>>(std::move(picture));
    ++latest_.sequence;
    latest_.grabbedAt = std::chrono::system_clock::now();
    latest_.grabbedSteady = Clock::now();
  }
  wakes_.notifyAll();
  return true;
}

void LiveFeed::loop() {
  std::chrono::microseconds interval = interval_;
  GrabPace pace(interval);
  Clock::time_point next = Clock::now();
  while (true) {
    {
      MutexLock lock(mutex_);
      // A viewer that comes or goes may change the rate; the pace starts
      // afresh at the new one.
      if (!wanted_.empty()) lastWanted_ = *wanted_.begin();
      if (grabIntervalLocked() != interval) {
        interval = grabIntervalLocked();
        pace = GrabPace(interval);
      }
      // Lambdas are checked on their own: each says it runs under the lock.
      const auto watched = [this]() REQUIRES(mutex_) {
        return stopping_ || viewers_ > 0 || Clock::now() - lastViewerLeft_ < kLinger;
      };
      if (!watched()) {
        grabbing_ = false;
        lock.wait(changed_, [this]() REQUIRES(mutex_) { return stopping_ || viewers_ > 0; });
        next = Clock::now();
        interval = grabIntervalLocked();
        pace = GrabPace(interval);
      }
      if (stopping_) {
        grabbing_ = false;
        return;
      }
      grabbing_ = true;
    }
    const Clock::time_point started = Clock::now();
    std::vector<std::uint8_t> picture;
    const bool grabbed = grabOnce(picture);
    const bool fresh = grabbed && publish(std::move(picture));
    next = pace.after(started, grabbed, fresh, Clock::now());
    MutexLock lock(mutex_);
    // A viewer that needs a faster rate is served at once.
    lock.waitUntil(changed_, next, [this, interval]() REQUIRES(mutex_) {
      return stopping_ || (!wanted_.empty() && *wanted_.begin() < interval);
    });
  }
}
