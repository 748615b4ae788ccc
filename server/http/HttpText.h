// Small text helpers of the HTTP transport: header names compare without
// regard to case. Thread-safe (pure functions).
#pragma once

#include <cctype>
#include <string>

namespace httptext {

// <0, 0 or >0 as a comes before, equals or comes after b, ignoring ASCII case.
inline int compareIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

inline bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && compareIgnoringCase(a, b) == 0;
}

}  // namespace httptext
