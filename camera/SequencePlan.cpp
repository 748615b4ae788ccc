// Reading a sequence's texts: strict decimal numbers, so that "1e3", "inf" or
// a trailing word is refused rather than read as something else.
#include "camera/SequencePlan.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, optionally a point and more digits, from text[at] up to end; at
// least one digit, at most maxDecimals after the point. whole and the
// fraction scaled to 10^9 are exact; false on overflow.
bool readDecimal(const std::string& text, std::size_t at, std::size_t end, int maxDecimals,
                 std::uint64_t& whole, std::uint64_t& billionths) {
  whole = 0;
  billionths = 0;
  std::size_t digits = 0;
  while (at < end && isDigit(text[at])) {
    if (whole > 1000000000000ull) return false;
    whole = whole * 10 + static_cast<std::uint64_t>(text[at++] - '0');
    ++digits;
  }
  if (at < end && text[at] == '.') {
    ++at;
    std::uint64_t scale = 100000000;
    int decimals = 0;
    while (at < end && isDigit(text[at])) {
      if (++decimals > maxDecimals) return false;
      billionths += static_cast<std::uint64_t>(text[at++] - '0') * scale;
      scale /= 10;
      ++digits;
    }
  }
  return digits > 0 && at == end;
}

// Only digits, one to maxDigits of them.
bool readWhole(const std::string& text, std::size_t maxDigits, std::uint64_t& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  out = value;
  return true;
}

std::size_t skipBlanks(const std::string& text, std::size_t at, std::size_t end) {
  while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
  return at;
}

}  // namespace

bool parseInterval(const std::string& text, std::chrono::nanoseconds& out) {
  std::uint64_t whole = 0, billionths = 0;
  if (!readDecimal(text, 0, text.size(), 9, whole, billionths)) return false;
  const std::chrono::nanoseconds longest = SequencePlan::kLongestInterval;
  if (whole > static_cast<std::uint64_t>(longest.count() / 1000000000)) return false;
  const std::chrono::nanoseconds value(static_cast<std::int64_t>(whole * 1000000000 + billionths));
  if (value < SequencePlan::kShortestInterval || value > longest) return false;
  out = value;
  return true;
}

bool parseFrameCount(const std::string& text, std::uint64_t& out) {
  std::uint64_t value = 0;
  if (!readWhole(text, 7, value) || value > SequencePlan::kMostFrames) return false;
  out = value;
  return true;
}

bool parseBracket(const std::string& text, std::vector<double>& out) {
  std::vector<double> steps;
  const std::size_t end = text.size();
  if (skipBlanks(text, 0, end) == end) {
    out.clear();
    return true;
  }
  std::size_t at = 0;
  while (at <= end) {
    std::size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = end;
    std::size_t first = skipBlanks(text, at, comma);
    std::size_t last = comma;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
    double sign = 1.0;
    if (first < last && (text[first] == '-' || text[first] == '+')) {
      if (text[first] == '-') sign = -1.0;
      ++first;
    }
    std::uint64_t whole = 0, billionths = 0;
    if (!readDecimal(text, first, last, 3, whole, billionths)) return false;
    const double ev = sign * (static_cast<double>(whole) + static_cast<double>(billionths) / 1e9);
    if (std::fabs(ev) > SequencePlan::kWidestStep) return false;
    if (steps.size() == SequencePlan::kMostSteps) return false;
    steps.push_back(ev == 0.0 ? 0.0 : ev);  // no "-0"
    at = comma + 1;
  }
  out = std::move(steps);
  return true;
}

bool parseEpochMs(const std::string& text, std::int64_t& out) {
  std::uint64_t value = 0;
  if (!readWhole(text, 15, value)) return false;
  out = static_cast<std::int64_t>(value);
  return true;
}
