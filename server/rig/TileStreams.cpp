// The running tile streams by id.
#include "server/rig/TileStreams.h"

#include <cstdio>

TileStreams::TileStreams() {
  std::random_device device;
  random_.seed((static_cast<std::uint64_t>(device()) << 32) ^ device());
}

std::string TileStreams::add(const std::shared_ptr<TileStream>& stream) {
  MutexLock lock(mutex_);
  // Ended streams leave as new ones come: the map holds no more than
  // the streams of the last while.
  for (auto it = streams_.begin(); it != streams_.end();) {
    it = it->second.expired() ? streams_.erase(it) : std::next(it);
  }
  std::string id;
  do {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random_()));
    id = text;
  } while (streams_.count(id) != 0);
  streams_[id] = stream;
  return id;
}

std::shared_ptr<TileStream> TileStreams::find(const std::string& id) const {
  MutexLock lock(mutex_);
  const auto it = streams_.find(id);
  return it == streams_.end() ? nullptr : it->second.lock();
}
