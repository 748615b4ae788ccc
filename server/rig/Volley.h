// Volley: several cameras fired together, with the spread of their presses
// measured. Every camera gets a thread of its own that takes the camera's
// command access (its arming); then one release instant is shared by all
// and each thread issues its camera's shutter press at that instant. The
// volley ends when each picture is downloaded or its camera has given up; a
// camera whose press or release call hangs is reported failed and left to
// finish that call on its own, so it delays nobody's press or answer.
// Thread-safe: fire() may run on several threads at once (a camera in two
// volleys serves them in turn through its gate).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera/Defaults.h"
#include "common/ThreadAnnotations.h"

class CameraSlot;
class EventLog;

// A camera to fire: its id as clients name it, and its slot, shared so a
// camera removed meanwhile stays whole until its part of the volley ends.
struct VolleyCamera {
  std::string id;
  std::shared_ptr<CameraSlot> slot;
};

// When the cameras are released.
struct VolleyRelease {
  // Unset: as soon as every camera is armed. Set: at this wall-clock time
  // (ms since 1970), so rigs on several machines with agreeing clocks fire
  // together; offsets are then measured from it. The cameras stay armed
  // (busy to everyone else) until then: callers bound how far ahead.
  std::optional<std::int64_t> atEpochMs;
};

struct VolleyTimings {
  // How long a capture under way may keep a camera from being armed.
  std::chrono::milliseconds arm{2000};
  // A shutter call that has not returned after this is taken for a hung
  // camera: reported failed, left to end on its own.
  std::chrono::milliseconds hang{1500};
  std::chrono::milliseconds download{defaults::kDownloadWaitMs};
  // From the last camera armed to the release: time for every thread to
  // wake and park at the instant, so the first to wake does not press alone.
  std::chrono::milliseconds lead{5};
  std::chrono::milliseconds downloadPoll{10};
};

struct VolleyCameraResult {
  std::string id;
  bool ok = false;
  // Release to this camera's press call, in microseconds; with several
  // shots, the latest of them.
  std::int64_t offsetUs = 0;
  // Relative to the server's capture folder ("left/KAMORA_00007.JPG").
  std::vector<std::string> files;
  std::string error;  // why not ok
};

struct VolleyResult {
  std::uint64_t number = 0;  // 1, 2, ... per engine
  // Max - min of the offsets of the cameras whose picture came, per shot;
  // with several shots, the widest.
  std::int64_t spreadUs = 0;
  std::vector<VolleyCameraResult> cameras;  // in the order asked for
};

// {"volley":N,"spread_ms":S,"cameras":[{"id":..,"ok":true,"offset_ms":0.42,
// "files":[..]},{"id":..,"ok":false,"error":".."}]} on one line; a failed
// camera lists the files of its shots before the failure, if any.
std::string volleyJson(const VolleyResult& result);

// The steady-clock instants of a release asked for at `now` (steady and
// wall clock read together): the origin offsets count from, and when the
// presses are issued: `lead` after now at the earliest, so the cameras'
// threads are parked even for a wall-clock time already past.
struct ReleaseInstants {
  std::chrono::steady_clock::time_point origin;
  std::chrono::steady_clock::time_point fire;
};
ReleaseInstants releaseInstants(const VolleyRelease& release,
                                std::chrono::steady_clock::time_point steadyNow,
                                std::int64_t wallNowUs, std::chrono::milliseconds lead);

class Volley {
 public:
  // The most shots one volley may ask for, from HTTP or the broker.
  static constexpr int kMostShots = 1000;

  explicit Volley(EventLog& events, VolleyTimings timings = VolleyTimings());
  // Waits for the threads still in a call they hung in (each ends with the
  // SDK's own time-out).
  ~Volley();
  Volley(const Volley&) = delete;
  Volley& operator=(const Volley&) = delete;

  // Fires the cameras (an id listed twice is fired once) `shots` times,
  // each shot released together once the last one's pictures are in;
  // returns when every camera is done or has given up, after publishing
  // the result as a "volley" event.
  VolleyResult fire(const std::vector<VolleyCamera>& cameras, int shots,
                    const VolleyRelease& release) EXCLUDES(mutex_);

 private:
  struct Run;
  struct Straggler {
    std::thread thread;
    std::shared_ptr<Run> run;
    std::size_t hand;
  };
  void keepStragglers(std::vector<Straggler> hung) EXCLUDES(mutex_);
  // Joins the stragglers whose call has ended (all of them with `all`).
  void reap(bool all) EXCLUDES(mutex_);

  EventLog& events_;
  const VolleyTimings timings_;
  Mutex mutex_;
  std::uint64_t volleys_ GUARDED_BY(mutex_) = 0;
  std::vector<Straggler> stragglers_ GUARDED_BY(mutex_);
};
