// The pieces of the MQTT tests: a broker of the test's own, nodes
// (kamora --server joined to it) and their virtual cameras, each test on
// its own block of addresses 127.21.<block>.x so that tests run side by side.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/Broker.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace mqtttest {

constexpr int kBrokerPort = 18830;

inline std::string address(int block, int host) {
  return "127.21." + std::to_string(block) + "." + std::to_string(host);
}

inline std::unique_ptr<KamoraServer> startNode(const Broker& broker, const std::string& host,
                                               const std::string& node,
                                               std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--mqtt", broker.address(), "--node", node};
  args.insert(args.end(), more.begin(), more.end());
  return KamoraServer::start(host, 8080, args);
}

// The node's camera "main" connected to cam through the HTTP route.
inline bool connectMain(KamoraServer& server, const VirtualCamera& cam,
                        const std::string& model = "SB_A4") {
  auto reply = server.client().Post(
      ("/connect?ip=" + cam.ip() + "&mac=" + cam.mac() + "&model=" + model).c_str());
  return reply && reply->status == 200;
}

// The setting most tests start from, in address block `block`: a broker, a
// virtual camera and the node `node` with that camera as main, connected.
struct NodeWithCamera {
  std::unique_ptr<Broker> broker;
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> node;
  std::string failed;  // what did not start, empty when everything did

  static NodeWithCamera start(int block, const std::string& node, const std::string& mac) {
    NodeWithCamera s;
    s.broker = Broker::start(address(block, 1), kBrokerPort);
    if (s.broker) s.cam = VirtualCamera::start(address(block, 10), mac);
    if (s.cam) s.node = startNode(*s.broker, address(block, 2), node);
    if (!s.broker) {
      s.failed = "broker: " + Broker::lastError();
    } else if (!s.cam) {
      s.failed = "camera: " + VirtualCamera::lastError();
    } else if (!s.node) {
      s.failed = "node: " + KamoraServer::lastError();
    } else if (!connectMain(*s.node, *s.cam)) {
      s.failed = "node: its camera did not connect";
    }
    return s;
  }
};

// What the watch heard, for a failure message.
inline std::string heardText(const MqttWatch& watch) {
  std::string text;
  for (const MqttHeard& m : watch.messages()) text += "\n  " + m.topic + " " + m.payload;
  return text.empty() ? " nothing" : text;
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace mqtttest
