// A capture on a camera whose link is lost ends as soon as the loss is
// reported, instead of holding the caller for the whole download time-out.
#include "CameraTestHarness.h"

namespace {

using fake::Event;
using fake::sdk;

class FaultCaptureLinkLostTest : public CameraTest {};

TEST_F(FaultCaptureLinkLostTest, LossDuringTheWaitAndBeforeThePressEndItAtOnce) {
  CameraController controller;
  connect(controller);
  // The link goes 200 ms after the release; no picture will come.
  sdk().onShutterRelease(Event::disconnected(VCSDK::VcError_ConnectionLost, 200));
  bool ok = true;
  long long ms = elapsedMs([&] { ok = controller.capturePhoto(15000); });
  EXPECT_FALSE(ok);
  EXPECT_LT(ms, 1500);
  // Further shots on the lost link fail just as fast.
  ms = elapsedMs([&] { ok = controller.capturePhoto(15000); });
  EXPECT_FALSE(ok);
  EXPECT_LT(ms, 600);
  // A new connection starts clean: its captures wait for their pictures.
  connect(controller);
  sdk().onShutterRelease(Event::download("", 50));
  EXPECT_TRUE(controller.capturePhoto(5000));
}

}  // namespace
