// PtzDriver's reports: one "ptz" event per command it sends to the head, none
// for a renewal or without a camera, and the expired lease's line and
// automatic stop.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeSdk.h"
#include "camera/CameraController.h"
#include "server/events/EventLog.h"
#include "server/slot/CameraGate.h"
#include "server/slot/PtzDriver.h"

namespace {

class PtzDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }

  std::vector<std::string> ptzEvents() const {
    std::vector<std::string> data;
    for (const ServerEvent& event : events.since(0)) {
      EXPECT_EQ(event.type, "ptz");
      data.push_back(event.data);
    }
    return data;
  }

  EventLog events;
  CameraGate gate;
  CameraController controller;
};

const PtzAction& action(const char* name) { return *findPtzAction(name); }

PtzValues values(int pan, int tilt, int speed = 10, int preset = 1) {
  PtzValues v;
  v.pan = pan;
  v.tilt = tilt;
  v.speed = speed;
  v.preset = static_cast<std::uint16_t>(preset);
  return v;
}

TEST_F(PtzDriverTest, EachCommandSentIsAnEventAndAnExpiredLeaseSaysSo) {
  {
    PtzDriver idle(controller, gate, events);
    idle.command(action("move"), values(20, 0), 1, 200);
    idle.stop(2);
  }
  EXPECT_TRUE(ptzEvents().empty()) << "nothing reaches a head without a camera";

  ASSERT_TRUE(controller.connectIp("127.44.0.20", "02:00:00:00:44:14", VCSDK::VcCameraModel_CB_P7,
                                   false, "", ""));
  ASSERT_TRUE(controller.waitConnected(2000));
  ASSERT_TRUE(fake::sdk().drain());
  PtzDriver driver(controller, gate, events);
  ::testing::internal::CaptureStdout();
  driver.command(action("absolute"), values(-5, 7, 3), 1, 0);
  driver.command(action("preset-set"), values(0, 0, 10, 4), 2, 0);
  fake::sdk().setResult("ExecuteControlCodeValue", VCSDK::VcError_PtzUnsupported);
  driver.command(action("preset-recall"), values(0, 0, 10, 9), 3, 0);
  driver.stop(4);
  driver.command(action("move"), values(20, -5), 5, 99);
  driver.command(action("move"), values(20, -5), 6, 150);  // a renewal: sends nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed,
            "[error] ptzPresetRecall(9): 0x00008501\n"
            "[info] ptz: sem renovacao, cabeca parada\n")
      << printed;
  EXPECT_EQ(ptzEvents(), (std::vector<std::string>{
                             R"({"command":"absolute","pan":-5,"tilt":7,"speed":3,"ok":true})",
                             R"({"command":"preset-set","num":4,"ok":true})",
                             R"({"command":"preset-recall","num":9,"ok":false})",
                             R"({"command":"stop","ok":true})",
                             R"({"command":"move","pan":20,"tilt":-5,"hold":100,"ok":true})",
                             R"({"command":"stop","automatic":true,"ok":true})",
                         }));
}

}  // namespace
