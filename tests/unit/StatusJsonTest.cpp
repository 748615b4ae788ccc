// The settings object of the status read-out, byte for byte, from the
// property values a camera may report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/CameraController.h"
#include "camera/CameraStatus.h"

namespace {

using VCSDK::VcDeviceProperty;

const std::string D = "\xE2\x80\x94";  // em dash

VcDeviceProperty prop(std::uint32_t code, std::uint64_t value) {
  VcDeviceProperty p;
  p.SetCode(code);
  p.SetCurrentValue(value);
  return p;
}

std::string json(const std::vector<VcDeviceProperty>& props) {
  return statusJsonFromProperties(props.data(), static_cast<std::int32_t>(props.size()));
}

std::string object(const std::string& iso, const std::string& fnumber, const std::string& shutter,
                   const std::string& ev, const std::string& mode, const std::string& focus,
                   const std::string& wb, const std::string& kelvin, const std::string& battery) {
  return "{\"iso\":\"" + iso + "\",\"fnumber\":\"" + fnumber + "\",\"shutter\":\"" + shutter +
         "\",\"ev\":\"" + ev + "\",\"mode\":\"" + mode + "\",\"focus\":\"" + focus +
         "\",\"wb\":\"" + wb + "\",\"kelvin\":\"" + kelvin + "\",\"battery\":" + battery + "}";
}

// The member text that one property value gives; the other members stay
// missing, which the expected object checks as well.
struct MemberCase {
  std::uint32_t code;
  std::uint64_t value;
  const char* text;
};

std::string expectedWith(std::uint32_t code, const std::string& text) {
  std::string m[9] = {D, D, D, D, D, D, D, D, "-1"};
  const std::uint32_t order[9] = {0x0104, 0x0100, 0x0103, 0x0101, 0x0105,
                                  0x0109, 0x0108, 0x0115, 0x0702};
  for (int i = 0; i < 9; ++i) {
    if (order[i] == code) m[i] = text;
  }
  return object(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
}

TEST(StatusJsonTest, EachMemberFromItsPropertyValue) {
  const MemberCase cases[] = {
      {0x0104, 0x00FFFFFF, "AUTO"},
      {0x0104, 0x10FFFFFF, "AUTO"},  // only the low 24 bits count
      {0x0104, 0x01000064, "100"},
      {0x0104, 800, "800"},
      {0x0100, 280, "f/2.8"},
      {0x0100, 140, "f/1.4"},
      {0x0100, 0xFFEF, "f/655.2"},
      {0x0100, 0xFFF0, "\xE2\x80\x94"},
      {0x0100, 0xFFFF, "\xE2\x80\x94"},
      {0x0103, 0x00010FA0, "1/4000"},
      {0x0103, 0x001E0001, "30\\\""},  // whole seconds: escaped quotation mark
      {0x0103, 0x000D000A, "13/10"},
      {0x0103, 0, "BULB"},
      {0x0103, 0x00000005, "0/5"},
      {0x0103, 0xFFFF00010FA0ull, "1/4000"},  // bits above 32 ignored
      {0x0101, 0xFED4, "-0.3"},
      {0x0101, 0, "+0.0"},
      {0x0101, 0x0BB8, "+3.0"},
      {0x0101, 0x1234FED4, "-0.3"},  // only the low 16 bits, as signed
      {0x0105, 1, "M"},
      {0x0105, 4, "S"},
      {0x0105, 0x8000, "Auto"},
      {0x0105, 0x8001, "Auto+"},
      {0x0105, 0x20, "\xE2\x80\x94"},
      {0x0109, 1, "MF"},
      {0x0109, 3, "AF-C"},
      {0x0109, 7, "PF"},
      {0x0109, 8, "\xE2\x80\x94"},
      {0x0108, 0, "Auto"},
      {0x0108, 0x14, "Tungsten"},
      {0x0108, 0x100, "Kelvin"},
      {0x0108, 0x20, "Outro"},
      {0x0115, 5600, "5600K"},
      {0x0115, 0, "\xE2\x80\x94"},
      {0x0702, 87, "87"},
      {0x0702, 0, "0"},
      {0x0702, static_cast<std::uint64_t>(-5), "-5"},
  };
  for (const MemberCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << "code 0x" << c.code << " value 0x" << c.value);
    EXPECT_EQ(json({prop(c.code, c.value)}), expectedWith(c.code, c.text));
  }
}

TEST(StatusJsonTest, NothingReportedGivesAllMissing) {
  const std::string none = object(D, D, D, D, D, D, D, D, "-1");
  EXPECT_EQ(json({}), none);
  EXPECT_EQ(statusJsonFromProperties(nullptr, 5), none);
  // An unrelated code (the live-view status is asked for but not shown).
  EXPECT_EQ(json({prop(0x01C5, 1), prop(0x9999, 7)}), none);
}

TEST(StatusJsonTest, FullCameraInRequestOrderAndFirstDuplicateWins) {
  const std::vector<VcDeviceProperty> props = {
      prop(0x0702, 64),  prop(0x0115, 5600),   prop(0x0108, 0x11),       prop(0x0109, 2),
      prop(0x0105, 3),   prop(0x0101, 0xFD44), prop(0x0103, 0x0001007D), prop(0x0100, 560),
      prop(0x0104, 400), prop(0x0104, 3200),   prop(0x01C5, 1)};
  EXPECT_EQ(json(props),
            "{\"iso\":\"400\",\"fnumber\":\"f/5.6\",\"shutter\":\"1/125\",\"ev\":\"-0.7\","
            "\"mode\":\"A\",\"focus\":\"AF-S\",\"wb\":\"Daylight\",\"kelvin\":\"5600K\","
            "\"battery\":64}");
}

TEST(StatusJsonTest, CountBoundsTheLookup) {
  // An entry past the reported count is not part of the answer.
  const std::vector<VcDeviceProperty> props = {prop(0x0104, 100), prop(0x0100, 280)};
  EXPECT_EQ(statusJsonFromProperties(props.data(), 1), expectedWith(0x0104, "100"));
}

TEST(StatusJsonTest, NoCameraGivesEmptyObject) {
  CameraController controller;
  EXPECT_EQ(controller.getPropertiesJson(), "{}");
}

}  // namespace
