// A sequence as data: when each frame is due and what each frame shoots, and
// the texts people give for it (an interval, a number of frames, a bracket),
// read the same way on the command line and over HTTP. Plain values.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct SequencePlan {
  // Bounds that keep every due time within the steady clock's range.
  static constexpr std::chrono::milliseconds kShortestInterval{500};
  static constexpr std::chrono::hours kLongestInterval{24};
  static constexpr std::uint64_t kMostFrames = 100000;
  static constexpr std::size_t kMostSteps = 9;
  static constexpr double kWidestStep = 6.0;  // EV either way

  std::chrono::nanoseconds interval{std::chrono::seconds(1)};
  std::uint64_t count = 0;      // frames; 0: until stopped
  std::vector<double> bracket;  // EV offsets, one shot each; empty: one shot as set

  // Frame n (from 1) is due interval x (n - 1) after the start: reckoned from
  // the start, never from the frame before, so no error adds up.
  std::chrono::nanoseconds dueAfterStart(std::uint64_t frame) const {
    return interval * static_cast<std::int64_t>(frame - 1);
  }
  // A frame that cannot start within half an interval of its due time is
  // skipped, never shifted.
  std::chrono::nanoseconds slack() const { return interval / 2; }
  bool hasFrame(std::uint64_t frame) const { return count == 0 || frame <= count; }
};

// Seconds with decimals ("2", "0.5", "1.25"; nine places at most), within
// the plan's bounds. False for anything else: signs, exponents, blanks.
bool parseInterval(const std::string& text, std::chrono::nanoseconds& out);
// A whole number of frames, 0 to kMostFrames.
bool parseFrameCount(const std::string& text, std::uint64_t& out);
// Comma-separated EV offsets ("-2,0,2", "-0.7, 0, +0.7"): one to kMostSteps
// of them, each within kWidestStep. An empty text is no bracket.
bool parseBracket(const std::string& text, std::vector<double>& out);
// Milliseconds since the epoch, the wall-clock start ("1767312000000").
bool parseEpochMs(const std::string& text, std::int64_t& out);
