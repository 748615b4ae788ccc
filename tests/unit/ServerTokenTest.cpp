// The access token against a real server: loopback clients are never asked;
// a client on another machine (its address set through the server's test
// seam) needs the Bearer header or the cookie that /?token= sets, and is
// refused with 401 otherwise or with a wrong token.
#include <gtest/gtest.h>

#include "ServerTestHarness.h"
#include "server/ServerBanner.h"

namespace {

const char kToken[] = "s3gr3d0-da-cena";

ServerOptions fromAnotherMachine(bool foreign) {
  ServerOptions options;
  options.token = kToken;
  if (foreign) options.peerAddressForTests = [](const std::string&) { return "192.0.2.77"; };
  return options;
}

TEST(ServerTokenTest, LoopbackIsNeverAskedOthersNeedTheHeaderOrTheCookie) {
  fake::sdk().reset();
  {
    RunningServer local("127.0.64.1", 8080, fromAnotherMachine(false));
    ASSERT_TRUE(local.up());
    auto r = local.client().Get("/status");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
  }

  RunningServer remote("127.0.64.2", 8080, fromAnotherMachine(true));
  ASSERT_TRUE(remote.up());  // up() probes /status: it must answer 401 here
  httplib::Client c = remote.client();

  for (const httplib::Headers& headers :
       {httplib::Headers{}, httplib::Headers{{"Authorization", "Bearer errado"}},
        httplib::Headers{{"Authorization", std::string("Bearer ") + kToken + "x"}},
        httplib::Headers{{"Cookie", "kamora_token=errado"}}}) {
    auto r = c.Get("/status", headers);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 401);
    EXPECT_EQ(r->body, statusBody("token ausente ou invalido"));
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
  }
  auto wrongVisit = c.Get("/?token=errado");
  ASSERT_TRUE(wrongVisit);
  EXPECT_EQ(wrongVisit->status, 401);
  EXPECT_FALSE(wrongVisit->has_header("Set-Cookie"));

  auto bearer = c.Get("/status", {{"Authorization", std::string("Bearer ") + kToken}});
  ASSERT_TRUE(bearer);
  EXPECT_EQ(bearer->status, 200);

  auto visit = c.Get((std::string("/?token=") + kToken).c_str());
  ASSERT_TRUE(visit);
  EXPECT_EQ(visit->status, 200);
  const std::string cookie = visit->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie, std::string("kamora_token=") + kToken + "; Path=/; HttpOnly; SameSite=Strict");
  auto withCookie = c.Get("/properties", {{"Cookie", std::string("a=1; kamora_token=") + kToken}});
  ASSERT_TRUE(withCookie);
  EXPECT_EQ(withCookie->status, 200);
}

}  // namespace

namespace {

std::string bannerOf(const std::string& host, const std::string& token) {
  ::testing::internal::CaptureStdout();
  printBanner(host, 8080, token);
  return ::testing::internal::GetCapturedStdout();
}

TEST(ServerTokenTest, BannerGivesTheAddressWithTheTokenOrWarnsWhenOpenToTheNetwork) {
  const std::string first = "[server] KAMORA HTTP em http://127.0.0.1:8080  (Ctrl+C encerra)\n";
  EXPECT_EQ(bannerOf("127.0.0.1", ""), first);
  EXPECT_EQ(bannerOf("127.0.0.1", "abc"),
            first + "[server] de outra maquina: http://127.0.0.1:8080/?token=abc\n");
  EXPECT_EQ(bannerOf("0.0.0.0", ""),
            "[server] KAMORA HTTP em http://0.0.0.0:8080  (Ctrl+C encerra)\n"
            "[server] aviso: sem --token, qualquer pessoa na rede pode usar a camera\n");
  EXPECT_NE(bannerOf("192.168.1.20", "").find("aviso: sem --token"), std::string::npos);
}

}  // namespace
