// The server frame: fixed routes, the header on every answer (the library's
// own 404s included), the listen failure, stop(), and the origin guard as
// clients see it.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "ServerTestHarness.h"
#include "web/ConsolePage.h"

namespace {

const char kPoweredBy[] = "Zef \xE2\x9A\xA1 pirwol";

class ServerFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

TEST_F(ServerFrameTest, FixedRoutesAndLibraryAnswersCarryTheHeader) {
  RunningServer running("127.0.60.1");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();

  auto status = c.Get("/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
  EXPECT_EQ(status->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(status->body, statusBody("online"));
  EXPECT_EQ(status->get_header_value("X-Powered-By"), kPoweredBy);

  // The query string plays no part in matching.
  auto page = c.Get("/?x=1&y=2");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page->body, std::string(KAMORA_UI_HTML, KAMORA_UI_HTML_SIZE));
  EXPECT_EQ(page->get_header_value("X-Powered-By"), kPoweredBy);

  struct Miss {
    const char* method;
    const char* path;
  };
  const Miss misses[] = {{"POST", "/status"}, {"GET", "/connect"}, {"GET", "/ptz/stop"},
                         {"GET", "/nada"},    {"POST", "/zef"},    {"GET", "/liveview.jpg/x"}};
  for (const Miss& m : misses) {
    SCOPED_TRACE(std::string(m.method) + " " + m.path);
    auto r = std::string(m.method) == "GET" ? c.Get(m.path) : c.Post(m.path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(r->get_header_value("X-Powered-By"), kPoweredBy);
  }
  // Fixed routes never touch the camera.
  EXPECT_EQ(fake::sdk().count("GetSelectDeviceProperties"), 0);
}

TEST_F(ServerFrameTest, ZefBannerShape) {
  RunningServer running("127.0.60.2");
  ASSERT_TRUE(running.up());
  auto r = running.client().Get("/zef");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  ASSERT_FALSE(r->body.empty());
  EXPECT_EQ(r->body.back(), '\n');
  std::vector<std::string> lines;
  std::istringstream in(r->body);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u);
  const std::size_t indents[7] = {20, 19, 20, 18, 17, 16, 15};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].find_first_not_of(' '), indents[i]);
  }
  EXPECT_NE(lines[1].find("\xC2\xAC"), std::string::npos);  // the face
  const std::string zef = "Zef \xE2\x9A\xA1", sig = "\xE2\x80\x94pirwol";
  EXPECT_EQ(lines[5].substr(lines[5].size() - zef.size()), zef);
  EXPECT_EQ(lines[6].substr(lines[6].size() - sig.size()), sig);
}

TEST_F(ServerFrameTest, BusyPortPrintsBannerThenListenFailureAndReturns) {
  RunningServer first("127.0.60.3");
  ASSERT_TRUE(first.up());
  testing::internal::CaptureStdout();
  HttpServer second("127.0.60.3", 8080);
  second.run();  // must return
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "[server] KAMORA HTTP em http://127.0.60.3:8080  (Ctrl+C encerra)\n"
            "[error] nao foi possivel ouvir em 127.0.60.3:8080\n");
  // The first one still serves.
  auto r = first.client().Get("/status");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

TEST_F(ServerFrameTest, StopEndsRunWithoutTheListenFailureLine) {
  testing::internal::CaptureStdout();
  {
    RunningServer running("127.0.60.4");
    ASSERT_TRUE(running.up());
    // A client that keeps its connection open must not hold the stop up
    // for long.
    httplib::Client idle = running.client();
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/status"));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(running.stopAndJoin(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(3500));
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("[error]"), std::string::npos) << out;
}

TEST_F(ServerFrameTest, StopBeforeListeningStillStops) {
  HttpServer server("127.0.60.5", 8080);
  server.stop();
  std::atomic<bool> done{false};
  std::thread t([&] {
    server.run();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(done.load());
  if (!done) {
    httplib::Client c("127.0.60.5", 8080);
    c.Get("/status");  // nothing else can end it; the join below would hang
  }
  t.join();
}

// Each side of both rules, as a browser or a script would send them.
TEST_F(ServerFrameTest, ForeignOriginsAndHostNamesAreRefused) {
  RunningServer running("127.0.60.6");
  ASSERT_TRUE(running.up());
  struct Case {
    const char* host;    // nullptr: the client's own
    const char* origin;  // nullptr: none
    int status;
  };
  const Case cases[] = {
      {nullptr, nullptr, 200},                   // curl
      {nullptr, "http://127.0.60.6:8080", 200},  // the console itself
      {"localhost:8080", "http://localhost:8080", 200},
      {"192.168.1.10:8080", nullptr, 200},  // LAN client by IP (header only)
      {"[::1]:8080", "http://[::1]:8080", 200},
      {nullptr, "http://evil.example", 403},
      {nullptr, "http://127.0.60.6:9999", 403},  // other port
      {nullptr, "https://127.0.60.6", 403},      // https: port 443
      {nullptr, "null", 403},
      {"evil.example:8080", nullptr, 403},  // rebinding
      {"evil.example:8080", "http://evil.example:8080", 403},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.host ? k.host : "-") + " / " + (k.origin ? k.origin : "-"));
    httplib::Headers headers;
    if (k.host) headers.emplace("Host", k.host);
    if (k.origin) headers.emplace("Origin", k.origin);
    httplib::Client c = running.client();
    for (const char* path : {"/status", "/capture?shots=1", "/ptz/home"}) {
      SCOPED_TRACE(path);
      auto r =
          std::string(path) == "/status" ? c.Get(path, headers) : c.Post(path, headers, "", "");
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, k.status);
      EXPECT_EQ(r->get_header_value("X-Powered-By"), kPoweredBy);
      if (k.status == 403) {
        EXPECT_EQ(r->body, statusBody("origem nao permitida"));
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
      }
    }
  }
}

}  // namespace
