// The events a camera queues for a session's long poll, built by name so the
// wire's event types and fields live in one place (sdk/standin/Wire.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vcam {

using Clock = std::chrono::steady_clock;

// A value type; no thread rules of its own.
struct Event {
  std::string type;  // vcwire::kEvent*
  std::uint32_t code = 0;
  std::vector<std::uint32_t> codes;
  std::uint64_t id = 0;
  Clock::time_point due;  // the epoch: due when queued
};

Event readyEvent();
Event errorEvent(std::uint32_t code);
Event propsEvent(std::vector<std::uint32_t> codes);
// A picture waiting for download, handed out no earlier than due.
Event pictureEvent(std::uint64_t id, Clock::time_point due);

// One entry of /sdk/events: fields that are unset stay out.
nlohmann::json eventJson(const Event& event);

}  // namespace vcam
