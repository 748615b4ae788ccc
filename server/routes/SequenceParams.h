// The parameters of a sequence request (interval, count, bracket, start),
// read once for every route that starts one.
#pragma once

#include <optional>
#include <string>

#include "camera/SchedulerClock.h"
#include "camera/SequencePlan.h"
#include "server/http/HttpTypes.h"

struct SequenceRequest {
  SequencePlan plan;
  std::optional<SchedulerClock::Wall::time_point> start;  // none: now
};

// The sequence a request asks for, judged against the wall clock's now; on
// a bad parameter, nullopt and its name in bad. A start more than one
// interval past or more than a week ahead is bad.
std::optional<SequenceRequest> sequenceRequest(const HttpRequest& request,
                                               SchedulerClock::Wall::time_point now,
                                               std::string& bad);
// 400 {"status":"parametro invalido: <name>"}.
HttpReply badParameter(const std::string& name);
