// Live view through the stand-in SDK: the picture's place in the caller's
// buffer, the live-view faults, concurrent grabs, and a picture that obeys
// the body's settings. Addresses 127.0.13.x.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "SdkTestSupport.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;

namespace {

class SdkLiveView : public SdkTest {};

// Mean RGB of a fresh live-view picture.
bool frameMean(std::int64_t h, double mean[3], std::vector<std::uint8_t>* rgbOut = nullptr) {
  std::string jpeg;
  if (grabFrame(h, jpeg) != 0 || jpeg.empty()) return false;
  std::vector<std::uint8_t> rgb;
  int w = 0, hh = 0;
  if (!decodeJpeg(jpeg, rgb, w, hh)) return false;
  meanRgb(rgb, mean);
  if (rgbOut) *rgbOut = rgb;
  return true;
}

double luma(const double m[3]) { return 0.299 * m[0] + 0.587 * m[1] + 0.114 * m[2]; }

}  // namespace

TEST_F(SdkLiveView, PictureSitsAtAnOffsetInsideTheCallersBuffer) {
  VcamOptions o;
  o.ip = "127.0.13.1";
  o.lvSize = "640x424";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));

  VcImageInfo info;
  ASSERT_EQ(0u, GetLiveViewImageInfo(link.handle, &info));
  ASSERT_GT(info.GetBufferSize(), 1000u);
  std::vector<std::uint8_t> buffer(info.GetBufferSize());
  VcImageDataBlock block;
  block.SetSize(static_cast<std::uint32_t>(buffer.size()));
  block.SetData(buffer.data());
  ASSERT_EQ(0u, GetLiveViewImage(link.handle, &block));
  ASSERT_GT(block.GetImageData(), buffer.data()) << "the picture must not start the buffer";
  ASSERT_LE(block.GetImageData() + block.GetImageSize(), buffer.data() + buffer.size());
  EXPECT_NE(0xFF, buffer[0]);
  EXPECT_EQ(0xFF, block.GetImageData()[0]);
  EXPECT_EQ(0xD8, block.GetImageData()[1]);
  EXPECT_EQ(0xD9, block.GetImageData()[block.GetImageSize() - 1]);
  EXPECT_GT(block.GetFrameNo(), 0u);
  std::vector<std::uint8_t> rgb;
  int w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(block.GetImageData(), block.GetImageSize(), rgb, w, h));
  EXPECT_EQ(640, w);
  EXPECT_EQ(424, h);

  // One byte short of the size the info call gave: refused, then the same
  // picture fits a big enough buffer.
  ASSERT_EQ(0u, GetLiveViewImageInfo(link.handle, &info));
  std::vector<std::uint8_t> small(info.GetBufferSize() - 1);
  block.SetSize(static_cast<std::uint32_t>(small.size()));
  block.SetData(small.data());
  EXPECT_EQ(unsigned(VcError_LiveViewBufferTooSmall), GetLiveViewImage(link.handle, &block));
  buffer.assign(info.GetBufferSize(), 0);
  block.SetSize(static_cast<std::uint32_t>(buffer.size()));
  block.SetData(buffer.data());
  EXPECT_EQ(0u, GetLiveViewImage(link.handle, &block));
  EXPECT_EQ(2, cam->state()["lv_frames"]);  // two info calls, two pictures served
}

TEST_F(SdkLiveView, FaultsFailTheRightCall) {
  VcamOptions o;
  o.ip = "127.0.13.2";
  o.lvSize = "320x212";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));

  VcImageInfo info;
  ASSERT_TRUE(cam->fault("lv-error", {{"code", "0x8401"}}));
  EXPECT_EQ(0x8401u, GetLiveViewImageInfo(link.handle, &info));

  ASSERT_TRUE(cam->fault("clear"));
  ASSERT_TRUE(cam->fault("lv-image-error", {{"code", "0x8403"}}));
  std::string jpeg;
  EXPECT_EQ(0x8403u, grabFrame(link.handle, jpeg));

  ASSERT_TRUE(cam->fault("clear"));
  ASSERT_TRUE(cam->fault("lv-empty", {{"count", "1"}}));
  EXPECT_EQ(0u, grabFrame(link.handle, jpeg));
  EXPECT_TRUE(jpeg.empty());
  // count=1: the next picture comes again.
  EXPECT_EQ(0u, grabFrame(link.handle, jpeg));
  EXPECT_FALSE(jpeg.empty());
}

TEST_F(SdkLiveView, GrabsFromSeveralThreadsWhileCommandsRun) {
  VcamOptions o;
  o.ip = "127.0.13.3";
  o.lvSize = "320x212";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));

  std::atomic<int> good{0}, bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        std::string jpeg;
        std::vector<std::uint8_t> rgb;
        int w = 0, h = 0;
        if (grabFrame(link.handle, jpeg) == 0 && decodeJpeg(jpeg, rgb, w, h) && w == 320)
          ++good;
        else
          ++bad;
      }
    });
  // Property traffic on the same camera at the same time.
  const std::uint32_t isos[] = {100, 200, 400, 800};
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(0u, setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32,
                              isos[i % 4]));
  for (auto& t : threads) t.join();
  EXPECT_EQ(80, good.load());
  EXPECT_EQ(0, bad.load());
}

TEST_F(SdkLiveView, PictureFollowsExposureWhiteBalanceAndTime) {
  VcamOptions o;
  o.ip = "127.0.13.4";
  o.lvSize = "320x212";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  const std::int64_t h = link.handle;

  double base[3], m[3];
  ASSERT_TRUE(frameMean(h, base));
  struct Step {
    const char* name;
    std::uint32_t code;
    VcDataType type;
    std::uint64_t value;
    int direction;  // +1 brighter than the metered base, -1 darker
  } steps[] = {
      {"iso 400", VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 400, +1},
      {"iso 25600", VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 25600, +1},
      {"iso 50", VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 50, -1},
      {"f/16", VcDeviceProperty_FNumber, VcDataType_UInt16, 1600, -1},
      {"1/30 s", VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x0001001E, +1},
      {"-2 EV", VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 0xF830, -1},
      {"+1.7 EV", VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 1700, +1},
  };
  // Each step alone, from the default settings (what the camera starts with).
  const std::map<std::uint32_t, std::uint64_t> defaults = {
      {VcDeviceProperty_IsoSensitivity, 100},
      {VcDeviceProperty_FNumber, 560},
      {VcDeviceProperty_ShutterSpeed, 0x0001007D},
      {VcDeviceProperty_ExposureBiasCompensation, 0}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    ASSERT_EQ(0u, setProperty(h, s.code, s.type, s.value));
    ASSERT_TRUE(frameMean(h, m));
    if (s.direction > 0) {
      EXPECT_GT(luma(m), luma(base) + 10);
    } else {
      EXPECT_LT(luma(m), luma(base) - 10);
    }
    ASSERT_EQ(0u, setProperty(h, s.code, s.type, defaults.at(s.code)));
  }

  // White balance set for tungsten in daylight turns the picture blue;
  // kelvin 9000 turns it warm.
  ASSERT_EQ(0u, setProperty(h, VcDeviceProperty_WhiteBalance, VcDataType_UInt16, 0x14));
  ASSERT_TRUE(frameMean(h, m));
  EXPECT_GT(m[2] - m[0], base[2] - base[0] + 15);
  ASSERT_EQ(0u, setProperty(h, VcDeviceProperty_ColorTemperature, VcDataType_UInt16, 9000));
  ASSERT_EQ(0u, setProperty(h, VcDeviceProperty_WhiteBalance, VcDataType_UInt16, 0x100));
  ASSERT_TRUE(frameMean(h, m));
  EXPECT_GT(m[0] - m[2], base[0] - base[2] + 15);

  // Something moves: frames a moment apart differ.
  std::vector<std::uint8_t> a, b;
  ASSERT_TRUE(frameMean(h, m, &a));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_TRUE(frameMean(h, m, &b));
  EXPECT_GT(meanAbsDiff(a, b), 0.05);
}
