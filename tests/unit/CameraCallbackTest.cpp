// DeviceCallback: the line each event prints and the state it leaves.
#include <gtest/gtest.h>

#include <string>

#include "camera/DeviceCallback.h"

namespace {

std::string printed(void (*event)(DeviceCallback&), DeviceCallback& cb) {
  ::testing::internal::CaptureStdout();
  event(cb);
  return ::testing::internal::GetCapturedStdout();
}

TEST(CameraCallbackTest, EachEventPrintsItsLineAndSetsOnlyItsState) {
  struct Case {
    void (*event)(DeviceCallback&);
    const char* line;
    bool connected, disconnected;
    std::uint32_t error, downloads;
  } cases[] = {
      {[](DeviceCallback& c) { c.OnConnected(VCSDK::VcDeviceConnectionVersion_V2); },
       "[callback] OnConnected\n", true, false, 0, 0},
      {[](DeviceCallback& c) { c.OnDisconnected(0x8107); },
       "[callback] OnDisconnected (error=0x00008107)\n", false, true, 0, 0},
      {[](DeviceCallback& c) { c.OnError(0x8104); }, "[callback] OnError (0x00008104)\n", false,
       false, 0x8104, 0},
      {[](DeviceCallback& c) { c.OnWarning(0x20); }, "[callback] OnWarning (0x00000020)\n", false,
       false, 0, 0},
      {[](DeviceCallback& c) { c.OnPropertyChanged(); }, "[callback] OnPropertyChanged\n", false,
       false, 0, 0},
      {[](DeviceCallback& c) { c.OnLvPropertyChanged(); }, "[callback] OnLvPropertyChanged\n",
       false, false, 0, 0},
      {[](DeviceCallback& c) {
         char name[] = "captures/KAMORA_00001.jpg";
         c.OnCompleteDownload(name, VCSDK::VcDownloadFile_Jpeg);
       },
       "[callback] OnCompleteDownload: captures/KAMORA_00001.jpg\n", false, false, 0, 1},
      {[](DeviceCallback& c) { c.OnCompleteDownload(nullptr, 0); },
       "[callback] OnCompleteDownload: \n", false, false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    DeviceCallback cb;
    EXPECT_EQ(printed(c.event, cb), c.line);
    EXPECT_EQ(cb.connected(), c.connected);
    EXPECT_EQ(cb.disconnected(), c.disconnected);
    EXPECT_EQ(cb.lastError(), c.error);
    EXPECT_EQ(cb.downloadCount(), c.downloads);
  }
}

TEST(CameraCallbackTest, ResetForgetsTheLinkButKeepsCountingDownloads) {
  DeviceCallback cb;
  ::testing::internal::CaptureStdout();
  cb.OnConnected(VCSDK::VcDeviceConnectionVersion_V1);
  cb.OnDisconnected(1);
  cb.OnError(0x8107);
  cb.OnCompleteDownload(nullptr, 0);
  cb.OnCompleteDownload(nullptr, 0);
  ::testing::internal::GetCapturedStdout();

  cb.clearError();
  EXPECT_EQ(cb.lastError(), 0u);
  EXPECT_TRUE(cb.connected());
  cb.OnError(0x8301);
  cb.resetConnectionState();
  EXPECT_FALSE(cb.connected());
  EXPECT_FALSE(cb.disconnected());
  EXPECT_EQ(cb.lastError(), 0u);
  EXPECT_EQ(cb.downloadCount(), 2u);
}

}  // namespace
