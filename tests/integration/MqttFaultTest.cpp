// What the broker may do to a node: go away and come back empty, bring
// payloads too big or malformed, deliver a volley twice or too late.
// Addresses 127.21.4-5.x.
#include "tests/integration/MqttTestSupport.h"
#include "tests/support/StatusReply.h"

using namespace std::chrono_literals;
using namespace mqtttest;

TEST(MqttFaults, BrokerRestartBringsBackStatusAndEveryState) {
  NodeWithCamera setting = NodeWithCamera::start(4, "n4", "02:00:00:00:21:40");
  ASSERT_EQ(setting.failed, "");
  auto& [broker, cam, node, failed] = setting;
  {
    MqttWatch watch(broker->host(), broker->port(), {"kamora/n4/main/state"});
    ASSERT_TRUE(until([&] { return contains(watch.last("kamora/n4/main/state"), "conectada"); }, 5s,
                      [&] { return heardText(watch); }));
  }

  broker->kill();
  // The server goes on without its broker.
  auto reply = node->client().Post("/capture?shots=1");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, statusBody("1 foto(s)"));

  // The broker comes back with nothing kept: the node says it all again,
  // the capture made while it was away included.
  ASSERT_TRUE(broker->restart()) << Broker::lastError();
  const auto back = std::chrono::steady_clock::now();
  MqttWatch watch(broker->host(), broker->port(), {"kamora/n4/#"});
  EXPECT_TRUE(until(
      [&] {
        return watch.last("kamora/n4/status") == "online" &&
               contains(watch.last("kamora/n4/main/state"), "\"downloads\":1");
      },
      5s, [&] { return heardText(watch); }));
  std::printf("[figure] status and state again %lld ms after the broker's return\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - back)
                                         .count()));
}

TEST(MqttFaults, PayloadsTooBigMalformedRepeatedOrLateHurtNothing) {
  auto broker = Broker::start(address(5, 1), kBrokerPort);
  ASSERT_TRUE(broker) << Broker::lastError();
  auto node = startNode(*broker, address(5, 2), "n5");
  ASSERT_TRUE(node) << KamoraServer::lastError();
  MqttWatch watch(broker->host(), broker->port(), {"kamora/#"});
  ASSERT_TRUE(watch.ready(5000));
  ASSERT_TRUE(until([&] { return watch.last("kamora/n5/status") == "online"; }, 5s));

  // Far over the bound the broker itself keeps it from the node.
  ASSERT_TRUE(watch.publish("kamora/n5/main/cmd/capture", std::string(1 << 20, 'x')));
  // Volley orders: refused under their id when it can be read, else dropped.
  const long long farAhead = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count() +
                             3600 * 1000;
  const struct {
    std::string payload;
    std::string report;  // on kamora/n5/volley/<id>; empty: nothing at all
  } orders[] = {
      {"not json", ""},
      {"{\"id\":\"no/slash\",\"at\":1}", ""},
      {"[\"m0\"]", ""},
      {"{\"id\":\"m1\",\"at\":\"soon\"}", "{\"id\":\"m1\",\"ok\":false,\"error\":\"at invalido\"}"},
      {"{\"id\":\"m2\",\"at\":1,\"fire\":true}",
       "{\"id\":\"m2\",\"ok\":false,\"error\":\"campo desconhecido\"}"},
      {"{\"id\":\"m3\",\"shots\":1}", "{\"id\":\"m3\",\"ok\":false,\"error\":\"falta o at\"}"},
      {"{\"id\":\"m4\",\"at\":1,\"shots\":0}",
       "{\"id\":\"m4\",\"ok\":false,\"error\":\"shots invalido\"}"},
      {"{\"id\":\"m5\",\"at\":1,\"cameras\":[\"n5\"]}",
       "{\"id\":\"m5\",\"ok\":false,\"error\":\"cameras invalido\"}"},
      {"{\"id\":\"far\",\"at\":" + std::to_string(farAhead) + "}",
       "{\"id\":\"far\",\"ok\":false,\"error\":\"at distante demais\"}"},
      // Twice, as QoS 1 may deliver it: one report, for the first.
      {"{\"id\":\"late\",\"at\":1000}", "{\"id\":\"late\",\"ok\":false,\"error\":\"atrasada\""},
      {"{\"id\":\"late\",\"at\":1000}", ""},
  };
  for (const auto& order : orders) ASSERT_TRUE(watch.publish("kamora/rig/volley", order.payload));
  // A command after all of them is answered: nothing before it hurt.
  ASSERT_TRUE(watch.publish("kamora/n5/main/cmd/capture", "shots=0"));
  ASSERT_TRUE(until([&] { return !watch.on("kamora/n5/main/reply/capture").empty(); }, 10s,
                    [&] { return heardText(watch); }));
  EXPECT_EQ(watch.on("kamora/n5/main/reply/capture").size(), 1u) << heardText(watch);
  EXPECT_EQ(watch.last("kamora/n5/main/reply/capture"), statusBody("0 foto(s)"));

  std::vector<std::string> reports;
  for (const MqttHeard& m : watch.messages()) {
    if (m.topic.rfind("kamora/n5/volley/", 0) == 0) reports.push_back(m.payload);
  }
  std::size_t next = 0;
  for (const auto& order : orders) {
    if (order.report.empty()) continue;
    ASSERT_LT(next, reports.size()) << heardText(watch);
    EXPECT_EQ(reports[next].substr(0, order.report.size()), order.report) << reports[next];
    ++next;
  }
  EXPECT_EQ(next, reports.size()) << heardText(watch);
  EXPECT_TRUE(contains(reports.back(), "\"late_ms\":")) << reports.back();
  EXPECT_TRUE(node->running());
}
