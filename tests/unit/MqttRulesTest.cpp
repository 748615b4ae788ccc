// The MQTT side's rules without a broker: topic names and what a heard
// topic asks, which commands may pass, names, the strict volley order, the
// back-off, the ids seen, and the options that set it all up.
#include <gtest/gtest.h>

#include "app/MqttSetup.h"
#include "server/mqtt/Backoff.h"
#include "server/mqtt/MqttPayloads.h"
#include "server/mqtt/MqttTopics.h"
#include "server/mqtt/SeenIds.h"
#include "tests/support/ReadFile.h"

TEST(MqttTopics, NamesHeardTopicsAndTheDocumentation) {
  using mqtt::Topic;
  EXPECT_EQ(mqtt::topicName(Topic::Status, "n1"), "kamora/n1/status");
  EXPECT_EQ(mqtt::topicName(Topic::State, "n1", "left"), "kamora/n1/left/state");
  EXPECT_EQ(mqtt::topicName(Topic::Event, "n1", "left", "capture"), "kamora/n1/left/event/capture");
  EXPECT_EQ(mqtt::topicName(Topic::Reply, "n1", "main", "ptz/preset/set"),
            "kamora/n1/main/reply/ptz/preset/set");
  EXPECT_EQ(mqtt::topicName(Topic::NodeEvent, "n1", "", "sequence"), "kamora/n1/event/sequence");
  EXPECT_EQ(mqtt::topicName(Topic::VolleyResult, "n1", "", "v7"), "kamora/n1/volley/v7");
  EXPECT_EQ(mqtt::subscriptions("n1"),
            (std::vector<std::string>{"kamora/n1/+/cmd/#", "kamora/rig/volley"}));

  const struct {
    std::string topic;
    mqtt::Heard::Kind kind;
    std::string camera, route;
  } heard[] = {
      {"kamora/n1/main/cmd/capture", mqtt::Heard::Kind::Command, "main", "capture"},
      {"kamora/n1/left/cmd/ptz/preset/set", mqtt::Heard::Kind::Command, "left", "ptz/preset/set"},
      {"kamora/n1/left/cmd/", mqtt::Heard::Kind::Command, "left", ""},
      {"kamora/n2/main/cmd/capture", mqtt::Heard::Kind::Other, "", ""},
      {"kamora/n1/main/reply/capture", mqtt::Heard::Kind::Other, "", ""},
      {"kamora/n1/main/cmd", mqtt::Heard::Kind::Other, "", ""},
      {"kamora/rig/volley", mqtt::Heard::Kind::Volley, "", ""},
  };
  for (const auto& h : heard) {
    const mqtt::Heard got = mqtt::classify(h.topic, "n1");
    EXPECT_EQ(got.kind, h.kind) << h.topic;
    EXPECT_EQ(got.camera, h.camera) << h.topic;
    EXPECT_EQ(got.route, h.route) << h.topic;
  }

  const std::string doc = readFile(std::string(KAMORA_SOURCE_DIR) + "/docs/mqtt.md");
  for (const mqtt::TopicRow& row : mqtt::topicTable()) {
    EXPECT_NE(doc.find(std::string("`") + row.pattern + "`"), std::string::npos)
        << row.pattern << " missing from docs/mqtt.md";
  }
  for (const mqtt::CommandRow& row : mqtt::commandTable()) {
    EXPECT_NE(doc.find(std::string("`") + row.route), std::string::npos) << row.route;
  }
}

TEST(MqttTopics, OnlyTheListedCommandsPass) {
  const struct {
    std::string route, path;
  } rows[] = {
      {"exposure", "/exposure"},
      {"capture", "/capture"},
      {"ptz/move", "/ptz/move"},
      {"ptz/preset/recall", "/ptz/preset/recall"},
      {"sequence", "/sequence"},
      {"sequence/stop", "/sequence/stop"},
      {"sequence/pause", ""},
      {"connect", ""},
      {"disconnect", ""},
      {"captures", ""},
      {"ptz/", ""},
      {"ptz//move", ""},
      {"ptz/move/", ""},
      {"ptz/../connect", ""},
      {"ptz/Move", ""},
      {"capturex", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(mqtt::commandPath(row.route), row.path) << row.route;
}

TEST(MqttTopics, NodeNames) {
  for (const char* good : {"a", "studio-1", "rig_2", "abcdefghijklmnopqrstuvwxyz012345"}) {
    EXPECT_TRUE(mqtt::isNodeName(good)) << good;
  }
  for (const char* bad :
       {"", "rig", "Studio", "a.b", "a/b", "a+", "#", "abcdefghijklmnopqrstuvwxyz0123456"}) {
    EXPECT_FALSE(mqtt::isNodeName(bad)) << bad;
  }
  const struct {
    std::string host, node;
  } hosts[] = {{"Studio-PC.local", "studio-pc"},
               {"cam box 3", "cam-box-3"},
               {"rig", "rig-node"},
               {"", "kamora"},
               {".hidden", "kamora"},
               {std::string(40, 'x'), std::string(32, 'x')}};
  for (const auto& h : hosts) {
    EXPECT_EQ(mqtt::nodeFromHostName(h.host), h.node) << h.host;
    EXPECT_TRUE(mqtt::isNodeName(mqtt::nodeFromHostName(h.host))) << h.host;
  }
}

TEST(MqttPayloads, VolleyOrdersAreReadStrictly) {
  const struct {
    std::string payload;
    std::string why;  // empty: read
    std::string id;
  } rows[] = {
      {R"({"id":"v1","at":1700000000000})", "", "v1"},
      {R"({"at":1700000000000,"shots":3,"id":"a.B:c-_9","cameras":["n1/main","n2/left"]})", "",
       "a.B:c-_9"},
      {R"({"id":"v1","at":1700000000000.0})", "at invalido", "v1"},
      {R"({"id":"v1","at":-5})", "at invalido", "v1"},
      {R"({"id":"v1","at":99999999999999999999})", "at invalido", "v1"},
      {R"({"id":"v1","at":true})", "at invalido", "v1"},
      {R"({"id":"v1","at":1,"shots":1001})", "shots invalido", "v1"},
      {R"({"id":"v1","at":1,"shots":"2"})", "shots invalido", "v1"},
      {R"({"id":"v1","at":1,"cameras":[]})", "cameras vazio", "v1"},
      {R"({"id":"v1","at":1,"cameras":["n1/main","n1/main"]})", "camera repetida", "v1"},
      {R"({"id":"v1","at":1,"cameras":["rig/main"]})", "cameras invalido", "v1"},
      {R"({"id":"v1","at":1,"cameras":["n1/Main"]})", "cameras invalido", "v1"},
      {R"({"id":"v1","at":1,"cameras":[["n1/main"]]})", "cameras invalido", "v1"},
      {R"({"id":"v1","at":1,"cameras":"n1/main"})", "cameras invalido", "v1"},
      {R"({"id":"v1","at":1,"at":2})", "campo repetido: at", "v1"},
      {R"({"id":"v1","at":1,"x":{}})", "campo desconhecido", "v1"},
      {R"({"id":"state","at":1})", "id invalido", ""},
      {R"({"id":"a b","at":1})", "id invalido", ""},
      {R"({"id":7,"at":1})", "id invalido", ""},
      {R"({"at":1})", "falta o id", ""},
      {R"({"id":"v1"})", "falta o at", "v1"},
      {R"({"id":"v1","at":1} {})", "json invalido", "v1"},
      {R"({"id":"v1","at":1)", "json invalido", "v1"},
      {"[1]", "esperado um objeto", ""},
      {"", "json invalido", ""},
      {"\"v1\"", "esperado um objeto", ""},
      {std::string("{\"id\":\"v1\",\"at\":1,\"cameras\":[\"n1/") + "\xff" + "\"]}", "json invalido",
       "v1"},
  };
  for (const auto& row : rows) {
    mqtt::VolleyOrder order;
    EXPECT_EQ(mqtt::readVolleyOrder(row.payload, order), row.why) << row.payload;
    EXPECT_EQ(order.id, row.id) << row.payload;
  }

  mqtt::VolleyOrder order;
  ASSERT_EQ(mqtt::readVolleyOrder(rows[1].payload, order), "");
  EXPECT_EQ(order.atMs, 1700000000000);
  EXPECT_EQ(order.shots, 3);
  EXPECT_FALSE(order.everyCamera);
  EXPECT_EQ(mqtt::camerasOf(order, "n2"), std::vector<std::string>{"left"});
  EXPECT_TRUE(mqtt::camerasOf(order, "n3").empty());

  // Bounded before anything is read.
  std::string big = R"({"id":"v1","at":1,"cameras":[)";
  while (big.size() <= mqtt::kMaxPayload) big += "\"n1/c\",";
  EXPECT_EQ(mqtt::readVolleyOrder(big, order), "payload grande demais");
  HttpFields params;
  EXPECT_EQ(mqtt::readCommandParams(std::string(mqtt::kMaxPayload + 1, 'a'), params),
            "payload grande demais");
  EXPECT_EQ(mqtt::readCommandParams("pan=30&tilt=-5", params), "");
  EXPECT_EQ(params, (HttpFields{{"pan", "30"}, {"tilt", "-5"}}));
}

TEST(MqttLink, BackoffStepsAndIdsSeen) {
  using std::chrono::milliseconds;
  const struct {
    int failures;
    double jitter;
    milliseconds wait;
  } steps[] = {{0, 0.0, milliseconds(250)},   {1, 0.0, milliseconds(500)},
               {2, 0.0, milliseconds(1000)},  {3, 0.0, milliseconds(2000)},
               {4, 0.0, milliseconds(3000)},  {40, 0.0, milliseconds(3000)},
               {0, 0.999, milliseconds(187)}, {40, 0.5, milliseconds(2625)}};
  for (const auto& s : steps) {
    EXPECT_EQ(backoff::delay(s.failures, s.jitter), s.wait) << s.failures << " " << s.jitter;
  }
  // An attempt and the wait after it never add up to more than 5 s.
  static_assert(backoff::kAttempt + backoff::kCeiling <= std::chrono::seconds(5));
  static_assert(backoff::kFirst <= std::chrono::seconds(1));

  SeenIds seen(3);
  EXPECT_TRUE(seen.firstTime("a"));
  EXPECT_FALSE(seen.firstTime("a"));
  for (const char* id : {"b", "c", "d"}) EXPECT_TRUE(seen.firstTime(id));
  EXPECT_TRUE(seen.firstTime("a")) << "the oldest is forgotten first";
  EXPECT_FALSE(seen.firstTime("d"));
}

TEST(MqttSetup, OptionsBecomeTheBridgeSettingsOrStopTheRun) {
  const struct {
    std::vector<std::string> args;
    std::string hostName;
    const char* password;
    std::string settings;  // host:port node user password keep-alive; "refused"
    std::string printed;
  } rows[] = {
      {{}, "box", nullptr, ":1883    5", ""},
      {{"--mqtt", "127.0.0.5"}, "box", "pw", "127.0.0.5:1883 box   5", ""},
      {{"--mqtt", "broker.local:1999", "--node", "left-1", "--mqtt-user", "ana"},
       "box",
       "pw",
       "broker.local:1999 left-1 ana pw 5",
       ""},
      {{"--mqtt", "[::1]:1884", "--mqtt-keepalive", "30"}, "box", nullptr, "::1:1884 box   30", ""},
      {{"--mqtt", "b", "--mqtt-ca", "/dev/null"}, "box", nullptr, "b:8883 box   5", ""},
      {{"--mqtt", "b", "--mqtt-keepalive", "600"}, "box", nullptr, "b:1883 box   60", ""},
      {{"--mqtt", "b", "--mqtt-keepalive", "2"},
       "box",
       nullptr,
       "b:1883 box   5",
       "[mqtt] keep-alive de 2 s abaixo do minimo da biblioteca MQTT; usando 5 s\n"},
      {{"--mqtt", "b"},
       "Studio.PC",
       nullptr,
       "b:1883 studio   5",
       "[mqtt] o nome da maquina \"Studio.PC\" nao serve como nome de no; usando \"studio\" "
       "(--node escolhe outro)\n"},
      {{"--mqtt", "b", "--node", "Left"},
       "box",
       nullptr,
       "refused",
       "[error] --node: \"Left\" nao serve como nome de no (a-z, 0-9, _ e -, ate 32; nao "
       "\"rig\")\n"},
      {{"--mqtt", "b:0"}, "box", nullptr, "refused", "[error] --mqtt: \"b:0\" nao e HOST[:PORT]\n"},
      {{"--mqtt", ":1883"},
       "box",
       nullptr,
       "refused",
       "[error] --mqtt: \":1883\" nao e HOST[:PORT]\n"},
      {{"--mqtt", "b", "--mqtt-ca", "/nonexistent/ca.pem"},
       "box",
       nullptr,
       "refused",
       "[error] --mqtt-ca: nao foi possivel ler /nonexistent/ca.pem\n"},
  };
  for (const auto& row : rows) {
    std::vector<const char*> argv = {"kamora", "--server"};
    for (const std::string& a : row.args) argv.push_back(a.c_str());
    Options options;
    scanOptions(static_cast<int>(argv.size()), argv.data(), 2, options);
    MqttOptions mqtt;
    testing::internal::CaptureStdout();
    const bool ok = mqttFromOptions(options, row.hostName, row.password, mqtt);
    std::fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string settings = !ok ? "refused"
                                     : mqtt.host + ":" + std::to_string(mqtt.port) + " " +
                                           mqtt.node + " " + mqtt.user + " " + mqtt.password + " " +
                                           std::to_string(mqtt.keepAliveS);
    const std::string name = row.args.empty() ? "(none)" : row.args.back();
    EXPECT_EQ(settings, row.settings) << name;
    EXPECT_EQ(printed, row.printed) << name;
  }
}
