// The volley's two sides: fire() arms, releases and watches the cameras;
// each camera's hand (a thread of its own) presses, releases and awaits its
// picture, and says how far it got after each step.
#include "server/rig/Volley.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <limits>
#include <system_error>

#include "server/events/EventLog.h"
#include "server/slot/CameraSlot.h"

namespace {

using Clock = std::chrono::steady_clock;

// Why a camera failed, as clients read it (besides its state's name and
// the SDK's code).
constexpr const char* kBusy = "ocupada";
constexpr const char* kNoAnswer = "sem resposta";
constexpr const char* kNoDownload = "sem download";
constexpr const char* kInterrupted = "interrompida";

std::int64_t wallNowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t microsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

// The picture's name as /captures names it, with the camera's folder:
// "KAMORA_00007.JPG" for the server's own folder, "left/KAMORA_00007.JPG"
// below it.
std::string captureName(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path file = fs::path(path).lexically_normal();
  std::error_code error;
  const fs::path root = fs::absolute(defaults::kSaveFolder, error).lexically_normal();
  if (!error) {
    const fs::path relative = file.lexically_relative(root);
    if (!relative.empty() && *relative.begin() != "..") return relative.generic_string();
  }
  return file.filename().string();
}

// Why a held camera cannot be fired; empty when it can.
std::string notReady(CameraSlot& slot) {
  const CameraState state = slot.health().view().state;
  if (state != CameraState::Connected) return cameraStateName(state);
  if (!slot.controller().hasDevice() || slot.controller().events().disconnected()) {
    return cameraStateName(CameraState::Lost);
  }
  return std::string();
}

// Where a camera is in the shot under way.
enum class Step {
  Waiting,      // armed (or done with the shot before): for the release
  Pressed,      // the press call returned; holding the button
  Releasing,    // in the release call
  Downloading,  // awaiting the picture
  Done,         // the picture is in
  Out,          // failed or given up on; no further call
};

struct Hand {
  bool armed = false;  // arming over (either way)
  Step step = Step::Waiting;
  int shot = 0;                         // the shot `step` belongs to
  Clock::time_point callSince;          // Releasing: when the call began
  bool abandoned = false;               // given up on while in a call
  bool exited = false;                  // its thread has let the camera go
  std::vector<std::int64_t> offsetsUs;  // per shot pressed
  std::vector<std::string> files;       // per shot landed, in order
  std::string error;
};

}  // namespace

ReleaseInstants releaseInstants(const VolleyRelease& release, Clock::time_point steadyNow,
                                std::int64_t wallNowUs, std::chrono::milliseconds lead) {
  const Clock::time_point earliest = steadyNow + lead;
  if (!release.atEpochMs) return {earliest, earliest};
  // Years 1970 to 2100: outside input cannot overflow the arithmetic.
  const std::int64_t atMs = std::clamp<std::int64_t>(*release.atEpochMs, 0, 4102444800000);
  const Clock::time_point origin = steadyNow + std::chrono::microseconds(atMs * 1000 - wallNowUs);
  return {origin, std::max(origin, earliest)};
}

// One volley's shared state: fire() and the hands meet here. Held by each
// hand's thread too, so a hand still in a hung call outlives fire().
struct Volley::Run {
  Run(std::size_t cameras, int shotCount, const VolleyTimings& t)
      : shots(shotCount), timings(t), hands(cameras) {}

  const int shots;
  const VolleyTimings timings;
  Mutex mutex;
  std::condition_variable changed;
  std::vector<Hand> hands GUARDED_BY(mutex);
  int released GUARDED_BY(mutex) = -1;  // the newest shot released
  Clock::time_point origin GUARDED_BY(mutex);
  Clock::time_point fireAt GUARDED_BY(mutex);
  bool over GUARDED_BY(mutex) = false;

  // A camera's thread, from arming to letting the camera go.
  void hand(std::size_t i, const VolleyCamera& camera) EXCLUDES(mutex) {
    {
      CameraGate::Command armed(camera.slot->gate(), Clock::now() + timings.arm);
      const std::string why = armed.held() ? notReady(*camera.slot) : kBusy;
      {
        MutexLock lock(mutex);
        hands[i].armed = true;
        if (!why.empty()) out(i, why);
      }
      changed.notify_all();
      if (why.empty()) {
        for (int shot = 0; shot < shots; ++shot) {
          if (!shoot(i, *camera.slot, shot)) break;
        }
      }
    }
    MutexLock lock(mutex);
    hands[i].exited = true;
  }

  // One shot of one camera; false once it is out.
  bool shoot(std::size_t i, CameraSlot& slot, int shot) EXCLUDES(mutex) {
    // Like a multi-shot capture: a connect, disconnect or shutdown waiting
    // for the camera ends its run after the shot under way.
    if (shot > 0 && slot.shouldYield()) return step(i, shot, Step::Out, kInterrupted);
    CameraController& camera = slot.controller();
    const std::uint32_t before = camera.downloadsSoFar();
    Clock::time_point from, at;
    {
      MutexLock lock(mutex);
      lock.wait(changed,
                [&]() REQUIRES(mutex) { return released >= shot || over || hands[i].abandoned; });
      if (released < shot || hands[i].abandoned) return false;
      from = origin;
      at = fireAt;
    }
    std::this_thread::sleep_until(at);
    const Clock::time_point pressedAt = Clock::now();
    const VCSDK::VcStatus pressed = camera.pressShutter();
    {
      MutexLock lock(mutex);
      if (pressed == VCSDK::VcError_None)
        hands[i].offsetsUs.push_back(microsBetween(from, pressedAt));
    }
    if (!called(i, shot, pressed, Step::Pressed)) return false;
    std::this_thread::sleep_for(CameraController::kShutterHold);
    if (!step(i, shot, Step::Releasing)) return false;
    if (!called(i, shot, camera.releaseShutter(), Step::Downloading)) return false;

    std::string path;
    switch (camera.awaitDownload(before, Clock::now() + timings.download, timings.downloadPoll,
                                 &path)) {
      case CameraController::DownloadWait::Arrived: {
        {
          MutexLock lock(mutex);
          hands[i].files.push_back(captureName(path));
        }
        return step(i, shot, Step::Done);
      }
      case CameraController::DownloadWait::Failed: {
        const bool lost = camera.events().disconnected();
        return step(
            i, shot, Step::Out,
            lost ? cameraStateName(CameraState::Lost) : sdkCodeText(camera.events().lastError()));
      }
      case CameraController::DownloadWait::TimedOut:
        break;
    }
    return step(i, shot, Step::Out, kNoDownload);
  }

  // A camera call returned: on to `next`, or out with the SDK's code.
  bool called(std::size_t i, int shot, VCSDK::VcStatus status, Step next) EXCLUDES(mutex) {
    if (status == VCSDK::VcError_None) return step(i, shot, next);
    return step(i, shot, Step::Out, sdkCodeText(status));
  }

  // Records how far a camera got; false when it is out (now or already,
  // given up on by fire()).
  bool step(std::size_t i, int shot, Step next, const std::string& why = std::string())
      EXCLUDES(mutex) {
    {
      MutexLock lock(mutex);
      Hand& h = hands[i];
      if (h.abandoned) return false;
      h.shot = shot;
      if (next == Step::Out) {
        out(i, why);
      } else {
        h.step = next;
        if (next == Step::Releasing) h.callSince = Clock::now();
      }
    }
    changed.notify_all();
    return next != Step::Out;
  }

  void out(std::size_t i, const std::string& why) REQUIRES(mutex) {
    hands[i].step = Step::Out;
    hands[i].error = why;
  }

  // fire()'s side: waits for the arming, then releases each shot and
  // watches it to its end.
  void conduct(const VolleyRelease& release) EXCLUDES(mutex) {
    MutexLock lock(mutex);
    // Each camera's arming ends by its deadline: the gate gives up then.
    lock.wait(changed, [this]() REQUIRES(mutex) {
      return std::all_of(hands.begin(), hands.end(), [](const Hand& h) { return h.armed; });
    });
    for (int shot = 0; shot < shots; ++shot) {
      if (std::all_of(hands.begin(), hands.end(),
                      [](const Hand& h) { return h.step == Step::Out; })) {
        break;
      }
      const ReleaseInstants at = releaseInstants(shot == 0 ? release : VolleyRelease(),
                                                 Clock::now(), wallNowUs(), timings.lead);
      origin = at.origin;
      fireAt = at.fire;
      released = shot;
      changed.notify_all();
      watch(lock, shot);
    }
    over = true;
    changed.notify_all();
  }

  // Until every camera still in has its picture of `shot` or is out; a
  // camera whose press or release call outlasts timings.hang is given up.
  void watch(MutexLock& lock, int shot) REQUIRES(mutex) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      std::optional<Clock::time_point> next;
      bool pending = false;
      for (std::size_t i = 0; i < hands.size(); ++i) {
        Hand& h = hands[i];
        const bool thisShot = h.shot == shot;
        if (h.step == Step::Out || (thisShot && h.step == Step::Done)) continue;
        if (thisShot && (h.step == Step::Pressed || h.step == Step::Downloading)) {
          pending = true;  // no call to time: the hand's next step says more
          continue;
        }
        // Not pressed yet, or in the release call.
        const Clock::time_point limit =
            (thisShot && h.step == Step::Releasing ? h.callSince : fireAt) + timings.hang;
        if (now >= limit) {
          h.abandoned = true;
          h.shot = shot;
          out(i, kNoAnswer);
          changed.notify_all();
          continue;
        }
        pending = true;
        if (!next || limit < *next) next = limit;
      }
      if (!pending) return;
      // Without a limit to watch, the hands' next step wakes this.
      lock.waitUntil(changed, next.value_or(now + std::chrono::hours(1)));
    }
  }
};

Volley::Volley(EventLog& events, VolleyTimings timings) : events_(events), timings_(timings) {}

Volley::~Volley() { reap(true); }

VolleyResult Volley::fire(const std::vector<VolleyCamera>& asked, int shots,
                          const VolleyRelease& release) {
  reap(false);
  std::vector<VolleyCamera> cameras;
  for (const VolleyCamera& camera : asked) {
    const bool listed = std::any_of(cameras.begin(), cameras.end(),
                                    [&](const VolleyCamera& c) { return c.id == camera.id; });
    if (!listed && camera.slot) cameras.push_back(camera);
  }
  VolleyResult result;
  {
    MutexLock lock(mutex_);
    result.number = ++volleys_;
  }
  auto run = std::make_shared<Run>(cameras.size(), std::max(1, shots), timings_);
  std::vector<std::thread> threads(cameras.size());
  for (std::size_t i = 0; i < cameras.size(); ++i) {
    try {
      threads[i] = std::thread([run, i, camera = cameras[i]] { run->hand(i, camera); });
    } catch (const std::system_error&) {
      MutexLock lock(run->mutex);
      run->hands[i].armed = run->hands[i].exited = true;
      run->out(i, kInterrupted);
    }
  }
  run->conduct(release);

  std::vector<Straggler> hung;
  {
    MutexLock lock(run->mutex);
    std::vector<std::int64_t> low(run->shots, std::numeric_limits<std::int64_t>::max());
    std::vector<std::int64_t> high(run->shots, std::numeric_limits<std::int64_t>::min());
    for (std::size_t i = 0; i < cameras.size(); ++i) {
      const Hand& h = run->hands[i];
      VolleyCameraResult camera{cameras[i].id, h.step != Step::Out, 0, h.files, h.error};
      // A shot counts toward the spread when its picture came.
      for (std::size_t s = 0; s < h.files.size() && s < h.offsetsUs.size(); ++s) {
        low[s] = std::min(low[s], h.offsetsUs[s]);
        high[s] = std::max(high[s], h.offsetsUs[s]);
        camera.offsetUs = std::max(camera.offsetUs, h.offsetsUs[s]);
      }
      result.cameras.push_back(std::move(camera));
      if (h.abandoned && !h.exited) hung.push_back(Straggler{std::move(threads[i]), run, i});
    }
    for (int s = 0; s < run->shots; ++s) {
      if (high[s] >= low[s]) result.spreadUs = std::max(result.spreadUs, high[s] - low[s]);
    }
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  keepStragglers(std::move(hung));
  events_.publish("volley", volleyJson(result));
  return result;
}

void Volley::keepStragglers(std::vector<Straggler> hung) {
  MutexLock lock(mutex_);
  for (Straggler& s : hung) stragglers_.push_back(std::move(s));
}

void Volley::reap(bool all) {
  std::vector<Straggler> done;
  {
    MutexLock lock(mutex_);
    auto ended = [all](const Straggler& s) {
      if (all) return true;
      MutexLock runLock(s.run->mutex);
      return s.run->hands[s.hand].exited;
    };
    auto keep = std::stable_partition(stragglers_.begin(), stragglers_.end(),
                                      [&](const Straggler& s) { return !ended(s); });
    std::move(keep, stragglers_.end(), std::back_inserter(done));
    stragglers_.erase(keep, stragglers_.end());
  }
  // Outside the lock: a hung call may take the SDK's whole time-out.
  for (Straggler& s : done) s.thread.join();
}
