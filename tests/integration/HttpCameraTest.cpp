// The camera routes end to end: kamora --server driving a virtual camera,
// checked both in the replies and in the camera's own state.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using nlohmann::json;

class HttpCameraTest : public ::testing::Test {
 protected:
  // Each test passes its own pair of addresses.
  void start(const std::string& camIp, const std::string& serverIp) {
    cam = VirtualCamera::start(camIp, "02:00:00:00:51:01");
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    server = KamoraServer::start(serverIp);
    ASSERT_TRUE(server) << KamoraServer::lastError();
  }
  std::string connectPath(const std::string& extra = "") const {
    return "/connect?ip=" + cam->ip() + "&mac=" + cam->mac() + extra;
  }
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> server;
};

TEST_F(HttpCameraTest, ConnectExposureCaptureAndReadBack) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.51.1", "127.0.51.2"));
  httplib::Client c = server->client();
  auto conn = c.Post(connectPath().c_str());
  ASSERT_TRUE(conn);
  EXPECT_EQ(conn->status, 200);
  EXPECT_EQ(conn->body, statusBody("conectado"));
  json s = cam->state();
  EXPECT_EQ(s.value("save_folder", ""), "captures");
  EXPECT_EQ(s.value("save_prefix", ""), "KAMORA");

  // Exposure reaches the camera; query values, then form values.
  auto exp = c.Post("/exposure?iso=400&fnumber=4.0&shutter=1/250&ev=-0.7");
  ASSERT_TRUE(exp);
  EXPECT_EQ(exp->body, statusBody("ok"));
  s = cam->state();
  EXPECT_EQ(s.value("iso", 0u), 400u);
  EXPECT_EQ(s.value("fnumber", 0u), 400u);
  EXPECT_EQ(s.value("shutter", 0u), 0x000100FAu);
  EXPECT_EQ(s.value("ev", 1), -700);
  auto form =
      c.Post("/exposure?iso=800", "iso=1600&shutter=2", "application/x-www-form-urlencoded");
  ASSERT_TRUE(form);
  s = cam->state();
  EXPECT_EQ(s.value("iso", 0u), 800u);  // the query string wins
  EXPECT_EQ(s.value("shutter", 0u), 0x00020001u);

  // Read back through the status object.
  auto props = c.Get("/properties");
  ASSERT_TRUE(props);
  EXPECT_EQ(props->get_header_value("Content-Type"), "application/json");
  json p = json::parse(props->body, nullptr, false);
  ASSERT_TRUE(p.is_object()) << props->body;
  EXPECT_EQ(p.value("iso", ""), "800");
  EXPECT_EQ(p.value("fnumber", ""), "f/4.0");
  EXPECT_EQ(p.value("shutter", ""), "2\"");
  EXPECT_EQ(p.value("ev", ""), "-0.7");
  EXPECT_TRUE(p["battery"].is_number_integer());
  EXPECT_NE(props->body.find("\"shutter\":\"2\\\"\""), std::string::npos) << props->body;

  // Pictures: counted in the reply, downloaded into captures/.
  auto shot = c.Post("/capture", "shots=2", "application/x-www-form-urlencoded");
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->body, statusBody("2 foto(s)"));
  EXPECT_EQ(cam->state().value("downloads", 0), 2);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(server->workDir() + "/captures")) {
    if (e.path().filename().string().rfind("KAMORA", 0) == 0) ++files;
  }
  EXPECT_EQ(files, 2);

  // A failing shot is not counted.
  ASSERT_TRUE(cam->fault("capture-error", {{"count", "1"}}));
  auto mixed = c.Post("/capture?shots=2");
  ASSERT_TRUE(mixed);
  EXPECT_EQ(mixed->body, statusBody("1 foto(s)"));

  // A live-view picture, then none after the disconnect.
  auto frame = c.Get("/liveview.jpg?t=1");
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->status, 200);
  EXPECT_EQ(frame->get_header_value("Content-Type"), "image/jpeg");
  ASSERT_GT(frame->body.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(frame->body[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(frame->body[1]), 0xD8);
  auto bye = c.Post("/disconnect");
  ASSERT_TRUE(bye);
  EXPECT_EQ(bye->body, statusBody("desconectado"));
  auto none = c.Get("/liveview.jpg");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 503);
  EXPECT_EQ(none->body, statusBody("live view indisponivel"));
  auto empty = c.Get("/properties");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->body, "{}");
}

TEST_F(HttpCameraTest, SshFlagAndModelNames) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.52.1", "127.0.52.2"));
  httplib::Client c = server->client();
  // This camera offers no SSH: only "1" asks for it, and then the link fails.
  struct Case {
    const char* extra;
    int status;
  };
  const Case cases[] = {
      {"&ssh=1", 502},       {"&ssh=true", 200},    {"&ssh=0", 200},
      {"&model=sb_x1", 200}, {"&model=CB_P7", 200}, {"", 200},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.extra);
    auto r = c.Post(connectPath(k.extra).c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, k.status);
    EXPECT_EQ(r->body, statusBody(k.status == 200 ? "conectado" : "falha ao conectar"));
  }
}

TEST_F(HttpCameraTest, ConnectFailuresAnswer502) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.52.5", "127.0.52.6"));
  httplib::Client c = server->client();
  const std::string cases[] = {
      "/connect?ip=127.0.52.5&mac=02:00:00:00:99:99",  // another camera's MAC
      "/connect?ip=127.0.52.7&mac=02:00:00:00:51:01",  // nobody there
      "/connect?ip=nonsense&mac=02:00:00:00:51:01",
  };
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    auto r = c.Post(path.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 502);
    EXPECT_EQ(r->body, statusBody("falha ao conectar"));
  }
}

}  // namespace
