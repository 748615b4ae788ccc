// Timing helpers shared by the benchmark programs: a steady-clock stopwatch
// and percentiles of a sample of durations.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace perf {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The p-th percentile (0..100) by nearest rank; 0 for an empty sample.
inline double percentile(std::vector<double> sample, double p) {
  if (sample.empty()) return 0.0;
  std::sort(sample.begin(), sample.end());
  std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sample.size()));
  if (rank >= sample.size()) rank = sample.size() - 1;
  return sample[rank];
}

inline double median(const std::vector<double>& sample) { return percentile(sample, 50.0); }

// A JPEG as the camera sends it: starts with SOI and ends with EOI.
inline bool looksLikeJpeg(const std::string& body) {
  return body.size() >= 4 && static_cast<unsigned char>(body[0]) == 0xFF &&
         static_cast<unsigned char>(body[1]) == 0xD8 &&
         static_cast<unsigned char>(body[body.size() - 2]) == 0xFF &&
         static_cast<unsigned char>(body[body.size() - 1]) == 0xD9;
}

}  // namespace perf
