// What the broker brings, read strictly: a command's parameters (as an HTTP
// form body, so a command means what the same request means) and a volley
// order (JSON with a fixed set of fields). Each reader refuses anything it
// does not expect with a short reason, and reads nothing past
// mqtt::kMaxPayload. Pure: safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/http/HttpTypes.h"

namespace mqtt {

// The parameters of a command's payload ("shots=2", "pan=30&tilt=0"), read
// as the HTTP routes read a form body. Empty on success, else why not.
std::string readCommandParams(std::string_view payload, HttpFields& out);

// {"id":"<unique>","at":<epoch ms>,"shots":1,"cameras":["node/camera",...]}
struct VolleyOrder {
  std::string id;  // [A-Za-z0-9_.:-]{1,64}, not "state"
  std::int64_t atMs = 0;
  int shots = 1;            // 1 to Volley::kMostShots
  bool everyCamera = true;  // no "cameras": every camera of every node
  std::vector<std::pair<std::string, std::string>> cameras;  // node, camera
};

constexpr std::size_t kMaxVolleyCameras = 1000;

// Empty on success, else why not. On a failure `order.id` holds the id when
// it was read before the fault, so the refusal can be reported under it.
std::string readVolleyOrder(std::string_view payload, VolleyOrder& order);

// Of the order's cameras, those of `node`, in the order's order, each once.
std::vector<std::string> camerasOf(const VolleyOrder& order, const std::string& node);

}  // namespace mqtt
