// Pan/tilt operations: the control type, setting or preset each one sends,
// refusals, nothing at all without a camera, and the action table that the
// command line and the routes share.
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "CameraTestHarness.h"
#include "camera/PtzActions.h"

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
    const fake::Call call = soleCall(c.fn, [&] { return c.op(controller); });
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
    EXPECT_EQ(outputOfFailing([&] { return c.op(controller); }), c.refusal);
  }
}

TEST_F(PtzControlTest, WithoutACameraNothingReachesTheSdk) {
  CameraController controller;
  startOutput();
  for (const OpCase& c : kCases) EXPECT_FALSE(c.op(controller)) << c.name;
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(sdk().names().empty());
}

TEST_F(PtzControlTest, ActionTableRowsNameTheirRouteValuesAndCall) {
  std::vector<std::string> names, paths;
  for (const PtzAction& row : ptzActions()) {
    names.push_back(row.name);
    paths.push_back(row.path);
    EXPECT_EQ(findPtzAction(row.name), &row);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"home", "stop", "move", "absolute", "preset-set",
                                             "preset-recall", "preset-clear"}));
  EXPECT_EQ(paths, (std::vector<std::string>{"/ptz/home", "/ptz/stop", "/ptz/move", "/ptz/absolute",
                                             "/ptz/preset/set", "/ptz/preset/recall",
                                             "/ptz/preset/clear"}));

  // What each row reads and sends, in the same order, for pan -20, tilt 15,
  // speed 7 and preset 9.
  struct Call {
    PtzTakes takes;
    const char* fn;
    fake::Ints ints;
  };
  const Call calls[] = {
      {PtzTakes::Nothing, "ControlPTZF", {4}},
      {PtzTakes::Nothing, "ControlPTZF", {6}},
      {PtzTakes::PanTilt, "ControlPTZF", {3}},
      {PtzTakes::PanTiltSpeed, "ControlPTZF", {1}},
      {PtzTakes::Preset, "PresetPTZFSet", {9, 1, 1}},
      {PtzTakes::Preset, "ExecuteControlCodeValue", {0xF015, 9}},
      {PtzTakes::Preset, "PresetPTZFClear", {9}},
  };
  ASSERT_EQ(ptzActions().size(), std::size(calls));
  PtzValues values;
  values.pan = -20;
  values.tilt = 15;
  values.speed = 7;
  values.preset = 9;
  CameraController controller;
  connect(controller);
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    const PtzAction& row = ptzActions()[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.takes, calls[i].takes);
    const fake::Call call = soleCall(calls[i].fn, [&] { return row.run(controller, values); });
    EXPECT_EQ(call.ints, calls[i].ints);
    const std::optional<VCSDK::VcPTZFSetting>& ptzf = call.ptzf;
    if (row.takes == PtzTakes::PanTilt || row.takes == PtzTakes::PanTiltSpeed) {
      ASSERT_TRUE(ptzf.has_value());
    }
    if (row.takes == PtzTakes::PanTilt) {
      EXPECT_EQ(ptzf->pan.speed, -20);
      EXPECT_EQ(ptzf->tilt.speed, 15);
    }
    if (row.takes == PtzTakes::PanTiltSpeed) {
      EXPECT_EQ(ptzf->pan.position, -20);
      EXPECT_EQ(ptzf->tilt.position, 15);
      EXPECT_EQ(ptzf->pan.speed, 7);
      EXPECT_EQ(ptzf->tilt.speed, 7);
    }
  }
  // Names are matched exactly.
  for (const char* unknown : {"", "HOME", "home ", "preset"}) {
    EXPECT_EQ(findPtzAction(unknown), nullptr) << unknown;
  }
}

}  // namespace
