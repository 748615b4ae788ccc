// until: the one way a test waits for a state. It looks at the condition
// until it holds or the deadline passes, and a failure says what it saw last,
// so a slow machine makes a test slower, never wrong, and a real fault reads
// as one.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

// EXPECT_TRUE(until([&] { return reader.count() >= 3; }, 2s,
//                   [&] { return std::to_string(reader.count()) + " parts"; }));
inline ::testing::AssertionResult until(const std::function<bool()>& condition,
                                        std::chrono::milliseconds deadline,
                                        const std::function<std::string()>& seen = {}) {
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) {
      ::testing::AssertionResult failed = ::testing::AssertionFailure();
      failed << "not within " << deadline.count() << " ms";
      if (seen) failed << "; last seen: " << seen();
      return failed;
    }
    // A look every few milliseconds: cheap for the condition, quick to notice.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return ::testing::AssertionSuccess();
}
