// Exposure setters and PC-capture settings: the property, type tag and
// packed value each one sends, and what a refusal prints.
#include <functional>
#include <string>

#include "CameraTestHarness.h"

namespace {

using fake::sdk;

class CameraExposureTest : public CameraTest {};

struct SendCase {
  const char* name;
  std::function<bool(CameraController&)> set;
  fake::Ints sent;  // code, type, value
};

TEST_F(CameraExposureTest, SettersEncodeTheirValues) {
  const SendCase cases[] = {
      {"iso 100", [](CameraController& c) { return c.setIso(100); }, {0x0104, 3, 100}},
      {"iso auto", [](CameraController& c) { return c.setIso(0xFFFFFF); }, {0x0104, 3, 0xFFFFFF}},
      // The setter sends the caller's full value; only the command line cuts it.
      {"iso high bits",
       [](CameraController& c) { return c.setIso(0x12000064); },
       {0x0104, 3, 0x12000064}},
      {"f/2.8", [](CameraController& c) { return c.setFNumber(2.8); }, {0x0100, 2, 280}},
      {"f/5.6", [](CameraController& c) { return c.setFNumber(5.6); }, {0x0100, 2, 560}},
      {"f/2.85", [](CameraController& c) { return c.setFNumber(2.85); }, {0x0100, 2, 285}},
      {"f/1.4", [](CameraController& c) { return c.setFNumber(1.4); }, {0x0100, 2, 140}},
      {"f negative", [](CameraController& c) { return c.setFNumber(-4.0); }, {0x0100, 2, 0}},
      {"f 700 wraps",
       [](CameraController& c) { return c.setFNumber(700.0); },
       {0x0100, 2, 70000 & 0xFFFF}},
      {"1/250",
       [](CameraController& c) { return c.setShutterSpeed(1, 250); },
       {0x0103, 3, 0x000100FA}},
      {"1/4000",
       [](CameraController& c) { return c.setShutterSpeed(1, 4000); },
       {0x0103, 3, 0x00010FA0}},
      {"30s",
       [](CameraController& c) { return c.setShutterSpeed(30, 1); },
       {0x0103, 3, 0x001E0001}},
      {"65535/0",
       [](CameraController& c) { return c.setShutterSpeed(65535, 0); },
       {0x0103, 3, 0xFFFF0000}},
      {"ev -0.3", [](CameraController& c) { return c.setExposureBias(-0.3); }, {0x0101, 2, 0xFED4}},
      {"ev 0.7", [](CameraController& c) { return c.setExposureBias(0.7); }, {0x0101, 2, 700}},
      {"ev -0.7", [](CameraController& c) { return c.setExposureBias(-0.7); }, {0x0101, 2, 0xFD44}},
      {"ev 0", [](CameraController& c) { return c.setExposureBias(0.0); }, {0x0101, 2, 0}},
      {"ev -3", [](CameraController& c) { return c.setExposureBias(-3.0); }, {0x0101, 2, 0xF448}},
  };
  CameraController controller;
  connect(controller);
  for (const SendCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(soleCall("SetDeviceProperty", [&] { return c.set(controller); }).ints, c.sent);
  }
}

TEST_F(CameraExposureTest, RefusalsPrintTheCallersValueAndTheCode) {
  struct Case {
    std::function<bool(CameraController&)> set;
    const char* line;
  } cases[] = {
      {[](CameraController& c) { return c.setIso(100); }, "[error] setIso(0x000064): 0x00008201\n"},
      {[](CameraController& c) { return c.setIso(0x1234567); },
       "[error] setIso(0x1234567): 0x00008201\n"},
      {[](CameraController& c) { return c.setFNumber(2.85); },
       "[error] setFNumber(2.9): 0x00008201\n"},
      {[](CameraController& c) { return c.setShutterSpeed(1, 0); },
       "[error] setShutterSpeed(1/0): 0x00008201\n"},
      {[](CameraController& c) { return c.setExposureBias(-0.7); },
       "[error] setExposureBias(-0.7): 0x00008201\n"},
  };
  CameraController controller;
  connect(controller);
  sdk().setResult("SetDeviceProperty", VCSDK::VcError_PropertyInvalidValue);
  for (const auto& c : cases) {
    EXPECT_EQ(outputOfFailing([&] { return c.set(controller); }), c.line);
  }
}

TEST_F(CameraExposureTest, WithoutACameraNothingIsSentOrPrinted) {
  CameraController controller;
  startOutput();
  EXPECT_FALSE(controller.setIso(100));
  EXPECT_FALSE(controller.setFNumber(2.8));
  EXPECT_FALSE(controller.setShutterSpeed(1, 250));
  EXPECT_FALSE(controller.setExposureBias(1.0));
  EXPECT_FALSE(controller.setupForPcCapture("captures", "KAMORA"));
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(sdk().names().empty());
}

TEST_F(CameraExposureTest, PcCaptureSendsPriorityDestinationAndSaveInfo) {
  CameraController controller;
  connect(controller);
  EXPECT_TRUE(controller.setupForPcCapture("captures", "KAMORA_CAM12"));
  EXPECT_EQ(sdk().names(), (fake::Names{"SetDeviceProperty", "SetDeviceProperty", "SetSaveInfo"}));
  const std::vector<fake::Call> props = sdk().calls("SetDeviceProperty");
  EXPECT_EQ(props[0].ints, (fake::Ints{0x011A, 2, 2}));
  EXPECT_EQ(props[1].ints, (fake::Ints{0x0119, 2, 1}));
  const fake::Call save = sdk().last("SetSaveInfo");
  EXPECT_EQ(save.texts, (fake::Texts{std::string("captures"), std::string("KAMORA_CAM12")}));
  EXPECT_EQ(save.ints, (fake::Ints{1}));
}

TEST_F(CameraExposureTest, OnlySaveInfoDecidesThePcCaptureResult) {
  CameraController controller;
  connect(controller);
  sdk().setResult("SetDeviceProperty", VCSDK::VcError_PropertyUnsupported);
  startOutput();
  EXPECT_TRUE(controller.setupForPcCapture("captures", "KAMORA"));
  EXPECT_EQ(output(),
            "[warn] PriorityKeySettings: 0x00008202\n"
            "[warn] StillImageStoreDestination: 0x00008202\n");

  sdk().setResult("SetDeviceProperty", 0);
  sdk().setResult("SetSaveInfo", VCSDK::VcError_SaveInfoRefused);
  startOutput();
  EXPECT_FALSE(controller.setupForPcCapture("captures", "KAMORA"));
  EXPECT_EQ(output(), "[error] SetSaveInfo: 0x00008203\n");
}

}  // namespace
