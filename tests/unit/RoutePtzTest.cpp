// The pan/tilt routes over HTTP, against the fake SDK: numbers from the
// parameters, the one command each hands to the head, and "ok" whatever the
// head answered.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ServerTestHarness.h"

namespace {

class RoutePtzTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

const char* const kRoutes[] = {"/ptz/move",        "/ptz/absolute",   "/ptz/home",
                               "/ptz/stop",        "/ptz/preset/set", "/ptz/preset/recall",
                               "/ptz/preset/clear"};

int headCalls() {
  return fake::sdk().count("ControlPTZF") + fake::sdk().count("PresetPTZFSet") +
         fake::sdk().count("PresetPTZFClear") + fake::sdk().count("ExecuteControlCodeValue");
}

TEST_F(RoutePtzTest, WithoutCameraEveryRouteAnswersOkAndSendsNothing) {
  RunningServer running("127.0.62.1");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  for (const char* path : kRoutes) {
    SCOPED_TRACE(path);
    auto r = c.Post(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, statusBody("ok"));
  }
  EXPECT_EQ(headCalls(), 0);
}

TEST_F(RoutePtzTest, ParametersReachTheHead) {
  RunningServer running("127.0.62.2");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  auto conn = c.Post("/connect?ip=10.0.0.6&mac=02:00:00:00:00:02&model=CB_P7");
  ASSERT_TRUE(conn);
  ASSERT_EQ(conn->status, 200);

  struct Case {
    const char* path;
    std::function<void()> check;
  };
  auto continuous = [](int pan, int tilt) {
    const fake::Call call = fake::sdk().last("ControlPTZF");
    ASSERT_EQ(call.ints, (fake::Ints{VCSDK::VcPTZFControl_Continuous}));
    ASSERT_TRUE(call.ptzf.has_value());
    EXPECT_EQ(call.ptzf->pan.speed, pan);
    EXPECT_EQ(call.ptzf->tilt.speed, tilt);
  };
  auto absolute = [](int pan, int tilt, int speed) {
    const fake::Call call = fake::sdk().last("ControlPTZF");
    ASSERT_EQ(call.ints, (fake::Ints{VCSDK::VcPTZFControl_Absolute}));
    ASSERT_TRUE(call.ptzf.has_value());
    EXPECT_EQ(call.ptzf->pan.position, pan);
    EXPECT_EQ(call.ptzf->tilt.position, tilt);
    EXPECT_EQ(call.ptzf->pan.speed, speed);
    EXPECT_EQ(call.ptzf->tilt.speed, speed);
  };
  auto preset = [](const char* fn, std::int64_t num) {
    const fake::Call call = fake::sdk().last(fn);
    ASSERT_EQ(call.fn, fn);
    ASSERT_FALSE(call.ints.empty());
    if (std::string(fn) == "ExecuteControlCodeValue") {
      EXPECT_EQ(call.ints, (fake::Ints{VCSDK::VcControlCode_PresetRecall, num}));
    } else {
      EXPECT_EQ(call.ints[0], num);
    }
  };
  const Case cases[] = {
      {"/ptz/move", [&] { continuous(0, 0); }},
      {"/ptz/move?pan=-30", [&] { continuous(-30, 0); }},
      {"/ptz/move?tilt=30&pan=x", [&] { continuous(0, 30); }},
      {"/ptz/absolute?pan=100", [&] { absolute(100, 0, 10); }},
      {"/ptz/absolute?pan=-5&tilt=7&speed=3", [&] { absolute(-5, 7, 3); }},
      {"/ptz/home?pan=9",
       [] {
         EXPECT_EQ(fake::sdk().last("ControlPTZF").ints, (fake::Ints{VCSDK::VcPTZFControl_Home}));
       }},
      {"/ptz/stop",
       [] {
         EXPECT_EQ(fake::sdk().last("ControlPTZF").ints, (fake::Ints{VCSDK::VcPTZFControl_Stop}));
       }},
      {"/ptz/preset/set", [&] { preset("PresetPTZFSet", 1); }},
      {"/ptz/preset/set?num=12", [&] { preset("PresetPTZFSet", 12); }},
      {"/ptz/preset/set?num=40000", [&] { preset("PresetPTZFSet", 40000); }},
      {"/ptz/preset/recall", [&] { preset("ExecuteControlCodeValue", 1); }},
      {"/ptz/preset/recall?num=65537", [&] { preset("ExecuteControlCodeValue", 1); }},
      {"/ptz/preset/recall?num=105536", [&] { preset("ExecuteControlCodeValue", 40000); }},
      {"/ptz/preset/recall?num=-1", [&] { preset("ExecuteControlCodeValue", 65535); }},
      {"/ptz/preset/clear?num=7", [&] { preset("PresetPTZFClear", 7); }},
      {"/ptz/preset/clear?num=40000", [&] { preset("PresetPTZFClear", 40000); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.path);
    fake::sdk().clearCalls();
    auto r = c.Post(k.path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, statusBody("ok"));
    EXPECT_EQ(headCalls(), 1);
    k.check();
  }

  // A refusal is printed by the controller; the route still says "ok".
  fake::sdk().setResult("ControlPTZF", VCSDK::VcError_PtzUnsupported);
  auto refused = c.Post("/ptz/home");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->body, statusBody("ok"));
}

}  // namespace
