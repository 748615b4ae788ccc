// The event ring and its subscribers.
#include "server/events/EventLog.h"

std::uint64_t EventLog::publish(const std::string& type, const std::string& data) {
  std::uint64_t id = 0;
  {
    MutexLock lock(mutex_);
    id = nextId_++;
    events_.push_back({id, type, data});
    if (events_.size() > kKept) events_.pop_front();
  }
  wakes_.notifyAll();
  return id;
}

std::vector<ServerEvent> EventLog::since(std::uint64_t after) const {
  MutexLock lock(mutex_);
  std::vector<ServerEvent> out;
  for (const ServerEvent& event : events_) {
    if (event.id > after) out.push_back(event);
  }
  return out;
}

std::uint64_t EventLog::lastId() const {
  MutexLock lock(mutex_);
  return nextId_ - 1;
}

std::unique_ptr<WakeList::Subscription> EventLog::subscribe(std::function<void()> wake) {
  return wakes_.subscribe(std::move(wake));
}
