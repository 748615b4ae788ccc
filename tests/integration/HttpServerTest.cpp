// `kamora --server` as a user meets it: the fixed routes, answers without a
// camera, the listen failure on a busy port, the origin rule, and the stop
// at SIGINT/SIGTERM that disconnects the camera.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

namespace {

const char kPoweredBy[] = "Zef \xE2\x9A\xA1 pirwol";

TEST(HttpServerTest, AnswersWithoutCameraByteForByte) {
  auto k = KamoraServer::start("127.0.50.1");
  ASSERT_TRUE(k) << KamoraServer::lastError();
  httplib::Client c = k->client();
  struct Case {
    const char* method;
    const char* path;
    int status;
    const char* type;
    std::string body;
  };
  const Case cases[] = {
      {"GET", "/status", 200, "application/json", statusBody("online")},
      {"GET", "/properties", 200, "application/json", "{}"},
      {"GET", "/liveview.jpg?t=5", 503, "application/json", statusBody("live view indisponivel")},
      {"POST", "/connect?ip=127.0.50.9", 400, "application/json",
       statusBody("ip e mac obrigatorios")},
      {"POST", "/disconnect", 200, "application/json", statusBody("desconectado")},
      {"POST", "/exposure", 200, "application/json", statusBody("ok")},
      {"POST", "/capture?shots=3", 200, "application/json", statusBody("0 foto(s)")},
      {"POST", "/ptz/home", 200, "application/json", statusBody("ok")},
  };
  for (const Case& k2 : cases) {
    SCOPED_TRACE(std::string(k2.method) + " " + k2.path);
    auto r = std::string(k2.method) == "GET" ? c.Get(k2.path) : c.Post(k2.path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, k2.status);
    EXPECT_EQ(r->get_header_value("Content-Type"), k2.type);
    EXPECT_EQ(r->body, k2.body);
    EXPECT_EQ(r->get_header_value("X-Powered-By"), kPoweredBy);
  }
  for (const char* path : {"/connect", "/ptz/stop", "/nada"}) {
    auto r = c.Get(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << path;
    EXPECT_EQ(r->get_header_value("X-Powered-By"), kPoweredBy) << path;
  }
  auto zef = c.Get("/zef");
  ASSERT_TRUE(zef);
  EXPECT_EQ(zef->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_NE(zef->body.find("\xE2\x80\x94pirwol\n"), std::string::npos);
  auto page = c.Get("/?a=b");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("<html"), std::string::npos);
  EXPECT_NE(k->output().find("[server] KAMORA HTTP em http://127.0.50.1:8080  (Ctrl+C encerra)\n"),
            std::string::npos);
}

TEST(HttpServerTest, BusyPortIsReportedAndTheSecondInstanceExits) {
  auto first = KamoraServer::start("127.0.50.2");
  ASSERT_TRUE(first) << KamoraServer::lastError();
  RunResult second = runProgram(kamoraServerArgs("127.0.50.2", 8080), "", 15000);
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_NE(second.output.find("[server] KAMORA HTTP em http://127.0.50.2:8080  (Ctrl+C encerra)\n"
                               "[error] nao foi possivel ouvir em 127.0.50.2:8080\n"),
            std::string::npos)
      << second.output;
  EXPECT_TRUE(first->running());
}

TEST(HttpServerTest, ForeignOriginAndHostAreRefused) {
  auto k = KamoraServer::start("127.0.50.3");
  ASSERT_TRUE(k) << KamoraServer::lastError();
  httplib::Client c = k->client();
  struct Case {
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {{}, 200},
      {{{"Origin", "http://127.0.50.3:8080"}}, 200},
      {{{"Origin", "http://attacker.example"}}, 403},
      {{{"Origin", "null"}}, 403},
      {{{"Host", "attacker.example:8080"}}, 403},
      {{{"Host", "localhost:8080"}, {"Origin", "http://localhost:8080"}}, 200},
  };
  for (const Case& k2 : cases) {
    for (const char* path : {"/status", "/capture?shots=1"}) {
      auto r = std::string(path) == "/status" ? c.Get(path, k2.headers)
                                              : c.Post(path, k2.headers, "", "");
      ASSERT_TRUE(r);
      EXPECT_EQ(r->status, k2.status) << path;
      if (k2.status == 403) {
        EXPECT_EQ(r->body, statusBody("origem nao permitida"));
      }
    }
  }
}

// A stop signal ends the server with exit 0, no listen-failure line, and the
// camera disconnected (the virtual camera sees its link go).
TEST(HttpServerTest, SigintAndSigtermStopCleanlyAndDisconnect) {
  auto cam = VirtualCamera::start("127.0.50.10", "02:00:00:00:50:10");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  const struct {
    int sig;
    const char* host;
  } runs[] = {{SIGINT, "127.0.50.4"}, {SIGTERM, "127.0.50.5"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.sig);
    auto k = KamoraServer::start(run.host);
    ASSERT_TRUE(k) << KamoraServer::lastError();
    httplib::Client c = k->client();
    auto conn = c.Post("/connect?ip=127.0.50.10&mac=02:00:00:00:50:10");
    ASSERT_TRUE(conn);
    ASSERT_EQ(conn->status, 200);
    ASSERT_EQ(cam->state().value("linked", false), true);
    k->signal(run.sig);
    EXPECT_EQ(k->wait(10000), 0);
    const std::string out = k->output();
    EXPECT_EQ(out.find("nao foi possivel ouvir"), std::string::npos) << out;
    EXPECT_TRUE(
        cam->waitFor([](const nlohmann::json& s) { return !s.value("linked", true); }, 5000))
        << cam->state().dump();
  }
}

}  // namespace
