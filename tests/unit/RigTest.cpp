// The rig against the fake SDK: the registry's rules, every camera route
// answered the same at its path and under /cameras/main, a rig camera kept
// connected and let go whole, and each camera's events and SDK errors under
// its own id.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/Until.h"
#include "tests/unit/RigHarness.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::string statusBody(const std::string& text) { return "{\"status\":\"" + text + "\"}"; }

class RigTest : public RigHarness {
 protected:
  json add(const std::string& id, const char* model = "CB_P7") {
    const HttpReply reply = call(HttpMethod::Post, "/cameras",
                                 {{"id", id},
                                  {"ip", "127.0.212.2"},
                                  {"mac", "02:00:00:00:d4:02"},
                                  {"model", model},
                                  {"user", "ana"},
                                  {"pass", "s3gredo"}});
    EXPECT_EQ(reply.status, 201) << reply.body;
    return json::parse(reply.body, nullptr, false);
  }
  // The data of every event of a type, with the camera it was published for.
  std::vector<std::pair<std::string, json>> events(const std::string& type) const {
    std::vector<std::pair<std::string, json>> out;
    for (const ServerEvent& e : log.since(0)) {
      if (e.type == type) out.emplace_back(e.camera, json::parse(e.data));
    }
    return out;
  }
};

TEST_F(RigTest, IdsAreCheckedMainStaysAndTheOrderIsKept) {
  const struct {
    std::string id;
    bool valid;
  } ids[] = {{"left", true}, {"a-b_9", true}, {std::string(32, 'x'), true},
             {"", false},    {"Left", false}, {std::string(33, 'x'), false},
             {"a b", false}, {"a/b", false},  {"c\xC3\xA9u", false}};
  for (const auto& c : ids) EXPECT_EQ(Rig::validId(c.id), c.valid) << c.id;

  Rig::Refusal why = Rig::Refusal::None;
  ASSERT_TRUE(rig->add("left", {}, &why));
  ASSERT_TRUE(rig->add("right", {}, &why));
  EXPECT_FALSE(rig->add("left", {}, &why));
  EXPECT_EQ(why, Rig::Refusal::Exists);
  EXPECT_FALSE(rig->add("main", {}, &why));
  EXPECT_EQ(why, Rig::Refusal::Exists);
  EXPECT_FALSE(rig->add("Bad", {}, &why));
  EXPECT_EQ(why, Rig::Refusal::BadId);
  EXPECT_EQ(rig->remove("main"), Rig::Refusal::Main);
  EXPECT_EQ(rig->remove("nope"), Rig::Refusal::Unknown);
  EXPECT_EQ(rig->find("main")->captures().path(), "captures");
  EXPECT_EQ(rig->find("left")->captures().path(), "captures/left");

  std::vector<std::string> order;
  for (const auto& slot : rig->all()) order.push_back(slot->id());
  EXPECT_EQ(order, (std::vector<std::string>{"main", "left", "right"}));

  // The same through HTTP, with the refusals' answers.
  const json listed = json::parse(call(HttpMethod::Get, "/cameras").body);
  ASSERT_EQ(listed["cameras"].size(), 3u);
  EXPECT_EQ(listed["cameras"][0]["id"], "main");
  EXPECT_EQ(listed["cameras"][0]["state"], "sem camera");
  const struct {
    HttpMethod method;
    std::string path;
    HttpFields params;
    int status;
    std::string text;
  } refusals[] = {
      {HttpMethod::Post,
       "/cameras",
       {{"id", "A"}, {"ip", "127.0.0.9"}, {"mac", "02:0:0:0:0:9"}},
       400,
       "id invalido"},
      {HttpMethod::Post,
       "/cameras",
       {{"id", "x"}, {"mac", "02:00:00:00:00:09"}},
       400,
       "ip e mac obrigatorios"},
      {HttpMethod::Post,
       "/cameras",
       {{"id", "x"}, {"ip", "127.0.0"}, {"mac", "02:0:0:0:0:9"}},
       400,
       "ip ou mac invalido"},
      {HttpMethod::Post,
       "/cameras",
       {{"id", "left"}, {"ip", "127.0.0.9"}, {"mac", "2:0:0:0:0:9"}},
       409,
       "id em uso"},
      {HttpMethod::Delete, "/cameras/main", {}, 409, "main nao pode ser removida"},
      {HttpMethod::Delete, "/cameras/nope", {}, 404, "camera desconhecida"},
      {HttpMethod::Delete, "/cameras/right", {}, 200, "removida"},
      {HttpMethod::Get, "/cameras/right/camera", {}, 404, "camera desconhecida"},
  };
  for (const auto& r : refusals) {
    const HttpReply reply = call(r.method, r.path, r.params);
    EXPECT_EQ(reply.status, r.status) << r.path << " " << reply.body;
    EXPECT_EQ(reply.body, statusBody(r.text)) << r.path;
  }
  const std::vector<std::pair<std::string, json>> changes = events("rig");
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes.back().first, "");  // the server's own event
  EXPECT_EQ(changes.back().second, json::parse(R"({"id":"right","change":"removed"})"));
}

// Every camera row, read from the table itself, answers the same bytes at
// /<route> and /cameras/main/<route>, and under an unknown id 404.
TEST_F(RigTest, EveryCameraRouteAnswersTheSameBothWays) {
  const HttpFields params = {{"ip", "127.0.212.1"}, {"mac", "02:00:00:00:d4:01"},
                             {"model", "CB_P7"},    {"shots", "0"},
                             {"pan", "5"},          {"num", "2"}};
  add("left");
  int rows = 0;
  for (const Route& route : apiRoutes()) {
    if (route.scope != RouteScope::Camera) continue;
    ++rows;
    const std::string path = route.path + (route.path.back() == '/' ? "KAMORA_00001.JPG" : "");
    SCOPED_TRACE(path);
    // Each pair starts with the camera connected (a /disconnect before
    // leaves it without one, in both calls).
    ASSERT_EQ(call(HttpMethod::Post, "/connect", params).body, statusBody("conectado"));
    const HttpReply plain = call(route.method, path, params);
    const HttpReply prefixed = call(route.method, "/cameras/main" + path, params);
    EXPECT_EQ(plain.status, prefixed.status);
    EXPECT_EQ(plain.contentType, prefixed.contentType);
    EXPECT_EQ(plain.headers, prefixed.headers);
    EXPECT_EQ(bool(plain.stream), bool(prefixed.stream));
    EXPECT_EQ(bool(plain.sharedBody), bool(prefixed.sharedBody));
    if (path == "/camera") {  // its age moves between the two calls
      json a = json::parse(plain.body), b = json::parse(prefixed.body);
      a.erase("since_ms");
      b.erase("since_ms");
      EXPECT_EQ(a, b);
    } else {
      EXPECT_EQ(plain.body, prefixed.body);
    }
    const HttpReply unknown = call(route.method, "/cameras/nope" + path, params);
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, statusBody("camera desconhecida"));
    EXPECT_NE(call(route.method, "/cameras/left" + path, params).body,
              statusBody("camera desconhecida"));
  }
  EXPECT_GE(rows, 19);
}

// A rig camera: the supervisor connects it, keeps trying after a failed
// first attempt, sets its own folder up, and its removal stops a leased
// move and ends its streams while they still share the slot.
TEST_F(RigTest, ARigCameraIsKeptConnectedAndLetGoWhole) {
  fake::sdk().queueResults("Connect", {0x8106});
  const json added = add("left");
  EXPECT_EQ(added["id"], "left");
  EXPECT_EQ(added["state"], "perdida");
  EXPECT_EQ(added.dump().find("s3gredo"), std::string::npos);
  std::shared_ptr<CameraSlot> left = rig->find("left");
  EXPECT_TRUE(until([&] { return left->health().view().state == CameraState::Connected; }, 5s,
                    [&] { return std::string(cameraStateName(left->health().view().state)); }));
  EXPECT_EQ(fake::sdk().last("Connect").texts[1], "s3gredo");
  EXPECT_EQ(fake::sdk().last("SetSaveInfo").texts[0], "captures/left");

  ASSERT_EQ(
      call(HttpMethod::Post, "/cameras/left/ptz/move", {{"pan", "10"}, {"hold", "5000"}}).body,
      statusBody("ok"));
  HttpReply stream = call(HttpMethod::Get, "/cameras/left/liveview.mjpg");
  ASSERT_TRUE(stream.stream);
  stream.stream->open([] {});
  EXPECT_EQ(call(HttpMethod::Delete, "/cameras/left").body, statusBody("removida"));
  EXPECT_FALSE(rig->find("left"));
  EXPECT_TRUE(left->retired());
  EXPECT_FALSE(left->controller().hasDevice());
  StreamChunk chunk;
  EXPECT_EQ(stream.stream->next(chunk), ReplyStream::Next::End);
  EXPECT_EQ(chunk.head, "--kamoraframe--\r\n");
  // The head's stop after its first link came late, the move, the stop.
  const std::vector<std::pair<std::string, json>> ptz = events("ptz");
  ASSERT_EQ(ptz.size(), 3u);
  EXPECT_EQ(ptz[1].second["command"], "move");
  EXPECT_EQ(ptz[2].first, "left");
  EXPECT_EQ(ptz[2].second,
            json::parse(R"({"camera":"left","command":"stop","automatic":true,"ok":true})"));
  stream.stream->close();
}

TEST_F(RigTest, EachCamerasEventsAndErrorsCarryItsId) {
  add("left", "SB_A4");
  ASSERT_EQ(
      call(HttpMethod::Post, "/connect", {{"ip", "127.0.212.1"}, {"mac", "2:0:0:0:0:1"}}).body,
      statusBody("conectado"));
  // A refused setter on one camera is that camera's error, and only its.
  for (const char* camera : {"left", "main"}) {
    fake::sdk().queueResults("SetDeviceProperty", {0x8201});
    call(HttpMethod::Post, std::string("/cameras/") + camera + "/exposure", {{"iso", "800"}});
  }
  const std::vector<std::pair<std::string, json>> errors = events("error");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].first, "left");
  EXPECT_EQ(errors[0].second["camera"], "left");
  EXPECT_EQ(errors[1].first, "main");
  EXPECT_EQ(errors[1].second["camera"], "main");

  // /events?camera=left: left's events and the server's, none of main's.
  HttpReply reply = call(HttpMethod::Get, "/events", {{"camera", "left"}});
  ASSERT_TRUE(reply.stream);
  reply.stream->open([] {});
  StreamChunk chunk;
  reply.stream->next(chunk);  // the greeting
  log.publish("camera", "{}", "main");
  log.publish("camera", "{}", "left");
  log.publish("rig", "{}");
  reply.stream->next(chunk);
  EXPECT_EQ(chunk.head.find("\"main\""), std::string::npos) << chunk.head;
  EXPECT_NE(chunk.head.find("data: {\"camera\":\"left\"}\n"), std::string::npos) << chunk.head;
  EXPECT_NE(chunk.head.find("event: rig\ndata: {}\n"), std::string::npos) << chunk.head;
  reply.stream->close();
}

}  // namespace
