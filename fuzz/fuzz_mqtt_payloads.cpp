// Fuzzes what a broker may bring a node: the topic a message came on and its
// payload, read as a volley order and as a command's parameters. A volley
// order that is read must hold only values the readers allow; a refused one
// may name an id only if it is a valid one; nothing may crash or hang.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "server/mqtt/MqttPayloads.h"
#include "server/mqtt/MqttTopics.h"
#include "server/rig/Volley.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool validId(const std::string& id) {
  mqtt::VolleyOrder again;
  const std::string order = "{\"id\":\"" + id + "\",\"at\":1}";
  return mqtt::readVolleyOrder(order, again).empty() && again.id == id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // topic \n payload
  const std::vector<std::string> fields = fuzzin::split(data, size, '\n', 2);
  const std::string& topic = fields[0];
  const std::string payload = fields.size() > 1 ? fields[1] : std::string();

  const mqtt::Heard heard = mqtt::classify(topic, "n1");
  if (heard.kind == mqtt::Heard::Kind::Command) {
    const std::string path = mqtt::commandPath(heard.route);
    check(path.empty() || path == "/" + heard.route);
    HttpFields params;
    const std::string why = mqtt::readCommandParams(payload, params);
    check(why.empty() == (payload.size() <= mqtt::kMaxPayload));
  }

  mqtt::VolleyOrder order;
  const std::string why = mqtt::readVolleyOrder(payload, order);
  if (why.empty()) {
    check(validId(order.id));
    check(order.atMs > 0);
    check(order.shots >= 1 && order.shots <= Volley::kMostShots);
    check(order.everyCamera == order.cameras.empty());
    check(order.cameras.size() <= mqtt::kMaxVolleyCameras);
    for (const auto& [node, camera] : order.cameras) {
      check(mqtt::isNodeName(node) && mqtt::isName(camera));
    }
  } else if (!order.id.empty()) {
    check(validId(order.id));
  }
  return 0;
}
