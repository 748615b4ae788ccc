// The pan/tilt stop and lease end to end on the virtual camera's head: a stop
// sent during a 20-shot capture stops the head at once while the capture goes
// on, and a move whose renewals stop ends by itself within its hold.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool stillHead(const json& s) {
  return s.value("pan_speed", 1) == 0 && s.value("tilt_speed", 1) == 0;
}

// Milliseconds from `from` until the head reports both speeds 0, polled as
// fast as the camera answers; -1 after limitMs.
long long msUntilStill(VirtualCamera& cam, Clock::time_point from, int limitMs) {
  while (Clock::now() - from < milliseconds(limitMs)) {
    if (stillHead(cam.state())) {
      return std::chrono::duration_cast<milliseconds>(Clock::now() - from).count();
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return -1;
}

struct Rig {
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> server;
};

// A CB_P7 on camIp and a server on serverHost, connected.
void startRig(Rig& rig, const std::string& camIp, const std::string& mac,
              const std::string& serverHost) {
  VcamOptions options;
  options.ip = camIp;
  options.mac = mac;
  options.model = "CB_P7";
  options.stillSize = "640x426";
  rig.cam = VirtualCamera::start(options);
  ASSERT_TRUE(rig.cam) << VirtualCamera::lastError();
  rig.server = KamoraServer::start(serverHost);
  ASSERT_TRUE(rig.server) << KamoraServer::lastError();
  httplib::Client c = rig.server->client();
  auto conn = c.Post(("/connect?ip=" + camIp + "&mac=" + mac + "&model=CB_P7").c_str());
  ASSERT_TRUE(conn);
  ASSERT_EQ(conn->status, 200);
}

TEST(HttpPtzLeaseTest, StopDuringTwentyShotCaptureStopsTheHeadAtOnce) {
  Rig rig;
  ASSERT_NO_FATAL_FAILURE(startRig(rig, "127.44.2.1", "02:00:00:00:44:21", "127.44.2.2"));
  VirtualCamera& cam = *rig.cam;
  ASSERT_TRUE(cam.fault("capture-delay", {{"ms", "150"}}));
  httplib::Client c = rig.server->client();
  ASSERT_TRUE(c.Post("/ptz/move?pan=30&tilt=10"));
  ASSERT_TRUE(cam.waitFor([](const json& s) { return s.value("pan_speed", 0) == 30; }, 5000));

  auto capture = std::async(std::launch::async, [&rig] {
    auto r = rig.server->client().Post("/capture?shots=20");
    return r ? r->body : std::string();
  });
  ASSERT_TRUE(cam.waitFor([](const json& s) { return s.value("shots", 0) >= 2; }, 10000));
  const Clock::time_point sent = Clock::now();
  auto stop = c.Post("/ptz/stop");
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->body, statusBody("ok"));
  const long long stillMs = msUntilStill(cam, sent, 3000);
  const int shotsAtStop = cam.state().value("shots", 0);
  std::printf("[measure] head still %lld ms after /ptz/stop, shot %d of 20\n", stillMs,
              shotsAtStop);
  EXPECT_GE(stillMs, 0);
  EXPECT_LT(stillMs, 100);
  EXPECT_LT(shotsAtStop, 20);

  EXPECT_EQ(capture.get(), statusBody("20 foto(s)"));
  EXPECT_EQ(cam.state().value("shots", 0), 20);
}

TEST(HttpPtzLeaseTest, MoveWithoutRenewalEndsWithinItsHold) {
  Rig rig;
  ASSERT_NO_FATAL_FAILURE(startRig(rig, "127.44.2.3", "02:00:00:00:44:23", "127.44.2.4"));
  VirtualCamera& cam = *rig.cam;
  httplib::Client c = rig.server->client();
  const Clock::time_point sent = Clock::now();
  ASSERT_TRUE(c.Post("/ptz/move?pan=-20&hold=300"));
  ASSERT_TRUE(cam.waitFor([](const json& s) { return s.value("pan_speed", 0) == -20; }, 2000));
  const long long stillMs = msUntilStill(cam, sent, 3000);
  std::printf("[measure] leased move (300 ms) still after %lld ms\n", stillMs);
  EXPECT_GE(stillMs, 250);
  EXPECT_LE(stillMs, 500);
  EXPECT_NE(rig.server->output().find("[info] ptz: sem renovacao, cabeca parada\n"),
            std::string::npos)
      << rig.server->output();
}

}  // namespace
