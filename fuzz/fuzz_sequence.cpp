// Fuzzes the texts of a sequence (interval, frame count, bracket, start),
// shared by the command line and the HTTP API, and the bracket steps made
// from what they accept: whatever is accepted lies within the plan's bounds
// and means what the standard conversion of its text means.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/BracketSteps.h"
#include "camera/SequencePlan.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      std::chrono::nanoseconds interval{0};
      if (!parseInterval(text, interval)) return 0;
      check(interval >= SequencePlan::kShortestInterval);
      check(interval <= SequencePlan::kLongestInterval);
      check(near(static_cast<double>(interval.count()) / 1e9, std::strtod(text.c_str(), nullptr)));
      SequencePlan plan;
      plan.interval = interval;
      plan.count = SequencePlan::kMostFrames;
      check(plan.dueAfterStart(plan.count) >= plan.dueAfterStart(plan.count - 1));
      break;
    }
    case 1: {
      std::uint64_t count = 0;
      if (parseFrameCount(text, count)) {
        check(count <= SequencePlan::kMostFrames);
        check(count == std::strtoull(text.c_str(), nullptr, 10));
      }
      break;
    }
    case 2: {
      std::vector<double> offsets;
      if (!parseBracket(text, offsets)) return 0;
      check(offsets.size() <= SequencePlan::kMostSteps);
      std::size_t at = 0;
      for (double ev : offsets) {
        check(std::fabs(ev) <= SequencePlan::kWidestStep);
        const std::size_t comma = text.find(',', at);
        check(near(ev, std::strtod(text.substr(at, comma - at).c_str(), nullptr)));
        at = comma + 1;
      }
      // Any base with the accepted offsets gives one step each, each either
      // a setting or a reason.
      ExposureNow base;
      if (size > 4) {
        base.mode = data[1] % 3 == 0 ? 1u : data[1];
        base.shutter = static_cast<std::uint32_t>(data[2]) << 16 | data[3];
        base.evMilli = (static_cast<int>(data[4]) - 128) * 40;
      }
      for (const BracketStep& step : bracketSteps(base, offsets)) {
        check(step.error.empty() == (step.set.hasShutter || step.set.hasEv));
        check(step.error.empty() == !step.applied.empty());
      }
      break;
    }
    default: {
      std::int64_t ms = 0;
      if (parseEpochMs(text, ms)) check(ms >= 0 && std::to_string(ms).size() <= text.size());
      break;
    }
  }
  return 0;
}
