// The camera's health and its supervisor, against the fake SDK: the state
// machine drops findings made before the user acted; a lost link comes back
// with the same connection and its set-up, at the planned times; a user's
// disconnect ends the attempts at once; work in flight ends at the loss; a
// stalled live view makes the camera suspect; every change is an event.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/SteppedClock.h"
#include "tests/support/Until.h"
#include "tests/unit/RigHarness.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::vector<std::string> eventsOf(const EventLog& log, const std::string& type) {
  std::vector<std::string> out;
  for (const ServerEvent& e : log.since(0)) {
    if (e.type == type) out.push_back(e.data);
  }
  return out;
}

TEST(CameraHealthTest, EachChangeIsOneEventAndStaleFindingsAreDropped) {
  EventLog log;
  int changes = 0;
  CameraHealth health(log, [&changes] { ++changes; });
  health.userConnecting(
      {"127.0.211.9", "02:00:00:00:8c:09", VCSDK::VcCameraModel_CB_P7, true, "", ""});
  health.userConnected();
  const std::uint64_t generation = health.view().generation;
  EXPECT_TRUE(health.setSuspect(generation, true));
  EXPECT_TRUE(health.setSuspect(generation, true));  // no change: no event
  EXPECT_TRUE(health.lost(generation, 0x8107));
  EXPECT_FALSE(health.lost(generation, 0x8107));  // only a connected camera is lost
  EXPECT_TRUE(health.reconnecting(generation, 1));
  EXPECT_TRUE(health.attemptFailed(generation, 0x8101));  // /camera only
  EXPECT_TRUE(health.reconnecting(generation, 2));
  EXPECT_TRUE(health.reconnected(generation));
  EXPECT_EQ(health.view().reconnections, 1u);
  EXPECT_EQ(health.view().lastError, 0x8101u);
  // A loss noticed for the camera before the user's disconnect changes nothing.
  health.userDisconnected();
  EXPECT_FALSE(health.lost(generation, 0x8107));
  EXPECT_FALSE(health.reconnecting(generation, 3));
  EXPECT_EQ(health.view().state, CameraState::NoCamera);
  EXPECT_FALSE(health.view().camera);
  health.userConnecting(
      {"127.0.211.9", "02:00:00:00:8c:09", VCSDK::VcCameraModel_CB_P7, false, "", ""});
  health.userConnectFailed(0x8101);

  EXPECT_EQ(eventsOf(log, "camera"),
            (std::vector<std::string>{
                R"({"state":"conectando","attempt":null,"error":null,"suspect":false})",
                R"({"state":"conectada","attempt":null,"error":null,"suspect":false})",
                R"({"state":"conectada","attempt":null,"error":null,"suspect":true})",
                R"({"state":"perdida","attempt":null,"error":"0x00008107","suspect":false})",
                R"({"state":"reconectando","attempt":1,"error":"0x00008107","suspect":false})",
                R"({"state":"reconectando","attempt":2,"error":"0x00008107","suspect":false})",
                R"({"state":"conectada","attempt":null,"error":null,"suspect":false})",
                R"({"state":"sem camera","attempt":null,"error":null,"suspect":false})",
                R"({"state":"conectando","attempt":null,"error":null,"suspect":false})",
                R"({"state":"sem camera","attempt":null,"error":"0x00008101","suspect":false})",
            }));
  EXPECT_EQ(changes, 12);  // every accepted change, published or not
}

// The camera main of a rig, and its router.
class SupervisorTest : public RigHarness {
 protected:
  void SetUp() override {
    RigHarness::SetUp();
    slot = &rig->main();
  }

  json camera() { return json::parse(call(HttpMethod::Get, "/camera").body); }
  ::testing::AssertionResult reaches(const std::string& state,
                                     std::chrono::milliseconds deadline = std::chrono::seconds(3)) {
    return until([&] { return camera()["state"] == state; }, deadline,
                 [&] { return camera().dump(); });
  }
  void connect(const char* model = "PZ_M7") {
    ASSERT_EQ(
        call(HttpMethod::Post, "/connect",
             {{"ip", "127.0.211.9"}, {"mac", "02:00:00:00:8c:09"}, {"model", model}, {"ssh", "1"}})
            .body,
        R"({"status":"conectado"})");
  }
  void loseLink() { fake::sdk().fire(fake::sdk().lastHandle(), fake::Event::disconnected(0x8107)); }

  CameraSlot* slot = nullptr;
};

// The supervisor plans by a clock the test moves: each step of the plan is
// seen (the time it sleeps until) before time is moved there. An attempt
// looks at the user's requests every 50 ms of this clock, so a case that
// disconnects during an attempt the camera never answers moves it too.
class SteppedSupervisorTest : public SupervisorTest {
 protected:
  void SetUp() override {
    options.supervisorClock = &clock;
    SupervisorTest::SetUp();
  }
  // Waits until the supervisor sleeps until `at` (after the clock's start)
  // with `connects` Connect calls made.
  ::testing::AssertionResult sleepsUntil(std::chrono::milliseconds at, int connects) {
    return until([&] { return clock.wakeAt() == at && fake::sdk().count("Connect") == connects; },
                 std::chrono::seconds(3),
                 [&] {
                   return "asleep until +" + std::to_string(clock.wakeAt().count()) + " ms, " +
                          std::to_string(fake::sdk().count("Connect")) + " connects, " +
                          camera().dump();
                 });
  }

  SteppedClock clock;
};

TEST_F(SteppedSupervisorTest, LossBringsTheSameConnectionBackWithItsSetUp) {
  connect();
  const fake::Call first = fake::sdk().last("CreateCameraObjectInfoEthernetConnection");
  // Three shots asked; the link goes as the second is released: the answer
  // comes at once with the one picture taken.
  fake::sdk().queueOnShutterRelease(
      {fake::Event::download("", 10), fake::Event::disconnected(0x8107, 10)});
  const Clock::time_point shot = Clock::now();
  EXPECT_EQ(call(HttpMethod::Post, "/capture", {{"shots", "3"}}).body,
            R"j({"status":"1 foto(s)"})j");
  EXPECT_LT(msSince(shot), 1500);
  EXPECT_EQ(fake::sdk().count("SendCommand"), 4);  // press and release, twice
  ASSERT_TRUE(reaches("perdida"));
  EXPECT_EQ(camera()["last_error"], "0x00008107");
  // While the link is down a capture answers at once and fires nothing.
  EXPECT_EQ(call(HttpMethod::Post, "/capture").body, R"j({"status":"0 foto(s)"})j");
  EXPECT_EQ(fake::sdk().count("SendCommand"), 4);

  // The first attempt is planned 500 ms after the loss, and made then.
  ASSERT_TRUE(sleepsUntil(std::chrono::milliseconds(500), 1));
  fake::sdk().clearCalls();
  clock.advance(std::chrono::milliseconds(500));
  ASSERT_TRUE(reaches("conectada"));
  const json state = camera();
  EXPECT_EQ(state["reconnections"], 1);
  EXPECT_EQ(state["model"], "PZ_M7");
  EXPECT_EQ(state["downloads"], 1);
  EXPECT_FALSE(state.contains("attempt"));

  // The same request as the user's, then the computer-capture set-up, then
  // the head is stopped.
  const fake::Call again = fake::sdk().last("CreateCameraObjectInfoEthernetConnection");
  EXPECT_EQ(again.ints, first.ints);
  EXPECT_EQ(again.bytes, first.bytes);
  EXPECT_EQ(fake::sdk().namesExcept({"InfoRelease", "Disconnect", "ReleaseDevice"}),
            (fake::Names{"CreateCameraObjectInfoEthernetConnection", "GetFingerprint", "Connect",
                         "SetDeviceProperty", "SetDeviceProperty", "SetSaveInfo", "ControlPTZF"}));
  EXPECT_EQ(fake::sdk().last("ControlPTZF").ints[0], VCSDK::VcPTZFControl_Stop);
  const std::vector<std::string> states = eventsOf(log, "camera");
  ASSERT_GE(states.size(), 5u);
  EXPECT_EQ(json::parse(states[states.size() - 3])["state"], "perdida");
  EXPECT_EQ(json::parse(states[states.size() - 2])["attempt"], 1);
  EXPECT_EQ(json::parse(states.back())["state"], "conectada");
  EXPECT_EQ(eventsOf(log, "ptz"),
            (std::vector<std::string>{
                R"({"camera":"main","command":"stop","automatic":true,"ok":true})"}));
}

TEST_F(SteppedSupervisorTest, AttemptsAreSpacedAndTheUsersDisconnectEndsThem) {
  // The first connection holds; every later one is refused.
  fake::sdk().queueOnConnect({fake::Event::connected(5)});
  fake::sdk().onConnect(fake::Event::error(0x8101, 5));
  connect("SB_A4");
  loseLink();
  // +500 ms after the loss, then 1 s after each failed attempt ended.
  ASSERT_TRUE(sleepsUntil(std::chrono::milliseconds(500), 1));
  clock.advance(std::chrono::milliseconds(500));
  ASSERT_TRUE(sleepsUntil(std::chrono::milliseconds(1500), 2));
  clock.advance(std::chrono::milliseconds(1000));
  ASSERT_TRUE(sleepsUntil(std::chrono::milliseconds(2500), 3));
  clock.advance(std::chrono::milliseconds(1000));
  ASSERT_TRUE(sleepsUntil(std::chrono::milliseconds(3500), 4));
  const json state = camera();
  EXPECT_EQ(state["state"], "reconectando");
  EXPECT_EQ(state["attempt"], 3);
  EXPECT_EQ(state["last_error"], "0x00008101");
  // Each failed attempt let its handle go.
  EXPECT_EQ(fake::sdk().count("ReleaseDevice"), 4);

  const Clock::time_point bye = Clock::now();
  EXPECT_EQ(call(HttpMethod::Post, "/disconnect").body, R"({"status":"desconectado"})");
  EXPECT_LT(msSince(bye), 300);
  EXPECT_EQ(camera()["state"], "sem camera");
  // No attempt planned any more: asleep until something changes.
  EXPECT_TRUE(sleepsUntil(std::chrono::milliseconds(2500) + std::chrono::hours(1), 4));
}

// Pictures that each differ from the one before (the feed skips repeats).
std::vector<fake::LiveViewStep> distinctPictures(int first, int count) {
  std::vector<fake::LiveViewStep> steps(count);
  for (int i = 0; i < count; ++i) steps[i].picture = fake::jpegBytes(600, first + i);
  return steps;
}

TEST_F(SupervisorTest, AStalledLiveViewMakesTheCameraSuspectNotLost) {
  // About a second of pictures, then the camera has none to give.
  fake::LiveViewStep failing;
  failing.infoCode = 0x8401;
  fake::sdk().setLiveView(failing);
  fake::sdk().queueLiveView(distinctPictures(1, 30));
  connect("SB_A4");
  std::unique_ptr<LiveFeed::Viewer> viewer = slot->feed().watch();
  json state;
  ASSERT_TRUE(until([&] { return (state = camera())["suspect"].get<bool>(); },
                    std::chrono::seconds(6), [&] { return state.dump(); }));
  // Suspect once the newest picture is over 2 s old, and not lost.
  EXPECT_GE(state["liveview_age_ms"].get<long long>(), 2000);
  EXPECT_LE(state["liveview_age_ms"].get<long long>(), 2600);
  EXPECT_EQ(state["state"], "conectada");

  fake::sdk().queueLiveView(distinctPictures(100, 60));
  EXPECT_TRUE(until([&] { return !camera()["suspect"].get<bool>(); }, std::chrono::seconds(1)));
  const std::vector<std::string> states = eventsOf(log, "camera");
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states[states.size() - 2],
            R"({"camera":"main","state":"conectada","attempt":null,"error":null,"suspect":true})");
  EXPECT_EQ(states.back(),
            R"({"camera":"main","state":"conectada","attempt":null,"error":null,"suspect":false})");
}

TEST_F(SupervisorTest, ErrorExposureAndCaptureEvents) {
  connect("SB_A4");
  // The first setter is refused: its printed line, byte for byte, is an event.
  fake::sdk().queueResults("SetDeviceProperty", {0x8201});
  fake::sdk().setProperties({{0x0104, 400}, {0x0100, 280}, {0x0103, 0x000100FA}, {0x0101, 300}});
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(call(HttpMethod::Post, "/exposure", {{"iso", "800"}, {"fnumber", "2.8"}}).body,
            R"({"status":"ok"})");
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("[error] setIso(0x000320): 0x00008201\n"), std::string::npos);
  EXPECT_EQ(eventsOf(log, "error"),
            (std::vector<std::string>{
                R"j({"camera":"main","line":"[error] setIso(0x000320): 0x00008201",)j"
                R"j("label":"setIso(0x000320)","code":"0x00008201"})j"}));
  EXPECT_EQ(
      eventsOf(log, "exposure"),
      (std::vector<std::string>{
          R"({"camera":"main","iso":"400","fnumber":"f/2.8","shutter":"1/250","ev":"+0.3"})"}));
  // /exposure without a value changes nothing and reads nothing back.
  call(HttpMethod::Post, "/exposure");
  EXPECT_EQ(eventsOf(log, "exposure").size(), 1u);

  // A download: its name and size as on disk.
  const std::string path = ::testing::TempDir() + "KAMORA_00042.JPG";
  std::ofstream(path, std::ios::binary) << std::string(1234, 'x');
  fake::sdk().onShutterRelease(fake::Event::download(path, 10));
  EXPECT_EQ(call(HttpMethod::Post, "/capture").body, R"j({"status":"1 foto(s)"})j");
  ASSERT_TRUE(until([&] { return !eventsOf(log, "capture").empty(); }, std::chrono::seconds(2)));
  ASSERT_EQ(eventsOf(log, "capture").size(), 1u);
  const json capture = json::parse(eventsOf(log, "capture")[0]);
  EXPECT_EQ(capture["name"], "KAMORA_00042.JPG");
  EXPECT_EQ(capture["bytes"], 1234);
  EXPECT_EQ(capture["time"].get<std::string>().size(), 24u);  // 2026-01-02T10:00:00.123Z
  std::remove(path.c_str());
}

}  // namespace
