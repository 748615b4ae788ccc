// The pan/tilt lease and stop over HTTP, against the fake SDK: a leased move
// stops by itself when renewals stop, and only then; a stop skips a capture
// but never lets a move sent before it run afterwards; connect, disconnect and
// shutdown stop a leased move first; presets are remembered per head.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "ServerTestHarness.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kHeadA[] = "/connect?ip=127.44.0.10&mac=02:00:00:00:44:0A&model=CB_P7";
const char kHeadB[] = "/connect?ip=127.44.0.11&mac=02:00:00:00:44:0b&model=CB_P7";

class RoutePtzLeaseTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

int headCommands(int controlType) {
  int n = 0;
  for (const fake::Call& call : fake::sdk().calls("ControlPTZF")) {
    if (!call.ints.empty() && call.ints[0] == controlType) ++n;
  }
  return n;
}
int stops() { return headCommands(VCSDK::VcPTZFControl_Stop); }
int moves() { return headCommands(VCSDK::VcPTZFControl_Continuous); }

// Milliseconds until ready() held, polled every 2 ms; -1 after limitMs.
template <typename Ready>
long long msUntil(Ready ready, int limitMs) {
  const Clock::time_point start = Clock::now();
  while (!ready()) {
    if (Clock::now() - start > milliseconds(limitMs)) return -1;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

void post(httplib::Client& c, const std::string& path, const std::string& answer = "ok") {
  auto r = c.Post(path.c_str());
  ASSERT_TRUE(r) << path;
  EXPECT_EQ(r->status, 200) << path;
  EXPECT_EQ(r->body, statusBody(answer)) << path;
}

TEST_F(RoutePtzLeaseTest, LeasedMoveStopsWhenRenewalsStopAndOnlyThen) {
  RunningServer running("127.44.1.1");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  post(c, kHeadA, "conectado");

  // Renewed by /ptz/renew and by the same move again (which sends nothing
  // new): no stop for 600 ms with a 200 ms hold.
  post(c, "/ptz/move?pan=20&tilt=-5&hold=200");
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(milliseconds(100));
    post(c, i % 2 ? "/ptz/renew" : "/ptz/move?pan=20&tilt=-5&hold=200");
  }
  EXPECT_EQ(stops(), 0);
  EXPECT_EQ(moves(), 1);
  const long long stoppedAfter = msUntil([] { return stops() == 1; }, 2000);
  EXPECT_GE(stoppedAfter, 150);
  EXPECT_LE(stoppedAfter, 400);

  // Outside 100..5000 the hold is clamped: 1 ms lasts 100 ms.
  post(c, "/ptz/move?pan=20&hold=1");
  const long long clamped = msUntil([] { return stops() == 2; }, 2000);
  EXPECT_GE(clamped, 80);
  EXPECT_LE(clamped, 300);

  // Without hold a move runs as before: no stop of the server's own.
  post(c, "/ptz/move?pan=20");
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(stops(), 2);
  // A renewal without a lease changes nothing.
  post(c, "/ptz/renew");
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(stops(), 2);
}

TEST_F(RoutePtzLeaseTest, CommandsThatDriveTheHeadEndTheLeasePresetStoresDoNot) {
  RunningServer running("127.44.1.2");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  post(c, kHeadA, "conectado");

  // home takes the head over: its lease must not stop it later.
  post(c, "/ptz/move?pan=20&hold=150");
  post(c, "/ptz/home");
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_EQ(stops(), 0);

  // A new direction replaces the lease; the old one's deadline is gone.
  post(c, "/ptz/move?pan=20&hold=150");
  std::this_thread::sleep_for(milliseconds(100));
  post(c, "/ptz/move?pan=0&tilt=20&hold=300");
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(stops(), 0);
  EXPECT_GT(msUntil([] { return stops() == 1; }, 2000), 0);

  // Storing a preset leaves the head turning, so the lease stays on it.
  post(c, "/ptz/move?pan=20&hold=150");
  post(c, "/ptz/preset/set?num=2");
  EXPECT_GE(msUntil([] { return stops() == 2; }, 2000), 0);

  // A refused move leaves the running lease in place.
  post(c, "/ptz/move?pan=20&hold=300");
  fake::sdk().setResult("ControlPTZF", VCSDK::VcError_PtzUnsupported);
  post(c, "/ptz/move?pan=999&hold=5000");
  fake::sdk().setResult("ControlPTZF", 0);
  EXPECT_LE(msUntil([] { return stops() == 3; }, 2000), 400);
}

TEST_F(RoutePtzLeaseTest, StopSkipsTheCaptureAndAMoveSentBeforeItNeverRuns) {
  RunningServer running("127.44.1.3");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  post(c, kHeadA, "conectado");
  fake::sdk().onShutterRelease(fake::Event::download("", 400));

  auto capture = std::async(std::launch::async, [&running] {
    httplib::Client own = running.client();
    auto r = own.Post("/capture?shots=3");
    return r ? r->body : std::string();
  });
  std::this_thread::sleep_for(milliseconds(150));
  // Waits behind the capture as every command does.
  auto queuedMove = std::async(std::launch::async, [&running] {
    httplib::Client own = running.client();
    return static_cast<bool>(own.Post("/ptz/move?pan=30&hold=600"));
  });
  std::this_thread::sleep_for(milliseconds(50));

  const Clock::time_point sent = Clock::now();
  post(c, "/ptz/stop");
  const long long answeredMs =
      std::chrono::duration_cast<milliseconds>(Clock::now() - sent).count();
  EXPECT_LT(answeredMs, 250);  // a shot takes 400 ms
  EXPECT_EQ(stops(), 1);
  EXPECT_EQ(capture.wait_for(milliseconds(0)), std::future_status::timeout)
      << "the stop answered after the capture";

  EXPECT_EQ(capture.get(), statusBody("3 foto(s)"));
  EXPECT_TRUE(queuedMove.get());
  EXPECT_EQ(moves(), 0) << "a move sent before the stop ran after it";
  // A move sent after the stop runs.
  post(c, "/ptz/move?pan=30");
  EXPECT_EQ(moves(), 1);
}

TEST_F(RoutePtzLeaseTest, TeardownsAndShutdownStopALeasedMoveFirst) {
  RunningServer running("127.44.1.4");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  post(c, kHeadA, "conectado");

  // Before the disconnect waits for the capture's shot.
  fake::sdk().onShutterRelease(fake::Event::download("", 600));
  post(c, "/ptz/move?pan=20&hold=5000");
  auto capture = std::async(std::launch::async, [&running] {
    httplib::Client own = running.client();
    return static_cast<bool>(own.Post("/capture?shots=2"));
  });
  std::this_thread::sleep_for(milliseconds(100));
  auto disconnect = std::async(std::launch::async, [&c] { return c.Post("/disconnect"); });
  const long long stopped = msUntil([] { return stops() == 1; }, 2000);
  EXPECT_GE(stopped, 0);
  EXPECT_LT(stopped, 100);
  EXPECT_EQ(fake::sdk().count("Disconnect"), 0);
  EXPECT_TRUE(capture.get());
  ASSERT_TRUE(disconnect.get());

  // A new connect ends the lease on the head it replaces, then the server
  // stopping ends the next one; each stop goes before the connection ends.
  fake::sdk().clearCalls();
  post(c, kHeadA, "conectado");
  post(c, "/ptz/move?pan=20&hold=5000");
  post(c, kHeadB, "conectado");
  post(c, "/ptz/move?pan=20&hold=5000");
  ASSERT_TRUE(running.stopAndJoin(5000));
  const fake::Names order = fake::sdk().namesExcept(
      {"CreateCameraObjectInfoEthernetConnection", "GetFingerprint", "Connect", "InfoRelease",
       "ReleaseDevice", "SetDeviceProperty", "SetSaveInfo", "GetSelectDeviceProperties",
       "ReleaseDeviceProperties"});
  // (The server lets the camera go when it is destroyed, after this.)
  EXPECT_EQ(order,
            (fake::Names{"ControlPTZF", "ControlPTZF", "Disconnect", "ControlPTZF", "ControlPTZF"}))
      << fake::sdk().transcript();
  EXPECT_EQ(stops(), 2);
}

TEST_F(RoutePtzLeaseTest, PresetsAreRememberedPerHead) {
  RunningServer running("127.44.1.5");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  auto presets = [&c] {
    auto r = c.Get("/ptz/presets");
    EXPECT_TRUE(r);
    if (!r) return std::string();
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
    return r->body;
  };
  EXPECT_EQ(presets(), "[]");

  post(c, kHeadA, "conectado");
  for (const char* path : {"/ptz/preset/set?num=7", "/ptz/preset/set?num=1",
                           "/ptz/preset/set?num=3", "/ptz/preset/clear?num=1"}) {
    post(c, path);
  }
  fake::sdk().setResult("PresetPTZFSet", VCSDK::VcError_PtzUnsupported);
  post(c, "/ptz/preset/set?num=9");  // refused by the head: not stored
  fake::sdk().setResult("PresetPTZFSet", 0);
  EXPECT_EQ(presets(), "[3,7]");

  post(c, kHeadB, "conectado");
  EXPECT_EQ(presets(), "[]");
  post(c, "/ptz/preset/set?num=2");
  // The same head again, its MAC written in the other case.
  post(c, "/connect?ip=127.44.0.10&mac=02:00:00:00:44:0a&model=CB_P7", "conectado");
  EXPECT_EQ(presets(), "[3,7]");
  post(c, "/disconnect", "desconectado");
  EXPECT_EQ(presets(), "[]");
}

}  // namespace
