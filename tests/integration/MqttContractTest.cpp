// The topics and payloads a node speaks, against a real mosquitto:
// retained status and state, events, commands and their replies, the last
// will. Addresses 127.21.1-3.x.
#include <signal.h>

#include "tests/integration/MqttTestSupport.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Subprocess.h"

using namespace std::chrono_literals;
using namespace mqtttest;

TEST(MqttContract, StatusAndStateAreRetainedAndFollowTheCamera) {
  auto broker = Broker::start(address(1, 1), kBrokerPort);
  ASSERT_TRUE(broker) << Broker::lastError();
  auto cam = VirtualCamera::start(address(1, 10), "02:00:00:00:21:10");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  MqttWatch early(broker->host(), broker->port(), {"kamora/#"});
  ASSERT_TRUE(early.ready(5000));
  auto node = startNode(*broker, address(1, 2), "n1");
  ASSERT_TRUE(node) << KamoraServer::lastError();
  ASSERT_TRUE(until([&] { return early.last("kamora/n1/status") == "online"; }, 5s,
                    [&] { return heardText(early); }));
  ASSERT_TRUE(connectMain(*node, *cam));
  ASSERT_TRUE(node->client().Post("/capture?shots=1"));

  // Each change of the camera is its event and a new retained state.
  EXPECT_TRUE(until([&] { return contains(early.last("kamora/n1/main/state"), "\"downloads\":1"); },
                    5s, [&] { return heardText(early); }));
  const std::vector<std::string> states = [&] {
    std::vector<std::string> out;
    for (const MqttHeard& m : early.on("kamora/n1/main/state")) out.push_back(m.payload);
    return out;
  }();
  ASSERT_GE(states.size(), 3u) << heardText(early);
  EXPECT_TRUE(contains(states.front(), "{\"id\":\"main\",\"state\":\"sem camera\"")) << states[0];
  EXPECT_TRUE(contains(states.back(),
                       "\"state\":\"conectada\",\"model\":\"SB_A4\",\"ip\":\"" + cam->ip() + "\""))
      << states.back();
  EXPECT_TRUE(contains(early.last("kamora/n1/main/event/camera"), "\"state\":\"conectada\""));
  EXPECT_TRUE(contains(early.last("kamora/n1/main/event/capture"), "\"name\":\"KAMORA_00001.JPG\""))
      << heardText(early);

  // A watcher that comes later is told the newest of each by the broker.
  MqttWatch late(broker->host(), broker->port(), {"kamora/n1/#"});
  ASSERT_TRUE(until([&] { return late.on("kamora/n1/main/state").size() == 1; }, 5s,
                    [&] { return heardText(late); }));
  const MqttHeard status = late.on("kamora/n1/status").at(0);
  EXPECT_TRUE(status.retained);
  EXPECT_EQ(status.payload, "online");
  const MqttHeard state = late.on("kamora/n1/main/state").at(0);
  EXPECT_TRUE(state.retained);
  EXPECT_TRUE(contains(state.payload, "\"downloads\":1")) << state.payload;
  EXPECT_TRUE(late.on("kamora/n1/main/event/capture").empty()) << "events are not retained";

  // A camera added to the rig has its state; once removed, none is kept.
  auto added = node->client().Post("/cameras", "id=left&ip=127.21.1.99&mac=02:00:00:00:21:99",
                                   "application/x-www-form-urlencoded");
  ASSERT_TRUE(added && added->status == 201);
  ASSERT_TRUE(until([&] { return contains(early.last("kamora/n1/left/state"), "\"id\":\"left\""); },
                    5s, [&] { return heardText(early); }));
  ASSERT_TRUE(node->client().Delete("/cameras/left"));
  EXPECT_TRUE(until([&] { return early.last("kamora/n1/left/state").empty(); }, 5s,
                    [&] { return heardText(early); }));
  // The rig's own events, which have no camera, are heard under the node.
  EXPECT_TRUE(until(
      [&] {
        const std::vector<MqttHeard> rig = early.on("kamora/n1/event/rig");
        return rig.size() == 2 && rig[0].payload == "{\"id\":\"left\",\"change\":\"added\"}" &&
               rig[1].payload == "{\"id\":\"left\",\"change\":\"removed\"}";
      },
      5s, [&] { return heardText(early); }));
  MqttWatch later(broker->host(), broker->port(), {"kamora/n1/+/state"});
  ASSERT_TRUE(until([&] { return !later.on("kamora/n1/main/state").empty(); }, 5s));
  EXPECT_TRUE(later.on("kamora/n1/left/state").empty()) << heardText(later);
}

TEST(MqttContract, CommandsRunThroughTheRoutesAndAnswerWhereAsked) {
  NodeWithCamera setting = NodeWithCamera::start(2, "n2", "02:00:00:00:21:20");
  ASSERT_EQ(setting.failed, "");
  auto& [broker, cam, node, failed] = setting;
  MqttWatch watch(broker->host(), broker->port(), {"kamora/#", "answers/#"});
  ASSERT_TRUE(watch.ready(5000));
  ASSERT_TRUE(until([&] { return watch.last("kamora/n2/status") == "online"; }, 5s));

  struct Case {
    std::string camera, route, payload, responseTopic, correlation;
    std::string replyTopic, body, status;
  };
  const std::string oversized(64 * 1024 + 1, 'a');
  const std::vector<Case> cases = {
      {"main", "capture", "shots=1", "", "", "kamora/n2/main/reply/capture",
       statusBody("1 foto(s)"), "200"},
      {"main", "exposure", "iso=400", "answers/x", "c-17", "answers/x", statusBody("ok"), "200"},
      {"main", "ptz/home", "", "", "", "kamora/n2/main/reply/ptz/home", statusBody("ok"), "200"},
      {"main", "connect", "ip=1&mac=2", "", "", "kamora/n2/main/reply/connect",
       statusBody("comando nao permitido"), "403"},
      {"main", "ptz/dance", "", "", "", "kamora/n2/main/reply/ptz/dance",
       statusBody("comando desconhecido"), "404"},
      {"left", "capture", "", "answers/y", "", "answers/y", statusBody("camera desconhecida"),
       "404"},
      {"main", "capture", oversized, "", "", "kamora/n2/main/reply/capture",
       statusBody("payload grande demais"), "413"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera + "/" + c.route + " " + c.payload.substr(0, 20));
    watch.clear();
    ASSERT_TRUE(watch.publish("kamora/n2/" + c.camera + "/cmd/" + c.route, c.payload,
                              c.responseTopic, c.correlation));
    ASSERT_TRUE(until([&] { return !watch.on(c.replyTopic).empty(); }, 10s,
                      [&] { return heardText(watch); }));
    const MqttHeard reply = watch.on(c.replyTopic).front();
    EXPECT_EQ(reply.payload, c.body);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.correlation, c.correlation);
  }
  // The exposure command went through the route: its event followed.
  EXPECT_EQ(cam->state()["iso"], 400);

  // A client of another make asks through a response topic and gets it.
  const RunResult asked = runProgram(
      {toolPath("mosquitto_rr"), "-h", broker->host(), "-p", std::to_string(broker->port()), "-t",
       "kamora/n2/main/cmd/exposure", "-e", "answers/rr", "-m", "iso=200", "-W", "10"},
      "", 15000);
  EXPECT_EQ(asked.exitCode, 0) << asked.errorOutput;
  EXPECT_EQ(asked.output, statusBody("ok") + "\n");

  // A sequence started and stopped through the broker: each command answers
  // with its route's object, and the sequence's events are heard under the
  // camera. Its first frame is due a minute on, so nothing changes the
  // started object before HTTP reads it back.
  const long long inAMinute = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count() +
                              60000;
  watch.clear();
  ASSERT_TRUE(watch.publish("kamora/n2/main/cmd/sequence",
                            "interval=1&count=2&start=" + std::to_string(inAMinute)));
  ASSERT_TRUE(until([&] { return !watch.on("kamora/n2/main/reply/sequence").empty(); }, 10s,
                    [&] { return heardText(watch); }));
  const MqttHeard started = watch.on("kamora/n2/main/reply/sequence").front();
  EXPECT_EQ(started.status, "201");
  const auto read = node->client().Get("/sequence");
  ASSERT_TRUE(read);
  EXPECT_EQ(started.payload, read->body);
  EXPECT_TRUE(until(
      [&] {
        return contains(watch.last("kamora/n2/main/event/sequence"), "\"state\":\"rodando\"");
      },
      5s, [&] { return heardText(watch); }));

  ASSERT_TRUE(watch.publish("kamora/n2/main/cmd/sequence/stop", ""));
  ASSERT_TRUE(until([&] { return !watch.on("kamora/n2/main/reply/sequence/stop").empty(); }, 10s,
                    [&] { return heardText(watch); }));
  const MqttHeard stopped = watch.on("kamora/n2/main/reply/sequence/stop").front();
  EXPECT_EQ(stopped.status, "200");
  // The object as it was when the stop was asked; the run ends just after.
  EXPECT_TRUE(contains(stopped.payload, "\"count\":2,\"interval_s\":1,")) << stopped.payload;
  EXPECT_TRUE(contains(stopped.payload, "\"camera\":\"main\",\"start\":")) << stopped.payload;
  EXPECT_TRUE(until(
      [&] {
        return contains(watch.last("kamora/n2/main/event/sequence"),
                        "{\"camera\":\"main\",\"state\":\"parada\",\"frame\":0,");
      },
      5s, [&] { return heardText(watch); }));
  const auto ended = node->client().Get("/sequence");
  ASSERT_TRUE(ended);
  EXPECT_TRUE(contains(ended->body, "{\"state\":\"parada\",\"frame\":0,")) << ended->body;
}

TEST(MqttContract, StatusSaysOfflineOnAStopAndAsTheLastWill) {
  auto broker = Broker::start(address(3, 1), kBrokerPort);
  ASSERT_TRUE(broker) << Broker::lastError();
  MqttWatch watch(broker->host(), broker->port(), {"kamora/+/status"});
  ASSERT_TRUE(watch.ready(5000));
  // A clean stop says so itself; a killed node's broker says it for it,
  // at the latest 1.5 keep-alives (5 s) after.
  const struct {
    std::string node;
    int signal;
  } cases[] = {{"stopped", SIGTERM}, {"killed", SIGKILL}};
  int block = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node);
    auto node = startNode(*broker, address(3, block++), c.node);
    ASSERT_TRUE(node) << KamoraServer::lastError();
    const std::string topic = "kamora/" + c.node + "/status";
    ASSERT_TRUE(
        until([&] { return watch.last(topic) == "online"; }, 5s, [&] { return heardText(watch); }));
    node->signal(c.signal);
    EXPECT_TRUE(until([&] { return watch.last(topic) == "offline"; }, 7500ms,
                      [&] { return heardText(watch); }));
    EXPECT_EQ(node->wait(5000), c.signal == SIGTERM ? 0 : 128 + SIGKILL) << node->output();
  }
}

// Address 127.21.7.x.
TEST(MqttContract, UserPasswordAndTlsAreUsedAsGiven) {
  const std::string dir = makeTempDir("mqtt-auth");
  const std::string host = address(7, 1);
  auto run = [&](const std::string& line) {
    return runProgram({"/bin/sh", "-c", line}, dir, 30000).exitCode == 0;
  };
  // A password file, and a CA with the broker's certificate for its address.
  ASSERT_TRUE(run(toolPath("mosquitto_passwd") + " -c -b passwd rig s3cret"));
  ASSERT_TRUE(
      run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
          "-keyout ca.key -out ca.pem -days 2 -subj /CN=kamora-test-ca 2>/dev/null"));
  ASSERT_TRUE(
      run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
          "-keyout broker.key -out broker.csr -subj /CN=" +
          host + " 2>/dev/null"));
  ASSERT_TRUE(run("printf 'subjectAltName=IP:" + host +
                  "' > san && openssl x509 -req -in "
                  "broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out broker.pem -days 2 "
                  "-extfile san 2>/dev/null"));
  BrokerOptions options;
  options.passwordFile = dir + "/passwd";
  options.moreConfig = "listener 18831 " + host + "\ncafile " + dir + "/ca.pem\ncertfile " + dir +
                       "/broker.pem\nkeyfile " + dir + "/broker.key\n";
  auto broker = Broker::start(host, kBrokerPort, options);
  ASSERT_TRUE(broker) << Broker::lastError();
  MqttWatch watch(host, kBrokerPort, {"kamora/+/status"}, "rig", "s3cret");
  ASSERT_TRUE(watch.ready(5000));

  const struct {
    std::string node, password;
    std::vector<std::string> more;
    bool online;
  } cases[] = {
      {"plain", "s3cret", {}, true},
      {"wrongpass", "guess", {}, false},
      {"tls", "s3cret", {"--mqtt", host + ":18831", "--mqtt-ca", dir + "/ca.pem"}, true},
      {"tlsnoca", "s3cret", {"--mqtt", host + ":18831"}, false},
  };
  int next = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node);
    ::setenv("KAMORA_MQTT_PASS", c.password.c_str(), 1);
    std::vector<std::string> args = {"--mqtt-user", "rig"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    auto node = startNode(*broker, address(7, next++), c.node, args);
    ::unsetenv("KAMORA_MQTT_PASS");
    ASSERT_TRUE(node) << KamoraServer::lastError();
    if (c.online) {
      EXPECT_TRUE(until([&] { return watch.last("kamora/" + c.node + "/status") == "online"; }, 5s,
                        [&] { return heardText(watch) + node->output(); }));
    } else {
      // Refused or never spoken to: the server says so and serves on.
      EXPECT_TRUE(until([&] { return contains(node->output(), "tentando de novo"); }, 5s,
                        [&] { return node->output(); }));
      EXPECT_EQ(watch.last("kamora/" + c.node + "/status"), "");
      EXPECT_TRUE(node->client().Get("/status"));
    }
    EXPECT_FALSE(contains(node->output(), c.password)) << "the password is never printed";
  }
}
