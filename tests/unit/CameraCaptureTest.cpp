// Still capture: the shutter commands, the download wait's timing and how it
// counts downloads and errors.
#include <string>

#include "CameraTestHarness.h"

namespace {

using fake::Event;
using fake::sdk;

class CameraCaptureTest : public CameraTest {};

const char* const kSent = "[info] disparo enviado, aguardando download...\n";
const char* const kTimeout = "[error] timeout aguardando o download da foto\n";

TEST_F(CameraCaptureTest, PressThenReleaseThenTheDownloadEndsTheWait) {
  CameraController controller;
  connect(controller);
  sdk().onShutterRelease(Event::download("captures/KAMORA_00001.jpg", 150));
  startOutput();
  bool ok = false;
  const long long ms = elapsedMs([&] { ok = controller.capturePhoto(5000); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(output(),
            std::string(kSent) + "[callback] OnCompleteDownload: captures/KAMORA_00001.jpg\n");
  const std::vector<fake::Call> sends = sdk().calls("SendCommand");
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[0].ints, (fake::Ints{7, 1}));
  EXPECT_EQ(sends[1].ints, (fake::Ints{7, 0}));
  EXPECT_EQ(sends[0].handle, sdk().lastHandle());
  // 100 ms between press and release, then the 150 ms download, polled
  // every 50 ms.
  EXPECT_GE(ms, 250);
  EXPECT_LE(ms, 1000);
}

TEST_F(CameraCaptureTest, AnEarlyDownloadCountsAtOnce) {
  // With the counter read only after the release, each of these pictures
  // would be missed and the wait would run out.
  struct Case {
    const char* when;
    Event press, release;
  } cases[] = {
      {"before the first poll", Event::none(), Event::download("", 0)},
      {"while the button is down", Event::download("", 0), Event::none()},
  };
  CameraController controller;
  connect(controller);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.when);
    sdk().onShutterPress(c.press);
    sdk().onShutterRelease(c.release);
    bool ok = false;
    const long long ms = elapsedMs([&] { ok = controller.capturePhoto(1000); });
    EXPECT_TRUE(ok);
    EXPECT_LE(ms, 500);
    sdk().drain();
  }
}

TEST_F(CameraCaptureTest, TimeOutPrintsItsLineAfterTheWait) {
  struct Case {
    int timeoutMs;
    long long minMs, maxMs;
  } cases[] = {{0, 100, 400}, {300, 400, 900}};
  CameraController controller;
  connect(controller);
  sdk().onShutterRelease(Event::none());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeoutMs);
    sdk().clearCalls();
    startOutput();
    bool ok = true;
    const long long ms = elapsedMs([&] { ok = controller.capturePhoto(c.timeoutMs); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(output(), std::string(kSent) + kTimeout);
    EXPECT_EQ(sdk().count("SendCommand"), 2);  // fired even with no time to wait
    EXPECT_GE(ms, c.minMs);
    EXPECT_LE(ms, c.maxMs);
  }
}

TEST_F(CameraCaptureTest, LateDownloadEndsTheNextWait) {
  CameraController controller;
  connect(controller);
  sdk().queueOnShutterRelease({Event::download("", 600), Event::none()});
  EXPECT_FALSE(controller.capturePhoto(200));
  // The second picture never arrives, but the first one's download lands
  // during its wait and counts.
  EXPECT_TRUE(controller.capturePhoto(2000));
}

TEST_F(CameraCaptureTest, TwoDownloadsInOneWaitCountOnce) {
  CameraController controller;
  connect(controller);
  sdk().queueOnShutterRelease({Event::download("", 10), Event::none()});
  sdk().fire(sdk().lastHandle(), Event::download("", 120));
  EXPECT_TRUE(controller.capturePhoto(2000));
  sdk().drain();
  // The next call starts from the raised count: nothing new arrives.
  EXPECT_FALSE(controller.capturePhoto(200));
}

TEST_F(CameraCaptureTest, ErrorDuringTheWaitEndsItAtOnceWithoutTheTimeoutLine) {
  CameraController controller;
  connect(controller);
  sdk().onShutterRelease(Event::error(VCSDK::VcError_CaptureFailed, 150));
  startOutput();
  bool ok = true;
  const long long ms = elapsedMs([&] { ok = controller.capturePhoto(5000); });
  EXPECT_FALSE(ok);
  EXPECT_LE(ms, 1000);
  EXPECT_EQ(output(), std::string(kSent) + "[callback] OnError (0x00008301)\n");
}

TEST_F(CameraCaptureTest, AnEarlierErrorDoesNotFailTheNextPicture) {
  CameraController controller;
  connect(controller);
  sdk().queueOnShutterRelease({Event::error(VCSDK::VcError_CaptureFailed, 0)});
  EXPECT_FALSE(controller.capturePhoto(2000));
  sdk().drain();
  ASSERT_NE(controller.events().lastError(), 0u);
  // Default event again: a download 10 ms after the release.
  EXPECT_TRUE(controller.capturePhoto(2000));
}

TEST_F(CameraCaptureTest, WithoutACameraNothingIsFired) {
  CameraController controller;
  startOutput();
  EXPECT_FALSE(controller.capturePhoto(1000));
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(sdk().names().empty());
}

}  // namespace
