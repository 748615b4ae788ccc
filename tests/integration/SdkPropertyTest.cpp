// Properties through the stand-in SDK: the body takes only the values it
// offers, reads back what it holds, and reports accepted changes.
// Addresses 127.0.11.x.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "SdkTestSupport.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;

namespace {

class SdkProperty : public SdkTest {};

std::map<std::uint32_t, std::uint64_t> readAll(std::int64_t h, std::vector<std::uint32_t> codes) {
  VcDeviceProperty* props = nullptr;
  std::int32_t n = -1;
  std::map<std::uint32_t, std::uint64_t> out;
  if (GetSelectDeviceProperties(h, static_cast<std::uint32_t>(codes.size()), codes.data(), &props,
                                &n) != 0)
    return out;
  for (std::int32_t i = 0; i < n; ++i) out[props[i].GetCode()] = props[i].GetCurrentValue();
  ReleaseDeviceProperties(h, props);
  return out;
}

}  // namespace

TEST_F(SdkProperty, BodyAcceptsOnlyTheValuesItOffers) {
  VcamOptions o;
  o.ip = "127.0.11.1";  // SB_A4: lens f/2.8 to f/22
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));

  struct Case {
    std::uint32_t code;
    VcDataType type;
    std::uint64_t value;
    VcStatus expect;
  } cases[] = {
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 100, 0},
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 102400, 0},
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, VcIsoAuto, 0},
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 110, VcError_PropertyInvalidValue},
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 204800, VcError_PropertyInvalidValue},
      {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 0, VcError_PropertyInvalidValue},
      {VcDeviceProperty_FNumber, VcDataType_UInt16, 280, 0},
      {VcDeviceProperty_FNumber, VcDataType_UInt16, 2200, 0},
      {VcDeviceProperty_FNumber, VcDataType_UInt16, 140,
       VcError_PropertyInvalidValue},  // not this lens
      {VcDeviceProperty_FNumber, VcDataType_UInt16, 285, VcError_PropertyInvalidValue},
      {VcDeviceProperty_FNumber, VcDataType_UInt16, 0, VcError_PropertyInvalidValue},
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x00010FA0, 0},  // 1/4000
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x001E0001, 0},  // 30"
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x00010002, 0},  // 1/2 is the body's 5/10
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, VcShutterBulb, 0},
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x00010000,
       VcError_PropertyInvalidValue},  // 1/0
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x00000001,
       VcError_PropertyInvalidValue},  // 0/1
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x00011F40 + 1,
       VcError_PropertyInvalidValue},
      {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x003C0001,
       VcError_PropertyInvalidValue},                                             // 60"
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 0xFED4, 0},  // -0.3
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 700, 0},
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 5000, 0},
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 0xEC78, 0},  // -5.0
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 330,
       VcError_PropertyInvalidValue},
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 5300,
       VcError_PropertyInvalidValue},
      {VcDeviceProperty_ExposureBiasCompensation, VcDataType_UInt16, 0x1FED4,
       VcError_PropertyInvalidValue},
      {VcDeviceProperty_ExposureProgramMode, VcDataType_UInt16, 0x8001, 0},
      {VcDeviceProperty_ExposureProgramMode, VcDataType_UInt16, 0x20, VcError_PropertyInvalidValue},
      {VcDeviceProperty_WhiteBalance, VcDataType_UInt16, 0x14, 0},
      {VcDeviceProperty_WhiteBalance, VcDataType_UInt16, 0x20, VcError_PropertyInvalidValue},
      {VcDeviceProperty_ColorTemperature, VcDataType_UInt16, 3200, 0},
      {VcDeviceProperty_ColorTemperature, VcDataType_UInt16, 3250, VcError_PropertyInvalidValue},
      {VcDeviceProperty_StillImageStoreDestination, VcDataType_UInt16, 3,
       VcError_PropertyInvalidValue},
      {VcDeviceProperty_PriorityKeySettings, VcDataType_UInt16, 2, 0},
      {VcDeviceProperty_BatteryRemain, VcDataType_UInt8, 50, VcError_PropertyRefused},
      {0x9999, VcDataType_UInt16, 1, VcError_PropertyUnsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << c.code << " value 0x" << c.value);
    std::uint64_t before = readAll(link.handle, {c.code})[c.code];
    EXPECT_EQ(c.expect, setProperty(link.handle, c.code, c.type, c.value));
    std::uint64_t after = readAll(link.handle, {c.code})[c.code];
    if (c.expect == 0 && c.code != VcDeviceProperty_ExposureBiasCompensation) {
      EXPECT_EQ(c.value, after);
    } else if (c.expect != 0) {
      EXPECT_EQ(before, after) << "a refused value must not change the body";
    }
  }
}

TEST_F(SdkProperty, ReadBackMatchesTheStatusEncodingsAndChangesAreReported) {
  VcamOptions o;
  o.ip = "127.0.11.2";
  o.model = "SB_X1";  // f/1.4 lens
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac, VcCameraModel_SB_X1));

  ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_FNumber, VcDataType_UInt16, 140));
  ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_ExposureBiasCompensation,
                            VcDataType_UInt16, 0xFED4));
  ASSERT_EQ(0u,
            setProperty(link.handle, VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, 0x000D000A));
  EXPECT_TRUE(link.callback.waitFor("property", 2000, 3));

  // The ten codes the status read-out asks for, plus one the body lacks.
  auto values = readAll(link.handle, {0x0104, 0x0100, 0x0103, 0x0101, 0x0105, 0x0109, 0x0108,
                                      0x0115, 0x01C5, 0x0702, 0x4242});
  EXPECT_EQ(10u, values.size());
  EXPECT_EQ(0u, values.count(0x4242));
  EXPECT_EQ(140u, values[0x0100]);
  EXPECT_EQ(0xFED4u, values[0x0101] & 0xFFFF);  // read back as the signed 16-bit pattern
  EXPECT_EQ(0x000D000Au, values[0x0103]);
  EXPECT_GE(values[0x0702], 1u);
  EXPECT_LE(values[0x0702], 100u);

  nlohmann::json s = cam->state();
  EXPECT_EQ(-300, s["ev"]);
  EXPECT_EQ(140, s["fnumber"]);
}

TEST_F(SdkProperty, RefusePropFaultReturnsItsCodeUntilCleared) {
  VcamOptions o;
  o.ip = "127.0.11.3";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  ASSERT_TRUE(cam->fault("refuse-prop", {{"prop", "0x0104"}, {"code", "0x8204"}}));
  EXPECT_EQ(0x8204u,
            setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 400));
  EXPECT_EQ(0u, setProperty(link.handle, VcDeviceProperty_FNumber, VcDataType_UInt16,
                            800));  // other codes pass
  EXPECT_EQ(100, cam->state()["iso"]);
  ASSERT_TRUE(cam->fault("clear"));
  EXPECT_EQ(0u, setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 400));
  EXPECT_EQ(400, cam->state()["iso"]);
  EXPECT_FALSE(cam->fault("no-such-fault"));
}

TEST_F(SdkProperty, CallsAfterAnIdlePauseStillReachTheCamera) {
  // The camera closes idle keep-alive connections after 2 s; the SDK must
  // not mistake a closed idle connection for a lost camera.
  VcamOptions o;
  o.ip = "127.0.11.4";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 200));
  std::this_thread::sleep_for(std::chrono::milliseconds(2600));
  for (std::uint32_t iso : {400u, 800u, 1600u})
    EXPECT_EQ(0u,
              setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, iso));
  EXPECT_EQ(0u, link.callback.count("disconnected"));
  EXPECT_EQ(1600, cam->state()["iso"]);
}
