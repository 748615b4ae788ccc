// TileStreams: the tile streams running now (GET /tiles.mjpg), each by an id
// the server gave it, so that a console can move the full picture of the
// stream it already reads to another camera with a request, instead of
// opening a new stream (POST /tiles/full). Holds the streams weakly: a
// stream ends with its connection. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "common/ThreadAnnotations.h"

class TileStream;

class TileStreams {
 public:
  TileStreams();

  // Registers a stream; returns its id: 16 hex digits, hard to guess, so
  // that only its reader moves its full picture.
  std::string add(const std::shared_ptr<TileStream>& stream) EXCLUDES(mutex_);
  // The running stream with this id; null when there is none (ended, or
  // never given).
  std::shared_ptr<TileStream> find(const std::string& id) const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  std::map<std::string, std::weak_ptr<TileStream>> streams_ GUARDED_BY(mutex_);
  std::mt19937_64 random_ GUARDED_BY(mutex_);
};
