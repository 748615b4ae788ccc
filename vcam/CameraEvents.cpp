// Event builders and their JSON form on the wire.
#include "vcam/CameraEvents.h"

#include <utility>

#include "sdk/standin/Wire.h"

namespace vcam {

Event readyEvent() {
  Event e;
  e.type = vcwire::kEventReady;
  return e;
}

Event errorEvent(std::uint32_t code) {
  Event e;
  e.type = vcwire::kEventError;
  e.code = code;
  return e;
}

Event propsEvent(std::vector<std::uint32_t> codes) {
  Event e;
  e.type = vcwire::kEventProps;
  e.codes = std::move(codes);
  return e;
}

Event pictureEvent(std::uint64_t id, Clock::time_point due) {
  Event e;
  e.type = vcwire::kEventPicture;
  e.id = id;
  e.due = due;
  return e;
}

nlohmann::json eventJson(const Event& event) {
  nlohmann::json j{{"type", event.type}};
  if (event.code) j["code"] = event.code;
  if (!event.codes.empty()) j["codes"] = event.codes;
  if (event.id) j["id"] = event.id;
  return j;
}

}  // namespace vcam
