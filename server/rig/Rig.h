// Rig: the server's cameras by id, in the order they were added. The camera
// `main`, which the unprefixed routes address, is always there and cannot be
// removed; the others are added and removed while the server runs. A slot is
// shared: a request or stream under way keeps a removed camera's slot until
// it ends. Thread-safe.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/rig/TileStreams.h"
#include "server/rig/Volley.h"
#include "server/sequence/RigSequencer.h"
#include "server/slot/CameraSlot.h"

// A camera added to the rig, as it was asked for (POST /cameras, the rig
// file): what the rig file keeps.
struct RigCamera {
  std::string id;
  CameraRequest request;
};

class Rig {
 public:
  enum class Refusal { None, BadId, Exists, Unknown, Main };

  Rig(EventLog& events, SlotOptions options);
  // Lets every camera go, all at once.
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // An id a camera may take: 1 to 32 of [a-z0-9_-].
  static bool validId(const std::string& id);

  CameraSlot& main() { return *main_; }
  // Fires cameras of the rig together.
  Volley& volley() { return volley_; }
  // The rig's timelapse: a volley at each due time.
  RigSequencer& sequence() { return sequence_; }
  EventLog& events() { return events_; }
  // The tile streams running now, by id.
  TileStreams& tileStreams() { return tileStreams_; }
  // The camera with this id; null when there is none.
  std::shared_ptr<CameraSlot> find(const std::string& id) const EXCLUDES(mutex_);
  // Every camera, in the order added (`main` first).
  std::vector<std::shared_ptr<CameraSlot>> all() const EXCLUDES(mutex_);
  // The cameras added (all but `main`) as they were asked for, in order.
  std::vector<RigCamera> added() const EXCLUDES(mutex_);

  // Adds a camera that the server connects and keeps connected (see
  // CameraSlot::keepConnected). Null with the refusal: BadId, Exists.
  std::shared_ptr<CameraSlot> add(const std::string& id, const CameraRequest& request,
                                  Refusal* refusal = nullptr) EXCLUDES(mutex_);
  // Takes the camera out of the rig and lets it go (after the command under
  // way on it). Unknown, Main, or None when removed.
  Refusal remove(const std::string& id) EXCLUDES(mutex_);

  // Called after each add and remove, on the thread that made it, with
  // the rig as it is then (e.g. to write the rig file). Set before serving.
  void onChange(std::function<void()> changed) { changed_ = std::move(changed); }

  // The server stops: every camera's parts end their work, all at once.
  void beginShutdown() const EXCLUDES(mutex_);

 private:
  EventLog& events_;
  const SlotOptions options_;
  std::function<void()> changed_;
  mutable Mutex mutex_;
  std::vector<std::shared_ptr<CameraSlot>> slots_ GUARDED_BY(mutex_);
  std::vector<RigCamera> added_ GUARDED_BY(mutex_);
  std::shared_ptr<CameraSlot> main_;  // also slots_' first, for good
  TileStreams tileStreams_;
  // Near the end, so it goes early: a camera still in a call it hung in
  // during a volley is let go before the rig lets every camera go.
  Volley volley_{events_};
  // After the volley, which its frames fire; ended first in ~Rig. Mutable:
  // thread-safe, and stopped by the const beginShutdown.
  mutable RigSequencer sequence_{*this, volley_, events_, options_.sequenceClock};
};
