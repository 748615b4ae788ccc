// The pan/tilt routes end to end: the virtual camera's head moves, stops,
// goes home and keeps presets as the routes say.
#include <gtest/gtest.h>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using nlohmann::json;

TEST(HttpPtzTest, RoutesMoveTheHead) {
  auto cam = VirtualCamera::start("127.0.53.1", "02:00:00:00:53:01", "CB_P7");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  auto server = KamoraServer::start("127.0.53.2");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();
  auto conn = c.Post("/connect?ip=127.0.53.1&mac=02:00:00:00:53:01&model=CB_P7");
  ASSERT_TRUE(conn);
  ASSERT_EQ(conn->status, 200);
  ASSERT_TRUE(cam->state().value("has_head", false));

  auto post = [&](const std::string& path) {
    auto r = c.Post(path.c_str());
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 200) << path;
    EXPECT_EQ(r->body, statusBody("ok")) << path;
  };

  post("/ptz/absolute?pan=100&tilt=-20&speed=50");
  EXPECT_TRUE(cam->waitFor(
      [](const json& s) { return s.value("pan", 0) == 100 && s.value("tilt", 0) == -20; }, 10000))
      << cam->state().dump();

  post("/ptz/preset/set?num=3");
  EXPECT_TRUE(cam->state()["presets"].contains("3")) << cam->state().dump();

  post("/ptz/home");
  EXPECT_TRUE(cam->waitFor(
      [](const json& s) { return s.value("pan", 1) == 0 && s.value("tilt", 1) == 0; }, 10000))
      << cam->state().dump();

  post("/ptz/preset/recall?num=65539");  // low 16 bits: preset 3
  EXPECT_TRUE(cam->waitFor(
      [](const json& s) { return s.value("pan", 0) == 100 && s.value("tilt", 0) == -20; }, 10000))
      << cam->state().dump();

  post("/ptz/move?pan=30");
  EXPECT_TRUE(cam->waitFor([](const json& s) { return s.value("pan_speed", 0) == 30; }, 10000))
      << cam->state().dump();
  post("/ptz/stop");
  EXPECT_TRUE(cam->waitFor([](const json& s) { return s.value("pan_speed", 1) == 0; }, 10000))
      << cam->state().dump();

  post("/ptz/preset/clear?num=3");
  EXPECT_FALSE(cam->state()["presets"].contains("3")) << cam->state().dump();

  // Refused by the head: still "ok"; the refusal is on the server's output.
  ASSERT_TRUE(cam->fault("refuse-ptz"));
  post("/ptz/home");
  EXPECT_NE(server->output().find("[error]"), std::string::npos);
}

}  // namespace
