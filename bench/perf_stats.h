// Helpers shared by the benchmark programs: a steady-clock stopwatch,
// percentiles of a sample of durations and the one-line report of one, and
// the loopback-only address check of their command lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
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

// One line: what (padded to width), the count, median, p90 and max in ms.
inline void report(const char* what, int width, const std::vector<double>& ms) {
  std::printf("%-*s n=%zu median %.2f ms  p90 %.2f ms  max %.2f ms\n", width, what, ms.size(),
              median(ms), percentile(ms, 90.0), percentile(ms, 100.0));
}

// Benchmarks load nothing off the machine: 127.0.0.0/8 only.
inline bool isLoopback(const std::string& host) { return host.rfind("127.", 0) == 0; }

// "host:port" (or "host", with defaultPort) split in two.
inline void splitHostPort(const std::string& text, int defaultPort, std::string& host, int& port) {
  const std::size_t colon = text.find(':');
  host = text.substr(0, colon);
  port = colon == std::string::npos ? defaultPort : std::atoi(text.c_str() + colon + 1);
}

// A JPEG as the camera sends it: starts with SOI and ends with EOI.
inline bool looksLikeJpeg(const std::string& body) {
  return body.size() >= 4 && static_cast<unsigned char>(body[0]) == 0xFF &&
         static_cast<unsigned char>(body[1]) == 0xD8 &&
         static_cast<unsigned char>(body[body.size() - 2]) == 0xFF &&
         static_cast<unsigned char>(body[body.size() - 1]) == 0xD9;
}

}  // namespace perf
