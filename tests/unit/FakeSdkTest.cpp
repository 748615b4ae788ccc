// Tests of the scriptable fake SDK itself, where its own logic could hide a
// fault in the tests built on it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "FakeSdk.h"
#include "vcsdk/VcSDK.h"

namespace {

struct Recorder : VCSDK::IDeviceCallback {
  std::atomic<int> connected{0};
  std::atomic<unsigned> error{0};
  std::atomic<int> downloads{0};
  std::string lastFile;  // written by the fake's thread, read after drain()
  void OnConnected(VCSDK::DeviceConnectionVersion) override { ++connected; }
  void OnError(unsigned code) override { error = code; }
  void OnCompleteDownload(char* file, unsigned) override {
    lastFile = file ? file : "<null>";
    ++downloads;
  }
};

class FakeSdkTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
  void TearDown() override { fake::sdk().reset(); }

  // The fake's thread may be delivering a callback to it as a test's body
  // ends: it lives until TearDown's reset has stopped that thread.
  Recorder cb;

  std::int64_t connect() {
    VCSDK::IVcCameraObjectInfo* info = nullptr;
    std::uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(VCSDK::CreateCameraObjectInfoEthernetConnection(&info, VCSDK::VcCameraModel_SB_A4,
                                                              0x7F000501, mac, 0),
              0u);
    std::int64_t handle = 0;
    EXPECT_EQ(VCSDK::Connect(info, &cb, &handle), 0u);
    return handle;
  }
};

TEST_F(FakeSdkTest, QueuedResultsComeFirstThenTheDefault) {
  auto& f = fake::sdk();
  std::int64_t h = connect();
  f.setResult("SendCommand", 0x8000);
  f.queueResults("SendCommand", {0, 0x8301});
  std::vector<VCSDK::VcStatus> got;
  for (int i = 0; i < 4; ++i) got.push_back(VCSDK::SendCommand(h, 7, 1));
  EXPECT_EQ(got, (std::vector<VCSDK::VcStatus>{0, 0x8301, 0x8000, 0x8000}));
  // A stale handle is refused without consuming the script.
  f.queueResults("Disconnect", {0x8107});
  EXPECT_EQ(VCSDK::Disconnect(h + 1), VCSDK::VcError_InvalidHandle);
  EXPECT_EQ(VCSDK::Disconnect(h), 0x8107u);
}

TEST_F(FakeSdkTest, LiveViewPictureLandsAtItsOffsetInsideTheCallersBuffer) {
  auto& f = fake::sdk();
  std::int64_t h = connect();
  fake::LiveViewStep step;
  step.picture = fake::jpegBytes(40, 3);
  step.offset = 24;
  f.setLiveView(step);

  VCSDK::VcImageInfo info;
  ASSERT_EQ(VCSDK::GetLiveViewImageInfo(h, &info), 0u);
  ASSERT_EQ(info.GetBufferSize(), 24u + 40u + 16u);
  std::vector<std::uint8_t> buffer(info.GetBufferSize());
  VCSDK::VcImageDataBlock block;
  block.SetSize(static_cast<std::uint32_t>(buffer.size()));
  block.SetData(buffer.data());
  ASSERT_EQ(VCSDK::GetLiveViewImage(h, &block), 0u);
  EXPECT_EQ(block.GetImageData(), buffer.data() + 24);
  ASSERT_EQ(block.GetImageSize(), 40u);
  EXPECT_EQ(std::vector<std::uint8_t>(block.GetImageData(), block.GetImageData() + 40),
            step.picture);
  EXPECT_NE(buffer[0], 0xFF);  // the buffer's start is not the picture

  // A block too small for offset + picture is refused, never overrun.
  std::vector<std::uint8_t> small(50);
  block.SetSize(50);
  block.SetData(small.data());
  EXPECT_EQ(VCSDK::GetLiveViewImage(h, &block), VCSDK::VcError_LiveViewBufferTooSmall);
}

TEST_F(FakeSdkTest, LiveViewStepsAreConsumedPerInfoRequest) {
  auto& f = fake::sdk();
  std::int64_t h = connect();
  fake::LiveViewStep failInfo;
  failInfo.infoCode = 0x8401;
  fake::LiveViewStep emptyPicture;
  emptyPicture.bufferSize = 32;
  fake::LiveViewStep badImage;
  badImage.imageCode = 0x8403;
  badImage.picture = fake::jpegBytes(8);
  f.queueLiveView({failInfo, emptyPicture, badImage});

  VCSDK::VcImageInfo info;
  EXPECT_EQ(VCSDK::GetLiveViewImageInfo(h, &info), 0x8401u);
  ASSERT_EQ(VCSDK::GetLiveViewImageInfo(h, &info), 0u);
  EXPECT_EQ(info.GetBufferSize(), 32u);
  std::vector<std::uint8_t> buffer(32);
  VCSDK::VcImageDataBlock block;
  block.SetSize(32);
  block.SetData(buffer.data());
  ASSERT_EQ(VCSDK::GetLiveViewImage(h, &block), 0u);
  EXPECT_EQ(block.GetImageSize(), 0u);
  ASSERT_EQ(VCSDK::GetLiveViewImageInfo(h, &info), 0u);
  EXPECT_EQ(VCSDK::GetLiveViewImage(h, &block), 0x8403u);
  // Queue used up: the default step delivers a picture again.
  ASSERT_EQ(VCSDK::GetLiveViewImageInfo(h, &info), 0u);
  std::vector<std::uint8_t> big(info.GetBufferSize());
  block.SetSize(info.GetBufferSize());
  block.SetData(big.data());
  ASSERT_EQ(VCSDK::GetLiveViewImage(h, &block), 0u);
  EXPECT_GT(block.GetImageSize(), 0u);
}

TEST_F(FakeSdkTest, CallbacksArriveOnAnotherThreadInDueOrderAndStopAtReleaseDevice) {
  auto& f = fake::sdk();
  f.onConnect(fake::Event::connected(5));
  f.queueOnShutterRelease({fake::Event::download("late.jpg", 60), fake::Event::error(0x8301, 0)});
  std::int64_t h = connect();
  ASSERT_NE(h, 0);
  ASSERT_TRUE(f.drain());
  EXPECT_EQ(cb.connected.load(), 1);

  VCSDK::SendCommand(h, 7, 1);  // press: no event
  VCSDK::SendCommand(h, 7, 0);  // release: download after 60 ms
  VCSDK::SendCommand(h, 7, 0);  // release: error at once, before the download
  std::thread::id callbackThread;
  f.fire(h, [&](VCSDK::IDeviceCallback&) { callbackThread = std::this_thread::get_id(); });
  ASSERT_TRUE(f.drain());
  EXPECT_EQ(cb.error.load(), 0x8301u);
  EXPECT_EQ(cb.downloads.load(), 1);
  EXPECT_EQ(cb.lastFile, "late.jpg");
  EXPECT_NE(callbackThread, std::this_thread::get_id());

  // Events still pending at ReleaseDevice never reach the callback.
  f.fire(h, fake::Event::download("never.jpg", 30));
  VCSDK::Disconnect(h);
  VCSDK::ReleaseDevice(h);
  ASSERT_TRUE(f.drain());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(cb.downloads.load(), 1);
  EXPECT_EQ(VCSDK::SendCommand(h, 7, 0), VCSDK::VcError_InvalidHandle);
}

TEST_F(FakeSdkTest, ReleaseDeviceWaitsForTheCallbackUnderWay) {
  auto& f = fake::sdk();
  f.onConnect(fake::Event::none());
  std::int64_t h = connect();
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  f.fire(h, [&](VCSDK::IDeviceCallback&) {
    started = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    finished = true;
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  VCSDK::ReleaseDevice(h);
  // The caller may destroy its callback object now: nothing may still run.
  EXPECT_TRUE(finished.load());
}

TEST_F(FakeSdkTest, ListOwnedInfosAndPropertyArraysAreTracked) {
  auto& f = fake::sdk();
  f.setCameras({fake::camera("SB_A4", "Ethernet", "127.0.5.1"), fake::nullCamera()});
  VCSDK::IVcEnumCameraObjectInfo* list = nullptr;
  ASSERT_EQ(VCSDK::EnumCameraObjects(&list, 3), 0u);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->GetCount(), 2u);
  EXPECT_EQ(list->GetCameraObjectInfo(1), nullptr);
  EXPECT_EQ(list->GetCameraObjectInfo(2), nullptr);
  VCSDK::IVcCameraObjectInfo* info = list->GetCameraObjectInfo(0);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->GetIpAddressChar(), "127.0.5.1");
  info->Release();  // a list-owned info must not be released by the caller
  list->Release();
  list->GetCount();
  auto life = f.lifetimes();
  EXPECT_EQ(life.listInfoReleases, 1);
  EXPECT_EQ(life.listsReleased, 1);
  EXPECT_EQ(life.useAfterRelease, 1);

  std::int64_t h = connect();
  f.setProperties({{0x0104, 100}, {0x0104, 200}});
  VCSDK::VcDeviceProperty* props = nullptr;
  std::int32_t n = -1;
  std::uint32_t codes[2] = {0x0104, 0x0702};
  ASSERT_EQ(VCSDK::GetSelectDeviceProperties(h, 2, codes, &props, &n), 0u);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(props[1].GetCurrentValue(), 200u);
  EXPECT_EQ(f.last("GetSelectDeviceProperties").codes,
            (std::vector<std::uint32_t>{0x0104, 0x0702}));
  VCSDK::ReleaseDeviceProperties(h, props);
  VCSDK::ReleaseDeviceProperties(h, props);
  life = f.lifetimes();
  EXPECT_EQ(life.arraysCreated, 1);
  EXPECT_EQ(life.arraysReleased, 1);
  EXPECT_EQ(life.badArrayReleases, 1);
}

}  // namespace
