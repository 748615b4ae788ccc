// The pan/tilt routes end to end: the virtual camera's head moves, stops,
// goes home and keeps presets as the routes say.
#include "HttpTestProcesses.h"

namespace {

using namespace httptest;
using nlohmann::json;

// Polls the camera's state until pred holds; false after timeoutMs.
template <class Pred>
bool eventually(const Vcam& cam, Pred pred, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred(cam.state())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(HttpPtzTest, RoutesMoveTheHead) {
  auto cam = startVcam("127.0.53.1", "02:00:00:00:53:01", "CB_P7");
  ASSERT_TRUE(cam);
  auto server = startKamora("127.0.53.2");
  ASSERT_TRUE(server);
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
  EXPECT_TRUE(eventually(*cam, [](const json& s) {
    return s.value("pan", 0) == 100 && s.value("tilt", 0) == -20;
  })) << cam->state().dump();

  post("/ptz/preset/set?num=3");
  EXPECT_TRUE(cam->state()["presets"].contains("3")) << cam->state().dump();

  post("/ptz/home");
  EXPECT_TRUE(eventually(*cam, [](const json& s) {
    return s.value("pan", 1) == 0 && s.value("tilt", 1) == 0;
  })) << cam->state().dump();

  post("/ptz/preset/recall?num=65539");  // low 16 bits: preset 3
  EXPECT_TRUE(eventually(*cam, [](const json& s) {
    return s.value("pan", 0) == 100 && s.value("tilt", 0) == -20;
  })) << cam->state().dump();

  post("/ptz/move?pan=30");
  EXPECT_TRUE(eventually(*cam, [](const json& s) { return s.value("pan_speed", 0) == 30; }))
      << cam->state().dump();
  post("/ptz/stop");
  EXPECT_TRUE(eventually(*cam, [](const json& s) { return s.value("pan_speed", 1) == 0; }))
      << cam->state().dump();

  post("/ptz/preset/clear?num=3");
  EXPECT_FALSE(cam->state()["presets"].contains("3")) << cam->state().dump();

  // Refused by the head: still "ok"; the refusal is on the server's output.
  ASSERT_TRUE(cam->fault("name=refuse-ptz"));
  post("/ptz/home");
  EXPECT_NE(server->process->output().find("[error]"), std::string::npos);
}

}  // namespace
