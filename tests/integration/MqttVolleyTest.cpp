// Volleys across nodes through the broker: released together at the
// order's time, measured at the cameras; an order delivered twice fires
// once; one whose time has passed is refused, not fired late.
// Addresses 127.21.6.x.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "tests/integration/MqttTestSupport.h"

using namespace std::chrono_literals;
using namespace mqtttest;

namespace {

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string order(const std::string& id, std::int64_t at, const std::string& cameras = "") {
  return "{\"id\":\"" + id + "\",\"at\":" + std::to_string(at) +
         (cameras.empty() ? "" : ",\"cameras\":" + cameras) + "}";
}

}  // namespace

TEST(MqttVolley, NodesFireTogetherOnceAndNeverLate) {
  auto broker = Broker::start(address(6, 1), kBrokerPort);
  ASSERT_TRUE(broker) << Broker::lastError();
  std::vector<std::unique_ptr<VirtualCamera>> cams;
  std::vector<std::unique_ptr<KamoraServer>> nodes;
  for (int i = 0; i < 2; ++i) {
    cams.push_back(
        VirtualCamera::start(address(6, 10 + i), "02:00:00:00:21:6" + std::to_string(i)));
    ASSERT_TRUE(cams.back()) << VirtualCamera::lastError();
    nodes.push_back(startNode(*broker, address(6, 2 + i), "v" + std::to_string(i)));
    ASSERT_TRUE(nodes.back()) << KamoraServer::lastError();
    ASSERT_TRUE(connectMain(*nodes.back(), *cams.back()));
  }
  // A second camera in the first node's rig.
  cams.push_back(VirtualCamera::start(address(6, 12), "02:00:00:00:21:62"));
  ASSERT_TRUE(cams.back()) << VirtualCamera::lastError();
  auto added =
      nodes[0]->client().Post("/cameras", "id=cam2&ip=" + cams[2]->ip() + "&mac=" + cams[2]->mac(),
                              "application/x-www-form-urlencoded");
  ASSERT_TRUE(added && added->status == 201) << (added ? added->body : "no answer");
  ASSERT_TRUE(until(
      [&] {
        auto state = nodes[0]->client().Get("/cameras/cam2/camera");
        return state && contains(state->body, "\"state\":\"conectada\"");
      },
      10s));
  MqttWatch watch(broker->host(), broker->port(), {"kamora/+/volley/#", "kamora/+/+/event/volley"});
  ASSERT_TRUE(watch.ready(5000));
  auto results = [&](const std::string& id) {
    return watch.on("kamora/v0/volley/" + id).size() + watch.on("kamora/v1/volley/" + id).size();
  };
  auto downloads = [&](int i) { return cams[i]->state()["downloads"].get<int>(); };
  auto allDownloads = [&] {
    return std::to_string(downloads(0)) + " " + std::to_string(downloads(1)) + " " +
           std::to_string(downloads(2));
  };

  // Named cameras, then every camera: each node fires its own at `at`.
  const std::string named =
      order("t1", nowMs() + 400, R"(["v0/main","v0/cam2","v1/ghost","v1/main"])");
  ASSERT_TRUE(watch.publish("kamora/rig/volley", named));
  ASSERT_TRUE(watch.publish("kamora/rig/volley", named)) << "as QoS 1 may deliver it again";
  ASSERT_TRUE(until([&] { return results("t1") == 2; }, 10s, [&] { return heardText(watch); }));
  const auto first = nlohmann::json::parse(watch.last("kamora/v0/volley/t1"));
  const auto second = nlohmann::json::parse(watch.last("kamora/v1/volley/t1"));
  const struct {
    nlohmann::json got;
    std::string expected;  // id, ok, its first file or its error
  } cameras[] = {
      {first["cameras"][0], "main true KAMORA_00001.JPG"},
      {first["cameras"][1], "cam2 true cam2/KAMORA_00001.JPG"},
      {second["cameras"][0], "ghost false camera desconhecida"},
      {second["cameras"][1], "main true KAMORA_00001.JPG"},
  };
  for (const auto& c : cameras) {
    const bool ok = c.got.value("ok", false);
    EXPECT_EQ(c.got.value("id", "") + (ok ? " true " : " false ") +
                  (ok ? c.got["files"][0].get<std::string>() : c.got.value("error", "")),
              c.expected)
        << c.got.dump();
  }
  // The engine's volley event, the server's own, goes out under each camera it fired.
  EXPECT_TRUE(
      until([&] { return contains(watch.last("kamora/v0/cam2/event/volley"), "\"id\":\"cam2\""); },
            5s, [&] { return heardText(watch); }));
  std::vector<std::int64_t> presses;
  for (auto& cam : cams) presses.push_back(cam->state()["last_press_us"].get<std::int64_t>());
  const std::int64_t spreadUs = *std::max_element(presses.begin(), presses.end()) -
                                *std::min_element(presses.begin(), presses.end());
  EXPECT_LT(spreadUs, 50000) << "presses " << spreadUs << " us apart";

  ASSERT_TRUE(watch.publish("kamora/rig/volley", order("t2", nowMs() + 300)));
  ASSERT_TRUE(until([&] { return results("t2") == 2; }, 10s,
                    [&] { return heardText(watch) + "\n" + nodes[0]->output(); }));
  // Each camera fired once per volley: the repeated t1 fired nothing.
  EXPECT_EQ(results("t1"), 2u) << heardText(watch);
  EXPECT_EQ(allDownloads(), "2 2 2");

  // A time already past is refused by each node and fires nothing.
  ASSERT_TRUE(watch.publish("kamora/rig/volley", order("t3", nowMs() - 1000)));
  ASSERT_TRUE(until([&] { return results("t3") == 2; }, 10s, [&] { return heardText(watch); }));
  EXPECT_TRUE(contains(watch.last("kamora/v1/volley/t3"),
                       "{\"id\":\"t3\",\"ok\":false,\"error\":\"atrasada\",\"late_ms\":"))
      << heardText(watch);
  EXPECT_EQ(allDownloads(), "2 2 2");
}
