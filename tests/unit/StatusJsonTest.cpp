// The settings read-out, byte for byte as "/properties" sends it, from the
// property values a camera may report: settingsFromProperties (camera layer)
// then settingsJson (server).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CameraTestHarness.h"
#include "camera/CameraController.h"
#include "camera/CameraStatus.h"
#include "server/routes/SettingsJson.h"

namespace {

using VCSDK::VcDeviceProperty;

const std::string D = "\xE2\x80\x94";  // em dash

VcDeviceProperty prop(std::uint32_t code, std::uint64_t value) {
  VcDeviceProperty p;
  p.SetCode(code);
  p.SetCurrentValue(value);
  return p;
}

CameraSettings settings(const std::vector<VcDeviceProperty>& props) {
  return settingsFromProperties(props.data(), static_cast<std::int32_t>(props.size()));
}

std::string json(const std::vector<VcDeviceProperty>& props) {
  return settingsJson(settings(props));
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
      {0x0103, 0x000A000D, "10/13"},          // a fraction that is not 1/x
      {0x0103, 0x00010001, "1/1"},            // 1/x wins over whole seconds
      {0x0103, 0xFFFF00010FA0ull, "1/4000"},  // bits above 32 ignored
      {0x0101, 0xFED4, "-0.3"},
      {0x0101, 0, "+0.0"},
      {0x0101, 0x0BB8, "+3.0"},
      {0x0101, 0x1234FED4, "-0.3"},  // only the low 16 bits, as signed
      {0x0105, 1, "M"},
      {0x0105, 2, "P"},
      {0x0105, 3, "A"},
      {0x0105, 4, "S"},
      {0x0105, 0x8000, "Auto"},
      {0x0105, 0x8001, "Auto+"},
      {0x0105, 0x20, "\xE2\x80\x94"},
      {0x0105, 0, "\xE2\x80\x94"},
      {0x0105, 0x100000001ull, "\xE2\x80\x94"},  // not cut to 32 bits: no program
      {0x0109, 1, "MF"},
      {0x0109, 2, "AF-S"},
      {0x0109, 3, "AF-C"},
      {0x0109, 4, "AF-A"},
      {0x0109, 5, "AF-D"},
      {0x0109, 6, "DMF"},
      {0x0109, 7, "PF"},
      {0x0109, 8, "\xE2\x80\x94"},
      {0x0109, 0, "\xE2\x80\x94"},
      {0x0108, 0, "Auto"},
      {0x0108, 0x11, "Daylight"},
      {0x0108, 0x12, "Shade"},
      {0x0108, 0x13, "Cloudy"},
      {0x0108, 0x14, "Tungsten"},
      {0x0108, 0x100, "Kelvin"},
      {0x0108, 0x20, "Outro"},
      {0x0115, 5600, "5600K"},
      {0x0115, 0, "\xE2\x80\x94"},
      {0x0115, 0xFFFFFFFF, "4294967295K"},  // the largest kelvin still fits
      {0x0115, 0x100001F40ull, "8000K"},    // bits above 32 ignored
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
  EXPECT_EQ(settingsJson(settingsFromProperties(nullptr, 5)), none);
  // An unrelated code (the live-view status is asked for but not shown).
  EXPECT_EQ(json({prop(0x01C5, 1), prop(0x9999, 7)}), none);
}

TEST(StatusJsonTest, SettingsCarryPlainTextsThatOnlyTheJsonEscapes) {
  const CameraSettings none = settings({});
  for (const std::string& text : {none.iso, none.fnumber, none.shutter, none.ev, none.mode,
                                  none.focus, none.wb, none.kelvin}) {
    EXPECT_EQ(text, D);
  }
  EXPECT_EQ(none.battery, -1);

  CameraSettings s = settings({prop(0x0103, 0x001E0001)});
  EXPECT_EQ(s.shutter, "30\"");
  // Whatever a text holds, the body stays valid JSON.
  s.wb = "a\\b\"c\n";
  EXPECT_NE(settingsJson(s).find("\"wb\":\"a\\\\b\\\"c\\n\""), std::string::npos)
      << settingsJson(s);
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
  EXPECT_EQ(settingsJson(settingsFromProperties(props.data(), 1)), expectedWith(0x0104, "100"));
}

TEST(StatusJsonTest, NoCameraGivesEmptyObject) {
  CameraController controller;
  EXPECT_FALSE(controller.readSettings().has_value());
  EXPECT_EQ(settingsJson(controller.readSettings()), "{}");
  EXPECT_EQ(settingsJson(std::nullopt), "{}");
}

class ReadSettingsTest : public CameraTest {};

TEST_F(ReadSettingsTest, OneRequestReleasedOnceOrNothingWhenTheCameraFails) {
  CameraController controller;
  connect(controller);
  fake::sdk().setProperties({{0x0104, 400}, {0x0702, 55}});
  const std::optional<CameraSettings> read = controller.readSettings();
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->iso, "400");
  EXPECT_EQ(read->battery, 55);
  EXPECT_EQ(fake::sdk().count("GetSelectDeviceProperties"), 1);
  EXPECT_EQ(fake::sdk().lifetimes().arraysReleased, 1);
  EXPECT_EQ(fake::sdk().lifetimes().badArrayReleases, 0);

  fake::sdk().setResult("GetSelectDeviceProperties", VCSDK::VcError_NotConnected);
  EXPECT_FALSE(controller.readSettings().has_value());
  fake::sdk().setResult("GetSelectDeviceProperties", 0);
  fake::sdk().setPropertiesNullArray(true);
  EXPECT_FALSE(controller.readSettings().has_value());
  EXPECT_EQ(fake::sdk().lifetimes().badArrayReleases, 0);
}

}  // namespace
