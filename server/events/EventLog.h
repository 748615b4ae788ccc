// EventLog: what happened on the server's cameras, as numbered events that
// clients follow (GET /events) and catch up on after a gap: camera state
// changes, downloads, exposure changes, pan/tilt commands, SDK errors. The
// newest kKept events are kept. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/events/WakeList.h"

struct ServerEvent {
  std::uint64_t id = 0;  // 1, 2, 3, ... in publishing order
  std::string type;      // "camera", "capture", "exposure", "ptz", "error"
  std::string data;      // one JSON object, on one line
};

class EventLog {
 public:
  static constexpr std::size_t kKept = 256;

  // data must be a JSON object's text without line breaks. Returns its id.
  std::uint64_t publish(const std::string& type, const std::string& data) EXCLUDES(mutex_);
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
