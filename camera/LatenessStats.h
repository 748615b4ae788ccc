// How late a long run's frames started, in bounded memory: a night of frames
// costs the same few kilobytes as ten. Thread-bound (the owner locks).
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

// Counts per bucket, log-linear: each microsecond its own bucket below
// 1.024 ms, then 512 buckets per doubling (a bucket is 0.2 % of its value
// wide). Quantiles are exact to the microsecond below 1.024 ms and within
// 0.1 % above; the maximum is kept exactly.
class LatenessStats {
 public:
  void add(std::chrono::nanoseconds late);
  std::uint64_t count() const { return count_; }
  // The nearest-rank value at fraction q (0.5, 0.95) of what was added, in
  // microseconds; 0 when nothing was.
  double quantileUs(double q) const;
  double maxUs() const { return static_cast<double>(maxNs_) / 1000.0; }

 private:
  std::vector<std::uint32_t> buckets_;  // grows to the largest bucket used
  std::uint64_t count_ = 0;
  std::int64_t maxNs_ = 0;
};
