// Thumbnails and screen-size copies of downloaded pictures, made once and
// kept in memory within a byte budget, least recently used out first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "camera/CaptureFolder.h"
#include "common/ThreadAnnotations.h"

enum class ScaledKind { Thumb, Screen };

// The widest a copy of each kind may be: 320 and 1600 px.
int scaledWidth(ScaledKind kind);

// Thread-safe. A copy is kept by (name, size, modification time, kind), so
// a picture that changes is scaled again. Two requests for a copy not yet
// made may both make it; the first one kept wins.
class ScaledJpegCache {
 public:
  static constexpr std::size_t kDefaultBudget = 64u << 20;  // 64 MiB of JPEG bytes

  explicit ScaledJpegCache(std::size_t budgetBytes = kDefaultBudget);

  // The picture at most scaledWidth(kind) px wide, aspect kept (a picture
  // already narrow enough comes back as it is). Reads the whole file only
  // when the copy is not kept yet. Null when the file cannot be read or is
  // no JPEG.
  std::shared_ptr<const std::string> get(const CaptureFile& file, ScaledKind kind) EXCLUDES(mutex_);

  std::size_t keptBytes() const EXCLUDES(mutex_);
  std::size_t keptCopies() const EXCLUDES(mutex_);

 private:
  struct Slot {
    std::string key;
    std::shared_ptr<const std::string> jpeg;
  };

  const std::size_t budget_;
  mutable Mutex mutex_;
  std::list<Slot> order_ GUARDED_BY(mutex_);  // most recently used first
  std::unordered_map<std::string, std::list<Slot>::iterator> index_ GUARDED_BY(mutex_);
  std::size_t bytes_ GUARDED_BY(mutex_) = 0;
};
