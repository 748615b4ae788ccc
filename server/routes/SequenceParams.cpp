// Reading a sequence request's parameters with the plan's own parsers.
#include "server/routes/SequenceParams.h"

#include <chrono>

std::optional<SequenceRequest> sequenceRequest(const HttpRequest& request,
                                               SchedulerClock::Wall::time_point now,
                                               std::string& bad) {
  SequenceRequest out;
  if (!parseInterval(request.param("interval", ""), out.plan.interval)) {
    bad = "interval";
    return std::nullopt;
  }
  if (!parseFrameCount(request.param("count", "0"), out.plan.count)) {
    bad = "count";
    return std::nullopt;
  }
  if (!parseBracket(request.param("bracket", ""), out.plan.bracket)) {
    bad = "bracket";
    return std::nullopt;
  }
  if (request.hasParam("start")) {
    std::int64_t ms = 0;
    const bool read = parseEpochMs(request.param("start", ""), ms);
    const SchedulerClock::Wall::time_point start{std::chrono::milliseconds(ms)};
    if (!read || start < now - out.plan.interval || start > now + std::chrono::hours(24 * 7)) {
      bad = "start";
      return std::nullopt;
    }
    out.start = start;
  }
  return out;
}

HttpReply badParameter(const std::string& name) {
  return statusReply(400, "parametro invalido: " + name);
}
