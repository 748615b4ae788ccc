// The back-off steps.
#include "server/mqtt/Backoff.h"

#include <algorithm>

namespace backoff {

std::chrono::milliseconds delay(int failures, double jitter) {
  std::chrono::milliseconds step = kFirst;
  for (int i = 0; i < failures && step < kCeiling; ++i) step *= 2;
  step = std::min(step, kCeiling);
  jitter = std::clamp(jitter, 0.0, 1.0);
  return std::chrono::milliseconds(static_cast<long long>(step.count() * (1.0 - jitter / 4)));
}

}  // namespace backoff
