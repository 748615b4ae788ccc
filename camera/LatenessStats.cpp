// The buckets: a value's octave picks a row of 512, its top ten bits the
// place in it.
#include "camera/LatenessStats.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint64_t kExact = 1024;  // below: one bucket per microsecond
constexpr std::uint64_t kRow = 512;
// Half a day, in microseconds: beyond any frame's slack.
constexpr std::uint64_t kLargest = 1ull << 36;

int octave(std::uint64_t us) {
  int bits = 0;
  while ((us >> bits) > 1) ++bits;
  return bits - 9;  // us >> octave lies in [512, 1024)
}

std::size_t bucketOf(std::uint64_t us) {
  if (us < kExact) return static_cast<std::size_t>(us);
  const int o = octave(us);
  return static_cast<std::size_t>(kExact + (o - 1) * kRow + ((us >> o) - kRow));
}

// The middle of a bucket, in microseconds.
double middleOf(std::size_t bucket) {
  if (bucket < kExact) return static_cast<double>(bucket);
  const std::size_t o = (bucket - kExact) / kRow + 1;
  const std::uint64_t low = (kRow + (bucket - kExact) % kRow) << o;
  return static_cast<double>(low) + static_cast<double>(1ull << o) / 2.0 - 0.5;
}

}  // namespace

void LatenessStats::add(std::chrono::nanoseconds late) {
  const std::int64_t ns = std::max<std::int64_t>(0, late.count());
  const std::uint64_t us = std::min<std::uint64_t>(static_cast<std::uint64_t>(ns / 1000), kLargest);
  const std::size_t bucket = bucketOf(us);
  if (bucket >= buckets_.size()) buckets_.resize(bucket + 1, 0);
  ++buckets_[bucket];
  ++count_;
  maxNs_ = std::max(maxNs_, ns);
}

double LatenessStats::quantileUs(double q) const {
  if (count_ == 0) return 0.0;
  const std::uint64_t rank = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::ceil(q * static_cast<double>(count_))));
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
    seen += buckets_[bucket];
    if (seen >= rank) return std::min(middleOf(bucket), maxUs());
  }
  return maxUs();
}
