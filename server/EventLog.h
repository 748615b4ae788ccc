// EventLog: what happened on the server's cameras, as numbered events that
// clients follow (GET /events) and catch up on after a gap: camera state
// changes, downloads, exposure changes, pan/tilt commands, SDK errors. The
// newest kKept events are kept. Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"

struct ServerEvent {
  std::uint64_t id = 0;  // 1, 2, 3, ... in publishing order
  std::string type;      // "camera", "capture", "exposure", "ptz", "error"
  std::string data;      // one JSON object, on one line
};

class EventLog {
 public:
  static constexpr std::size_t kKept = 256;

  // Keeps a wake function registered while it lives.
  class Subscription {
   public:
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

   private:
    friend class EventLog;
    Subscription(EventLog& log, std::list<std::function<void()>>::iterator entry)
        : log_(log), entry_(entry) {}
    EventLog& log_;
    std::list<std::function<void()>>::iterator entry_;
  };

  // data must be a JSON object's text without line breaks. Returns its id.
  std::uint64_t publish(const std::string& type, const std::string& data)
      EXCLUDES(mutex_, wakeMutex_);
  // The kept events with an id above after, oldest first.
  std::vector<ServerEvent> since(std::uint64_t after) const EXCLUDES(mutex_);
  std::uint64_t lastId() const EXCLUDES(mutex_);
  // wake is called after each publish, on the publishing thread; it must be
  // quick, must not block and must not subscribe or publish. It may read
  // the log. No call is under way once the subscription is destroyed.
  std::unique_ptr<Subscription> subscribe(std::function<void()> wake) EXCLUDES(wakeMutex_);

 private:
  // Taken before mutex_ when both are needed: a wake may read the log.
  Mutex wakeMutex_ ACQUIRED_BEFORE(mutex_);
  std::list<std::function<void()>> wakes_ GUARDED_BY(wakeMutex_);
  mutable Mutex mutex_;
  std::deque<ServerEvent> events_ GUARDED_BY(mutex_);
  std::uint64_t nextId_ GUARDED_BY(mutex_) = 1;
};
