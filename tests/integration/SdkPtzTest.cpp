// The pan/tilt head through the stand-in SDK: what each command does to the
// head over time, presets, refusals, and a view that pans with it.
// Addresses 127.0.14.x.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "SdkTestSupport.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;

namespace {

class SdkPtz : public SdkTest {};

VcPTZFSetting setting(std::int32_t panPos, std::int32_t panSpeed, std::int32_t tiltPos,
                      std::int32_t tiltSpeed) {
  VcPTZFSetting s;
  s.pan.enable = 1;
  s.pan.position = panPos;
  s.pan.speed = panSpeed;
  s.tilt.enable = 1;
  s.tilt.position = tiltPos;
  s.tilt.speed = tiltSpeed;
  return s;
}

bool near(const nlohmann::json& v, double want, double tol) {
  return std::fabs(v.get<double>() - want) <= tol;
}

}  // namespace

TEST_F(SdkPtz, BodiesWithoutAHeadRefuseEveryPtzCommand) {
  VcamOptions o;
  o.ip = "127.0.14.1";  // SB_A4
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  VcPTZFSetting s = setting(0, 10, 0, 10);
  const unsigned no = VcError_PtzUnsupported;
  EXPECT_EQ(no, ControlPTZF(link.handle, VcPTZFControl_Continuous, &s));
  EXPECT_EQ(no, ControlPTZF(link.handle, VcPTZFControl_Absolute, &s));
  EXPECT_EQ(no, ControlPTZF(link.handle, VcPTZFControl_Home, nullptr));
  EXPECT_EQ(no, ControlPTZF(link.handle, VcPTZFControl_Stop, nullptr));
  EXPECT_EQ(no, PresetPTZFSet(link.handle, 1, 1, 1));
  EXPECT_EQ(no, ExecuteControlCodeValue(link.handle, VcControlCode_PresetRecall, 1));
  EXPECT_EQ(no, PresetPTZFClear(link.handle, 1));
}

TEST_F(SdkPtz, HeadMovesStopsGoesHomeAndKeepsPresets) {
  VcamOptions o;
  o.ip = "127.0.14.2";
  o.model = "CB_P7";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac, VcCameraModel_CB_P7));
  const std::int64_t h = link.handle;

  // Continuous: pan at 20 deg/s to the left; tilt held.
  VcPTZFSetting s = setting(0, -20, 0, 0);
  ASSERT_EQ(0u, ControlPTZF(h, VcPTZFControl_Continuous, &s));
  nlohmann::json st = cam->state();
  EXPECT_EQ(-20.0, st["pan_speed"].get<double>());
  EXPECT_EQ(-20, st["last_ptz"]["pan"]["speed"]);
  EXPECT_EQ(1, st["last_ptz"]["tilt"]["enable"]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(0u, ControlPTZF(h, VcPTZFControl_Stop, nullptr));
  st = cam->state();
  double stoppedAt = st["pan"];
  EXPECT_LT(stoppedAt, -40);  // ~ -60 tenths after 0.3 s
  EXPECT_GT(stoppedAt, -120);
  EXPECT_EQ(0.0, st["pan_speed"].get<double>());
  EXPECT_EQ(0.0, st["tilt"].get<double>());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(stoppedAt, cam->state()["pan"].get<double>());

  // A continuous move at speed 0 is accepted and holds still (it is no stop command).
  s = setting(0, 0, 0, 0);
  EXPECT_EQ(0u, ControlPTZF(h, VcPTZFControl_Continuous, &s));
  EXPECT_EQ(3, cam->state()["last_ptz"]["type"]);

  // Absolute at 10 deg/s: 100 tenths of pan and -50 of tilt.
  s = setting(100, 10, -50, 10);
  ASSERT_EQ(0u, ControlPTZF(h, VcPTZFControl_Absolute, &s));
  EXPECT_TRUE(cam->waitFor(
      [](const nlohmann::json& j) {
        return near(j["pan"], 100, 0.01) && near(j["tilt"], -50, 0.01);
      },
      3000));
  ASSERT_EQ(0u, PresetPTZFSet(h, 3, 1, 1));
  EXPECT_EQ(100, cam->state()["presets"]["3"][0]);
  EXPECT_EQ(-50, cam->state()["presets"]["3"][1]);

  ASSERT_EQ(0u, ControlPTZF(h, VcPTZFControl_Home, nullptr));
  EXPECT_TRUE(cam->waitFor(
      [](const nlohmann::json& j) { return near(j["pan"], 0, 0.01) && near(j["tilt"], 0, 0.01); },
      3000));
  ASSERT_EQ(0u, ExecuteControlCodeValue(h, VcControlCode_PresetRecall, 3));
  EXPECT_TRUE(cam->waitFor(
      [](const nlohmann::json& j) {
        return near(j["pan"], 100, 0.01) && near(j["tilt"], -50, 0.01);
      },
      3000));
  ASSERT_EQ(0u, PresetPTZFClear(h, 3));
  EXPECT_TRUE(cam->state()["presets"].empty());
  EXPECT_EQ(unsigned(VcError_PresetNotFound),
            ExecuteControlCodeValue(h, VcControlCode_PresetRecall, 3));
  EXPECT_EQ(unsigned(VcError_PresetNotFound), PresetPTZFClear(h, 3));
}

TEST_F(SdkPtz, OutOfRangeCommandsAndTheRefuseFaultChangeNothing) {
  VcamOptions o;
  o.ip = "127.0.14.3";
  o.model = "PZ_M7";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac, VcCameraModel_PZ_M7));
  const std::int64_t h = link.handle;

  struct Case {
    const char* name;
    std::uint32_t type;
    VcPTZFSetting s;
    unsigned expect;
  } cases[] = {
      {"pan beyond its end stop", VcPTZFControl_Absolute, setting(5000, 10, 0, 10),
       VcError_PtzRefused},
      {"tilt beyond its end stop", VcPTZFControl_Absolute, setting(0, 10, -2000, 10),
       VcError_PtzRefused},
      {"absolute at speed 0", VcPTZFControl_Absolute, setting(10, 0, 10, 0), VcError_PtzRefused},
      {"continuous too fast", VcPTZFControl_Continuous, setting(0, 500, 0, 0), VcError_PtzRefused},
      {"unknown control type", 42, setting(0, 10, 0, 10), VcError_NotSupported},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expect, ControlPTZF(h, c.type, &c.s));
    nlohmann::json st = cam->state();
    EXPECT_EQ(0.0, st["pan"].get<double>());
    EXPECT_EQ(0.0, st["pan_speed"].get<double>());
  }
  EXPECT_EQ(unsigned(VcError_InvalidParameter), ControlPTZF(h, VcPTZFControl_Absolute, nullptr));
  EXPECT_EQ(unsigned(VcError_InvalidParameter), PresetPTZFSet(h, 0, 1, 1));

  ASSERT_TRUE(cam->fault("refuse-ptz", {{"code", "0x8502"}}));
  EXPECT_EQ(0x8502u, ControlPTZF(h, VcPTZFControl_Home, nullptr));
  EXPECT_EQ(0x8502u, PresetPTZFSet(h, 1, 1, 1));
  ASSERT_TRUE(cam->fault("clear"));
  EXPECT_EQ(0u, PresetPTZFSet(h, 1, 1, 1));
}

TEST_F(SdkPtz, LiveViewPansWithTheHead) {
  VcamOptions o;
  o.ip = "127.0.14.4";
  o.model = "CB_P7";
  o.lvSize = "320x212";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac, VcCameraModel_CB_P7));

  auto grab = [&](std::vector<std::uint8_t>& rgb) {
    std::string jpeg;
    int w = 0, h = 0;
    return grabFrame(link.handle, jpeg) == 0 && decodeJpeg(jpeg, rgb, w, h);
  };
  std::vector<std::uint8_t> home, again, panned;
  ASSERT_TRUE(grab(home));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(grab(again));
  VcPTZFSetting s = setting(600, 100, 0, 100);
  ASSERT_EQ(0u, ControlPTZF(link.handle, VcPTZFControl_Absolute, &s));
  ASSERT_TRUE(
      cam->waitFor([](const nlohmann::json& j) { return near(j["pan"], 600, 0.01); }, 3000));
  ASSERT_TRUE(grab(panned));
  // Only the small moving ball and the counter change at rest; a 60 degree
  // pan changes the whole view.
  double still = meanAbsDiff(home, again), moved = meanAbsDiff(home, panned);
  EXPECT_LT(still, 5.0);
  EXPECT_GT(moved, 5 * still + 10);
}
