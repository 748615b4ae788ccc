// Camera health against real kamora and kamora-vcam processes: a camera
// killed for 2 s and for 10 s, a dropped link with a capture and a moving
// head, a camera that never comes back, ten kill-restart cycles, and the
// event stream's catch-up after a gap. The 100-cycle and 30 s figures are in
// bench/reconnect_cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/EventReader.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/ProcessFigures.h"
#include "tests/support/ReconnectCycles.h"
#include "tests/support/Sanitized.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct TimedAnswer {
  int status = 0;
  std::string body;
  double ms = 0;
};

TimedAnswer request(httplib::Client& c, const std::string& method, const std::string& path) {
  const Clock::time_point start = Clock::now();
  httplib::Result r = method == "GET" ? c.Get(path.c_str()) : c.Post(path.c_str());
  TimedAnswer a;
  a.ms = msSince(start);
  if (r) {
    a.status = r->status;
    a.body = r->body;
  }
  return a;
}

json cameraState(httplib::Client& c) {
  return json::parse(request(c, "GET", "/camera").body, nullptr, false);
}

std::size_t countOf(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The pictures in captures/: each a whole JPEG, each name once.
std::vector<std::string> pictures(const KamoraServer& k) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(k.workDir() + "/captures", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name[0] == '.') continue;  // a download still being written
    EXPECT_GT(fs::file_size(it->path()), 1000u) << name;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class HealthRecoveryTest : public ::testing::Test {
 protected:
  void start(const std::string& cameraIp, const std::string& serverIp,
             const std::string& model = "SB_A4") {
    options.ip = cameraIp;
    options.mac = "02:00:00:00:8e:01";
    options.model = model;
    options.stillSize = "1200x800";
    cam = VirtualCamera::start(options);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    k = KamoraServer::start(serverIp);
    ASSERT_TRUE(k) << KamoraServer::lastError();
    c = std::make_unique<httplib::Client>(k->client());
    c->set_keep_alive(true);
    const std::string connect =
        "/connect?ip=" + cameraIp + "&mac=" + options.mac + "&model=" + model;
    ASSERT_EQ(request(*c, "POST", connect).body, statusBody("conectado"));
  }

  VcamOptions options;
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> k;
  std::unique_ptr<httplib::Client> c;
};

TEST_F(HealthRecoveryTest, KilledCameraAwayTwoAndTenSecondsComesBackByItself) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.213.1", "127.0.213.2"));
  ASSERT_EQ(request(*c, "POST", "/capture").body, statusBody("1 foto(s)"));
  for (int awayMs : {2000, 10000}) {
    SCOPED_TRACE(awayMs);
    const Clock::time_point killed = Clock::now();
    cam->kill();
    ASSERT_GE(waitForCameraState(*k, "perdida|reconectando", 2000), 0) << k->output();
    EXPECT_LT(msSince(killed), 2000);
    // Meanwhile a capture answers at once with nothing.
    const TimedAnswer shot = request(*c, "POST", "/capture?shots=2");
    EXPECT_EQ(shot.body, statusBody("0 foto(s)"));
    EXPECT_LT(shot.ms, 300);
    std::this_thread::sleep_for(std::chrono::milliseconds(awayMs) - (Clock::now() - killed));
    EXPECT_EQ(cameraState(*c)["state"], "reconectando");

    cam = VirtualCamera::start(options);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    const double back = waitForCameraState(*k, "conectada", 5000);
    ASSERT_GE(back, 0) << k->output();
    EXPECT_LE(back, 1500);
    const double live = waitForLiveView(*k, 5000);
    EXPECT_GE(live, 0);
    EXPECT_LE(live, 2000);
    EXPECT_EQ(request(*c, "POST", "/capture").body, statusBody("1 foto(s)"));
  }
  EXPECT_EQ(pictures(*k).size(), 3u);
  const json state = cameraState(*c);
  EXPECT_EQ(state["reconnections"], 2);
  EXPECT_EQ(state["downloads"], 3);
  // One line of ours per attempt (each makes one connection request) and
  // one when back.
  const std::string out = k->output();
  EXPECT_EQ(countOf(out, "[info] camera de volta.\n"), 2u) << out;
  EXPECT_EQ(countOf(out, "[info] reconectando ("), countOf(out, "[info] Connect aceito") - 1)
      << out;
}

TEST_F(HealthRecoveryTest, DroppedLinkEndsTheCaptureKeepsItsPictureAndStopsTheHead) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.214.1", "127.0.214.2", "CB_P7"));
  ASSERT_EQ(request(*c, "POST", "/capture").body, statusBody("1 foto(s)"));
  ASSERT_EQ(request(*c, "POST", "/ptz/move?pan=20&tilt=0").body, statusBody("ok"));
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "700"}}));
  // Three shots, each delivered 0.7 s late; the link drops during the second.
  auto shots = std::async(std::launch::async, [this] {
    httplib::Client own = k->client();
    return request(own, "POST", "/capture?shots=3");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const Clock::time_point dropped = Clock::now();
  ASSERT_TRUE(cam->fault("drop"));
  const TimedAnswer counted = shots.get();
  EXPECT_EQ(counted.body, statusBody("1 foto(s)")) << k->output();
  EXPECT_LT(msSince(dropped), 600);

  // Back by itself; the head, still turning on the camera, is stopped.
  ASSERT_GE(waitForCameraState(*k, "perdida|reconectando", 2000), 0) << k->output();
  ASSERT_GE(waitForCameraState(*k, "conectada", 3000), 0) << k->output();
  EXPECT_LT(msSince(dropped), 1500);
  ASSERT_TRUE(cam->waitFor([](const json& s) { return s["pan_speed"] == 0.0; }, 1000))
      << cam->state().dump();
  const double pan = cam->state()["pan"];
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(cam->state()["pan"], pan);

  ASSERT_TRUE(cam->fault("clear"));
  EXPECT_EQ(request(*c, "POST", "/capture").body, statusBody("1 foto(s)"));
  // Every picture the captures counted is on disk once; nothing else is.
  EXPECT_EQ(pictures(*k).size(), 3u);
  EXPECT_EQ(cameraState(*c)["downloads"], 3);
  EXPECT_EQ(countOf(k->output(), "OnCompleteDownload"), 3u);
}

TEST_F(HealthRecoveryTest, CameraThatNeverComesBackCostsNothingAndDisconnectEndsIt) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.215.1", "127.0.215.2"));
  const std::vector<std::string> routes = {"/status", "/camera", "/properties", "/liveview.jpg",
                                           "/zef"};
  auto slowest = [&](double& worst) {
    for (const std::string& route : routes) worst = std::max(worst, request(*c, "GET", route).ms);
  };
  double before = 0;
  for (int i = 0; i < 5; ++i) slowest(before);

  cam->kill();
  const Clock::time_point lost = Clock::now();
  ASSERT_GE(waitForCameraState(*k, "perdida|reconectando", 2000), 0);
  // For 6 s every route answers as it did, and the attempts tick about once a second.
  double during = 0;
  std::vector<std::pair<int, double>> attempts;  // number, ms after the loss
  ProcessFigures early;
  while (msSince(lost) < 6200) {
    slowest(during);
    const TimedAnswer shot = request(*c, "POST", "/capture");
    EXPECT_EQ(shot.body, statusBody("0 foto(s)"));
    during = std::max(during, shot.ms);
    const int attempt = cameraState(*c).value("attempt", 0);
    if (attempt != 0 && (attempts.empty() || attempts.back().first != attempt)) {
      attempts.emplace_back(attempt, msSince(lost));
    }
    if (early.threads < 0 && msSince(lost) > 2000) early = readProcessFigures(k->pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const ProcessFigures late = readProcessFigures(k->pid());
  EXPECT_LT(during, std::max(250.0, before * 3)) << "before: " << before << " ms";
  ASSERT_GE(attempts.size(), 5u);
  EXPECT_LE(attempts.size(), 7u);
  for (std::size_t i = 1; i < attempts.size(); ++i) {
    EXPECT_EQ(attempts[i].first, attempts[i - 1].first + 1);
    EXPECT_NEAR(attempts[i].second - attempts[i - 1].second, 1000, 250);
  }
  // An attempt under way may hold the stand-in's thread for its link.
  EXPECT_LE(std::abs(late.threads - early.threads), 1);
  EXPECT_LE(std::abs(late.descriptors - early.descriptors), 1);

  const TimedAnswer bye = request(*c, "POST", "/disconnect");
  EXPECT_EQ(bye.body, statusBody("desconectado"));
  EXPECT_LT(bye.ms, 300);
  EXPECT_EQ(cameraState(*c)["state"], "sem camera");
  const std::size_t lines = countOf(k->output(), "[info] reconectando (");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(countOf(k->output(), "[info] reconectando ("), lines);
}

TEST_F(HealthRecoveryTest, TenKillRestartCyclesRecoverEveryTimeAndLeakNothing) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.216.1", "127.0.216.2"));
  const CycleFigures f = runReconnectCycles(*k, options, cam, 10);
  ASSERT_EQ(f.failure, "");
  EXPECT_EQ(f.recovered, 10);
  for (double ms : f.lostMs) EXPECT_LT(ms, 2000);
  for (double ms : f.backMs) EXPECT_LE(ms, 1500);
  for (double ms : f.liveMs) EXPECT_LE(ms, 2000);
  EXPECT_EQ(f.pictures, 10);
  EXPECT_EQ(pictures(*k).size(), 10u);
  EXPECT_LE(f.after.descriptors, f.before.descriptors * 1.05);
  EXPECT_LE(f.after.threads, f.before.threads * 1.05);
  if (!kSanitized) {
    EXPECT_LE(f.after.residentKb, f.before.residentKb * 1.05);
  }
}

TEST_F(HealthRecoveryTest, EventsAfterAFiveSecondGapAreExactlyTheMissedOnesInOrder) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.217.1", "127.0.217.2"));
  EventReader all(*k, "");
  auto away = std::make_unique<EventReader>(*k, "");
  ASSERT_TRUE(all.waitOpen(3000));
  ASSERT_TRUE(away->waitOpen(3000));
  request(*c, "POST", "/exposure?iso=400");
  ASSERT_TRUE(away->waitFor(1, 3000));
  const std::vector<EventReader::Event> seen = away->events();
  away->stop();

  // Five seconds of everything: exposure, refusal, pictures, a dropped link.
  const Clock::time_point gap = Clock::now();
  request(*c, "POST", "/exposure?iso=800&ev=1");
  request(*c, "POST", "/exposure?iso=123");
  request(*c, "POST", "/capture?shots=2");
  ASSERT_TRUE(cam->fault("drop"));
  // Lost first: until the loss shows, the camera still reads "conectada".
  ASSERT_GE(waitForCameraState(*k, "perdida|reconectando", 2000), 0);
  ASSERT_GE(waitForCameraState(*k, "conectada", 3000), 0);
  request(*c, "POST", "/exposure?shutter=1/500");
  std::this_thread::sleep_for(std::chrono::milliseconds(5000) - (Clock::now() - gap));

  // Nine events came meanwhile (listed below); the reader that stayed saw them.
  const unsigned long long last = seen.back().id + 9;
  ASSERT_TRUE(all.waitFor(last, 3000));
  EventReader back(*k, std::to_string(seen.back().id));
  ASSERT_TRUE(back.waitFor(last, 3000));
  back.stop();
  all.stop();
  std::vector<EventReader::Event> missed;
  for (const EventReader::Event& e : all.events()) {
    if (e.id > seen.back().id) missed.push_back(e);
  }
  EXPECT_EQ(back.events(), missed);
  std::vector<std::string> types;
  for (const EventReader::Event& e : missed) types.push_back(e.type);
  EXPECT_EQ(types, (std::vector<std::string>{"exposure", "error", "exposure", "capture", "capture",
                                             "camera", "camera", "camera", "exposure"}));
  for (std::size_t i = 0; i < missed.size(); ++i) EXPECT_EQ(missed[i].id, seen.back().id + 1 + i);
}

}  // namespace
