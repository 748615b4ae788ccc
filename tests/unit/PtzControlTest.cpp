// Pan/tilt operations: the control type, setting or preset each one sends,
// refusals, and nothing at all without a camera.
#include <functional>
#include <optional>

#include "CameraTestHarness.h"

namespace {

using fake::sdk;

class PtzControlTest : public CameraTest {};

struct Axis {
  int enable, position, speed;
};
struct Setting {
  Axis pan, tilt;
};

struct OpCase {
  const char* name;
  std::function<bool(CameraController&)> op;
  const char* fn;
  fake::Ints ints;
  std::optional<Setting> setting;  // ControlPTZF only; nullopt: null setting
  const char* refusal;
};

const OpCase kCases[] = {
    {"move",
     [](CameraController& c) { return c.ptzMove(-30, 0); },
     "ControlPTZF",
     {3},
     Setting{{1, 0, -30}, {1, 0, 0}},
     "[error] ptzMove: 0x00008502\n"},
    // A zero-speed move is still a move, not a stop.
    {"move 0 0",
     [](CameraController& c) { return c.ptzMove(0, 0); },
     "ControlPTZF",
     {3},
     Setting{{1, 0, 0}, {1, 0, 0}},
     "[error] ptzMove: 0x00008502\n"},
    {"absolute",
     [](CameraController& c) { return c.ptzAbsolute(100, -50, 10); },
     "ControlPTZF",
     {1},
     Setting{{1, 100, 10}, {1, -50, 10}},
     "[error] ptzAbsolute: 0x00008502\n"},
    {"home",
     [](CameraController& c) { return c.ptzHome(); },
     "ControlPTZF",
     {4},
     std::nullopt,
     "[error] ptzHome: 0x00008502\n"},
    {"stop",
     [](CameraController& c) { return c.ptzStop(); },
     "ControlPTZF",
     {6},
     std::nullopt,
     "[error] ptzStop: 0x00008502\n"},
    {"preset set",
     [](CameraController& c) { return c.ptzPresetSet(65535); },
     "PresetPTZFSet",
     {65535, 1, 1},
     std::nullopt,
     "[error] ptzPresetSet(65535): 0x00008502\n"},
    {"preset recall",
     [](CameraController& c) { return c.ptzPresetRecall(3); },
     "ExecuteControlCodeValue",
     {0xF015, 3},
     std::nullopt,
     "[error] ptzPresetRecall(3): 0x00008502\n"},
    {"preset clear",
     [](CameraController& c) { return c.ptzPresetClear(7); },
     "PresetPTZFClear",
     {7},
     std::nullopt,
     "[error] ptzPresetClear(7): 0x00008502\n"},
};

TEST_F(PtzControlTest, EachOperationSendsOneCallWithItsValues) {
  CameraController controller;
  connect(controller);
  for (const OpCase& c : kCases) {
    SCOPED_TRACE(c.name);
    sdk().clearCalls();
    EXPECT_TRUE(c.op(controller));
    ASSERT_EQ(sdk().names(), (fake::Names{c.fn}));
    const fake::Call call = sdk().last(c.fn);
    EXPECT_EQ(call.handle, sdk().lastHandle());
    EXPECT_EQ(call.ints, c.ints);
    if (std::string(c.fn) != "ControlPTZF") continue;
    ASSERT_EQ(call.ptzf.has_value(), c.setting.has_value());
    if (!c.setting) continue;
    const VCSDK::VcPTZFSetting& s = *call.ptzf;
    EXPECT_EQ(s.pan.enable, c.setting->pan.enable);
    EXPECT_EQ(s.pan.position, c.setting->pan.position);
    EXPECT_EQ(s.pan.speed, c.setting->pan.speed);
    EXPECT_EQ(s.tilt.enable, c.setting->tilt.enable);
    EXPECT_EQ(s.tilt.position, c.setting->tilt.position);
    EXPECT_EQ(s.tilt.speed, c.setting->tilt.speed);
  }
}

TEST_F(PtzControlTest, RefusalPrintsTheOperationsLine) {
  CameraController controller;
  connect(controller);
  for (const char* fn :
       {"ControlPTZF", "PresetPTZFSet", "ExecuteControlCodeValue", "PresetPTZFClear"}) {
    sdk().setResult(fn, VCSDK::VcError_PtzRefused);
  }
  for (const OpCase& c : kCases) {
    SCOPED_TRACE(c.name);
    startOutput();
    EXPECT_FALSE(c.op(controller));
    EXPECT_EQ(output(), c.refusal);
  }
}

TEST_F(PtzControlTest, WithoutACameraNothingReachesTheSdk) {
  CameraController controller;
  startOutput();
  for (const OpCase& c : kCases) EXPECT_FALSE(c.op(controller)) << c.name;
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(sdk().names().empty());
}

}  // namespace
