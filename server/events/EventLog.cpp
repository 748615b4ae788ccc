// The event ring and its subscribers.
#include "server/events/EventLog.h"

namespace {

std::string withCamera(const std::string& data, const std::string& camera) {
  if (camera.empty() || data.empty() || data.front() != '{') return data;
  const bool empty = data.find_first_not_of(" ", 1) == data.size() - 1;
  return "{\"camera\":\"" + camera + "\"" + (empty ? "" : ",") + data.substr(1);
}

}  // namespace

std::uint64_t EventLog::publish(const std::string& type, const std::string& data,
                                const std::string& camera) {
  std::uint64_t id = 0;
  std::string text = withCamera(data, camera);
  {
    MutexLock lock(mutex_);
    id = nextId_++;
    events_.push_back({id, type, std::move(text), camera});
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
