// A still's EXIF as the virtual camera writes it, read back by an
// independent reader (exiftool) and by the program's summary reader, which
// must agree; and the summary reader on heads that are cut or broken.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "CaptureTestPictures.h"
#include "camera/ExifSummary.h"
#include "vcam/Renderer.h"
#include "vcam/Scene.h"
#include "vcam/StillExif.h"

namespace {

using capturetest::TempFolder;

std::string run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// Local time must be the camera's zone, not UTC: the test runs three hours
// west of Greenwich.
class WestOfGreenwich {
 public:
  WestOfGreenwich() {
    const char* tz = std::getenv("TZ");
    if (tz) saved_ = tz;
    ::setenv("TZ", "<-03>3", 1);
    ::tzset();
  }
  ~WestOfGreenwich() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

constexpr std::time_t kShot = 1714572202;  // 2024-05-01 14:03:22 UTC

struct Case {
  vcam::StillExif fields;
  std::optional<double> exposureTime;  // what exiftool -n reads
  double fnumber;
  int iso;       // PhotographicSensitivity (16 bits)
  int isoSpeed;  // the full value
  double bias;
  int whiteBalance;
  std::optional<std::string> shutterText;  // what the console shows
};

vcam::StillExif fields(const char* model, std::uint32_t iso, std::uint32_t fnumber,
                       std::uint32_t shutter, int ev, bool autoWb) {
  vcam::StillExif f;
  f.model = model;
  f.taken = kShot;
  f.iso = iso;
  f.fnumber = fnumber;
  f.shutter = shutter;
  f.ev = ev;
  f.autoWhiteBalance = autoWb;
  return f;
}

TEST(ExifStill, ExiftoolReadsBackEveryFieldOfRenderedStills) {
  ASSERT_FALSE(run("command -v exiftool").empty()) << "exiftool missing: run make deps";
  WestOfGreenwich zone;
  vcam::Scene scene;
  vcam::Renderer renderer(scene, 1024, 680, 3000, 2000, false, "SB_A4");
  const std::vector<std::uint8_t> still = renderer.still(vcam::ViewParams{});
  ASSERT_FALSE(still.empty());

  const std::vector<Case> cases = {
      {fields("SB_A4", 100, 560, 0x100FA, -700, true), 0.004, 5.6, 100, 100, -0.7, 0, "1/250"},
      {fields("SB_B2", 102400, 1600, 0x20001, 1000, false), 2.0, 16, 65535, 102400, 1.0, 1, "2\""},
      {fields("SB_A4", 3200, 710, 0xD000A, 333, false), 1.3, 7.1, 3200, 3200, 0.333, 1, "13/10"},
      {fields("SB_A4", 800, 2200, 0, 0, true), std::nullopt, 22, 800, 800, 0.0, 0, std::nullopt},
  };
  TempFolder dir;
  std::string names;
  std::vector<std::vector<std::uint8_t>> written;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::vector<std::uint8_t> jpeg = still;
    ASSERT_TRUE(vcam::addStillExif(jpeg, cases[i].fields)) << i;
    capturetest::writeFile(dir / (std::to_string(i) + ".jpg"), jpeg);
    names += " '" + (dir / (std::to_string(i) + ".jpg")) + "'";
    written.push_back(std::move(jpeg));
  }
  const nlohmann::json all =
      nlohmann::json::parse(run("exiftool -j -n -q" + names + " 2>&1"), nullptr, false);
  ASSERT_TRUE(all.is_array() && all.size() == cases.size()) << all.dump();

  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    const nlohmann::json& t = all[i];
    EXPECT_FALSE(t.contains("Warning")) << t.value("Warning", "");
    EXPECT_EQ(t.value("Make", ""), "KAMORA");
    EXPECT_EQ(t.value("Model", ""), c.fields.model);
    EXPECT_EQ(t.value("DateTimeOriginal", ""), "2024:05:01 11:03:22");
    if (c.exposureTime) {
      EXPECT_NEAR(t.value("ExposureTime", -1.0), *c.exposureTime, 1e-9);
    } else {
      EXPECT_FALSE(t.contains("ExposureTime"));  // BULB has no set time
    }
    EXPECT_NEAR(t.value("FNumber", -1.0), c.fnumber, 1e-9);
    EXPECT_EQ(t.value("ISO", -1), c.iso);
    EXPECT_EQ(t.value("ISOSpeed", -1), c.isoSpeed);
    EXPECT_NEAR(t.value("ExposureCompensation", -99.0), c.bias, 1e-9);
    EXPECT_EQ(t.value("WhiteBalance", -1), c.whiteBalance);
    EXPECT_EQ(t.value("ColorSpace", -1), 1);
    EXPECT_EQ(t.value("Orientation", -1), 1);
    EXPECT_EQ(t.value("ExifImageWidth", -1), 3000);
    EXPECT_EQ(t.value("ExifImageHeight", -1), 2000);
    EXPECT_EQ(t.value("ImageWidth", -1), 3000);  // the picture itself survived
    EXPECT_EQ(t.value("ImageHeight", -1), 2000);
    EXPECT_GT(t.value("ThumbnailLength", 0), 0);

    // The program's reader, from the head of the file only, says the same.
    const std::vector<std::uint8_t>& jpeg = written[i];
    const ExifSummary s = readExifSummary(jpeg.data(), std::min(jpeg.size(), kExifHeadFirst));
    EXPECT_EQ(s.model, c.fields.model);
    EXPECT_EQ(s.iso, static_cast<std::uint32_t>(c.isoSpeed));
    ASSERT_TRUE(s.fnumber && s.ev);
    EXPECT_NEAR(*s.fnumber, c.fnumber, 1e-9);
    EXPECT_NEAR(*s.ev, c.bias, 1e-9);
    EXPECT_EQ(s.shutter, c.shutterText);
    EXPECT_EQ(s.taken, "2024-05-01T11:03:22");
    EXPECT_EQ(s.width, 3000u);
    EXPECT_EQ(s.height, 2000u);
  }

  // Another writer's block, in the other byte order, reads the same.
  run("exiftool -q -all= -tagsfromfile @ -all:all -unsafe -ExifByteOrder=MM -o '" +
      (dir / "mm.jpg") + "' '" + (dir / "1.jpg") + "'");
  std::ifstream mm(dir / "mm.jpg", std::ios::binary);
  const std::vector<std::uint8_t> head((std::istreambuf_iterator<char>(mm)), {});
  ASSERT_GT(head.size(), 100u);
  ASSERT_EQ(std::string(head.begin() + 12, head.begin() + 14), "MM");
  const ExifSummary other = readExifSummary(head.data(), std::min(head.size(), kExifHeadFirst));
  EXPECT_EQ(other.iso, 102400u);
  EXPECT_EQ(other.shutter, "2\"");
  EXPECT_EQ(other.fnumber, 16.0);
  EXPECT_EQ(other.ev, 1.0);
  EXPECT_EQ(other.model, "SB_B2");
  EXPECT_EQ(other.taken, "2024-05-01T11:03:22");

  // The embedded thumbnail is a JPEG 160 px wide in the still's aspect.
  const std::string thumb = run("exiftool -b -ThumbnailImage '" + (dir / "0.jpg") + "'");
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, sub = 0, cs = 0;
  EXPECT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(thumb.data()),
                                static_cast<unsigned long>(thumb.size()), &w, &h, &sub, &cs),
            0);
  tjDestroy(tj);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 107);
}

TEST(ExifStill, AutoIsoWritesTheIsoTheBodyMetered) {
  vcam::Settings s;
  s.iso = VCSDK::VcIsoAuto;
  s.fnumber = 1100;     // two stops down from f/5.6
  s.shutter = 0x101F4;  // 1/500: two stops faster than 1/125
  s.ev = -300;          // compensation is the photographer's, not the meter's
  const vcam::StillExif f = vcam::stillExifFor(s, "SB_A4", kShot);
  EXPECT_EQ(f.iso, 1600u);  // four stops over the metered base of ISO 100
  EXPECT_EQ(f.ev, -300);

  s.iso = 400;
  EXPECT_EQ(vcam::stillExifFor(s, "SB_A4", kShot).iso, 400u);
}

TEST(ExifSummaryRead, CutOrBrokenHeadsLeaveFieldsOutNeverWrong) {
  vcam::StillExif f = fields("SB_A4", 400, 560, 0x1007D, -700, true);
  const std::vector<std::uint8_t> good = capturetest::stillWithExif(f, 640, 480);
  ASSERT_FALSE(good.empty());
  const ExifSummary whole = readExifSummary(good.data(), good.size());
  ASSERT_TRUE(whole.iso && whole.model && whole.width);

  // Every cut of the head: a field is either absent or its true value.
  for (std::size_t n = 0; n < std::min<std::size_t>(good.size(), 8192); ++n) {
    bool truncated = false;
    const ExifSummary s = readExifSummary(good.data(), n, &truncated);
    EXPECT_TRUE(!s.iso || s.iso == whole.iso) << n;
    EXPECT_TRUE(!s.shutter || s.shutter == whole.shutter) << n;
    EXPECT_TRUE(!s.model || s.model == whole.model) << n;
    EXPECT_TRUE(!s.width || s.width == whole.width) << n;
    EXPECT_TRUE(s.width || truncated || n < 2) << n;  // a longer head would say more
  }

  // No EXIF at all: the frame header still gives the size.
  const std::vector<std::uint8_t> plain = capturetest::plainJpeg(64, 48);
  const ExifSummary bare = readExifSummary(plain.data(), plain.size());
  EXPECT_FALSE(bare.iso || bare.fnumber || bare.shutter || bare.ev || bare.model || bare.taken);
  EXPECT_EQ(bare.width, 64u);
  EXPECT_EQ(bare.height, 48u);

  // An EXIF segment whose TIFF structure is garbage, and bytes that are no
  // JPEG at all.
  std::vector<std::uint8_t> broken = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x18, 'E',  'x',  'i',  'f',
                                      0,    0,    'I',  'I',  42,   0,    0xFF, 0xFF, 0xFF, 0x7F};
  broken.resize(2 + 2 + 0x18, 0xEE);
  broken.insert(broken.end(), plain.begin() + 2, plain.end());
  const ExifSummary b = readExifSummary(broken.data(), broken.size());
  EXPECT_FALSE(b.iso || b.fnumber || b.shutter || b.ev || b.model || b.taken);
  EXPECT_EQ(b.width, 64u);
  const std::string text = "not a picture";
  const ExifSummary none =
      readExifSummary(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_FALSE(none.iso || none.width || none.model);
}

}  // namespace
