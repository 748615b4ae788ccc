// The wait before each new attempt to reach the broker: quick at first, then
// doubling up to a ceiling, each shortened by up to a quarter at random so
// that the nodes of a rig do not all knock at once when their broker returns.
// Pure functions: safe from any thread.
#pragma once

#include <chrono>

namespace backoff {

// The first retry comes this soon after a loss, the later ones at most
// kCeiling apart; with an attempt given at most kAttempt to be answered, two
// attempts never start more than 5 s apart.
constexpr std::chrono::milliseconds kFirst{250};
constexpr std::chrono::milliseconds kCeiling{3000};
constexpr std::chrono::milliseconds kAttempt{2000};

// The wait after `failures` attempts failed in a row (0: the first retry
// after a loss). jitter is in [0, 1): 0 waits the full step.
std::chrono::milliseconds delay(int failures, double jitter);

}  // namespace backoff
