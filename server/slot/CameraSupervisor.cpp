// The supervisor's thread: loss, reconnection attempts, the live view's
// stall watch and the capture events.
#include "server/slot/CameraSupervisor.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "camera/Defaults.h"
#include "common/IsoTime.h"
#include "server/slot/CameraSlot.h"

namespace {

// Long enough to mean "until woken".
constexpr std::chrono::hours kIdle{1};
// How often an attempt looks whether the user wants the camera meanwhile.
constexpr std::chrono::milliseconds kAttemptPoll{50};

}  // namespace

CameraSupervisor::CameraSupervisor(CameraSlot& slot, SchedulerClock* clock)
    : slot_(slot), clock_(clockOrMachine(clock)) {}

CameraSupervisor::~CameraSupervisor() { stop(); }

void CameraSupervisor::start() {
  thread_ = std::thread([this] { run(); });
}

void CameraSupervisor::requestStop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void CameraSupervisor::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

void CameraSupervisor::wake() {
  {
    MutexLock lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void CameraSupervisor::onConnected() noexcept { wake(); }

void CameraSupervisor::onDisconnected(std::uint32_t error) noexcept {
  lossCode_.store(error);
  wake();
}

void CameraSupervisor::onError(std::uint32_t) noexcept { wake(); }

void CameraSupervisor::onDownload(const char* path) noexcept {
  try {
    MutexLock lock(mutex_);
    downloads_.emplace_back(path);
    signalled_ = true;
  } catch (...) {
    // Out of memory: the file is on disk and counted; only its event is lost.
    return;
  }
  changed_.notify_all();
}

void CameraSupervisor::waitForChange(MutexLock& lock, Clock::time_point until) {
  // The clock may end a wait early; only the time, a change or the stop ends this one.
  while (!stopping_ && !signalled_ && clock_.now() < until) clock_.waitUntil(lock, changed_, until);
}

void CameraSupervisor::run() {
  Clock::time_point lookAt = clock_.now();
  for (;;) {
    {
      MutexLock lock(mutex_);
      waitForChange(lock, lookAt);
      if (stopping_) return;
      signalled_ = false;
    }
    publishDownloads();
    lookAt = step();
  }
}

void CameraSupervisor::publishDownloads() {
  std::vector<std::string> files;
  {
    MutexLock lock(mutex_);
    files.swap(downloads_);
  }
  for (const std::string& file : files) publishDownload(file);
}

CameraSupervisor::Clock::time_point CameraSupervisor::step() {
  CameraHealth& health = slot_.health();
  const CameraHealthView view = health.view();
  const Clock::time_point now = clock_.now();
  switch (view.state) {
    case CameraState::Connected:
      if (slot_.controller().events().disconnected()) {
        // A picture delivered before the loss was queued before the loss
        // showed: its event goes first.
        publishDownloads();
        if (health.lost(view.generation, lossCode_.load())) {
          slot_.notify(&SlotObserver::lost);
          plan_ = Plan{view.generation, 0, now + kFirstAttempt};
          feedSeenRunning_.reset();
          return plan_.next;
        }
        return now;  // the user acted meanwhile: look again
      }
      // The feed stamps its pictures by the machine's clock.
      watchFeed(view, std::chrono::steady_clock::now());
      return now + kWatchPeriod;
    case CameraState::Lost:
    case CameraState::Reconnecting:
      if (plan_.generation != view.generation) plan_ = Plan{view.generation, 0, now};
      if (now < plan_.next) return plan_.next;
      attempt(view.generation, ++plan_.attempts);
      plan_.next = clock_.now() + kBetweenAttempts;
      return clock_.now();
    case CameraState::Connecting:
      // A user's connect makes its own attempt; a rig camera's is ours.
      // Tried once per connection asked for: an attempt that gave up to
      // the user leaves it to the user's connect or disconnect.
      if (!view.serverConnects || plan_.generation == view.generation) break;
      plan_ = Plan{view.generation, 0, now};
      attempt(view.generation, 0);
      plan_.next = clock_.now() + kBetweenAttempts;
      return clock_.now();
    case CameraState::NoCamera:
      break;
  }
  feedSeenRunning_.reset();
  return now + kIdle;
}

void CameraSupervisor::watchFeed(const CameraHealthView& view, Clock::time_point now) {
  LiveFeed& feed = slot_.feed();
  bool stalled = false;
  if (feed.running()) {
    if (!feedSeenRunning_) feedSeenRunning_ = now;
    // Only pictures since the feed ran and since the camera came (back)
    // count: an old one from before a loss says nothing of the camera now.
    Clock::time_point newest = std::max(*feedSeenRunning_, view.since);
    const LiveFrame frame = feed.latest();
    if (frame.jpeg) newest = std::max(newest, frame.grabbedSteady);
    stalled = now - newest > kStall;
  } else {
    feedSeenRunning_.reset();
  }
  if (stalled != view.suspect) slot_.health().setSuspect(view.generation, stalled);
}

void CameraSupervisor::attempt(std::uint64_t generation, int number) {
  CameraHealth& health = slot_.health();
  const std::optional<CameraRequest> request = health.view().camera;
  if (!request) return;
  if (number > 0) {
    if (!health.reconnecting(generation, number)) return;
    std::printf("[info] reconectando (%d)...\n", number);
  }

  CameraGate::Teardown alone(slot_.gate());
  // A connect or disconnect by the user that came first settles the matter.
  if (health.view().generation != generation) return;
  CameraController& camera = slot_.controller();
  const bool requested = camera.connectIp(request->ip, request->mac, request->model, request->ssh,
                                          request->user, request->pass);
  const Outcome outcome =
      requested ? awaitLink(clock_.now() + std::chrono::milliseconds(defaults::kConnectWaitMs))
                : Outcome::Failed;
  switch (outcome) {
    case Outcome::Connected:
      if (number == 0) {
        slot_.notify(&SlotObserver::connected);
        health.reconnected(generation);
        return;
      }
      slot_.notify(&SlotObserver::reconnected);
      health.reconnected(generation);
      std::printf("[info] camera de volta.\n");
      return;
    case Outcome::Failed: {
      std::uint32_t code = camera.events().lastError();
      if (code == 0 && camera.events().disconnected()) code = lossCode_.load();
      // The failed handle goes now, so a camera that never comes back costs
      // no descriptor or thread between attempts.
      camera.disconnect();
      // A rig camera not there yet is kept as one that was lost.
      if (number == 0) {
        health.lost(generation, code);
      } else {
        health.attemptFailed(generation, code);
      }
      return;
    }
    case Outcome::GaveUp:
      // The user's connect or disconnect (or the server's end) takes over.
      return;
  }
}

CameraSupervisor::Outcome CameraSupervisor::awaitLink(Clock::time_point deadline) {
  const DeviceCallback& events = slot_.controller().events();
  MutexLock lock(mutex_);
  for (;;) {
    if (stopping_ || slot_.gate().teardownPending()) return Outcome::GaveUp;
    if (events.connected()) return Outcome::Connected;
    if (events.disconnected() || events.lastError() != 0) return Outcome::Failed;
    const Clock::time_point now = clock_.now();
    if (now >= deadline) return Outcome::Failed;
    // The callbacks wake this wait; a user's request only shows in the gate.
    waitForChange(lock, std::min(deadline, now + kAttemptPoll));
    signalled_ = false;
  }
}

void CameraSupervisor::publishDownload(const std::string& path) {
  slot_.health().countDownload();
  try {
    namespace fs = std::filesystem;
    std::error_code error;
    const std::uintmax_t bytes = fs::file_size(fs::path(path), error);
    nlohmann::ordered_json data;
    data["name"] = fs::path(path).filename().string();
    data["bytes"] = error ? nlohmann::ordered_json() : nlohmann::ordered_json(bytes);
    data["time"] = isoUtc(std::chrono::system_clock::now());
    slot_.events().publish("capture",
                           data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  } catch (...) {
    // Out of memory: the picture is on disk and counted; its event is lost.
  }
}
