// EventLog: what happened on the server's cameras, as numbered events that
// clients follow (GET /events) and catch up on after a gap: camera state
// changes, downloads, exposure changes, pan/tilt commands, SDK errors, each
// saying which camera it is about. The newest kKept events are kept.
// Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/events/WakeList.h"

struct ServerEvent {
  std::uint64_t id = 0;  // 1, 2, 3, ... in publishing order
  std::string type;      // "camera", "capture", "exposure", "ptz", "error", ...
  std::string data;      // one JSON object, on one line
  std::string camera;    // the camera's id; empty for the server's own events
};

class EventLog {
 public:
  static constexpr std::size_t kKept = 256;

  // data must be a JSON object's text without line breaks. A camera's event
  // carries its id also as the data's first member, "camera":"<id>" (ids
  // need no JSON escaping). Returns the event's id.
  std::uint64_t publish(const std::string& type, const std::string& data,
                        const std::string& camera = "") EXCLUDES(mutex_);
  // The kept events with an id above after, oldest first.
  std::vector<ServerEvent> since(std::uint64_t after) const EXCLUDES(mutex_);
  std::uint64_t lastId() const EXCLUDES(mutex_);
  // wake is called after each publish, on the publishing thread (see
  // WakeList); it may read the log but not publish.
  std::unique_ptr<WakeList::Subscription> subscribe(std::function<void()> wake);

 private:
  WakeList wakes_;
  mutable Mutex mutex_;
  std::deque<ServerEvent> events_ GUARDED_BY(mutex_);
  std::uint64_t nextId_ GUARDED_BY(mutex_) = 1;
};

// One camera's way into the log: every event it publishes names the camera.
// A plain value (the log outlives it); from EventLog& alone it publishes the
// server's own events.
class CameraEventLog {
 public:
  // Implicit: a part handed the log itself reports as the server.
  CameraEventLog(EventLog& log, std::string camera = "") : log_(&log), camera_(std::move(camera)) {}
  std::uint64_t publish(const std::string& type, const std::string& data) const {
    return log_->publish(type, data, camera_);
  }
  EventLog& log() const { return *log_; }
  const std::string& camera() const { return camera_; }

 private:
  EventLog* log_;
  std::string camera_;
};
