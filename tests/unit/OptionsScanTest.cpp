// The option scan: which argument becomes which setting, with the standard
// conversions' readings of odd text, and the usage text byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "server/slot/LiveFeed.h"
#include "tests/support/ExpectedUsage.h"

namespace {

// Every field, so that a mismatch shows which setting went wrong.
std::string describe(const Options& o) {
  char text[512];
  const Exposure& e = o.exposure;
  std::snprintf(text, sizeof text,
                "ssh=%d window=%d user='%s' pass='%s' frames=%d shots=%d "
                "iso=%d:%u fnumber=%d:%g shutter=%d:%u/%u ev=%d:%g "
                "do='%s' pan=%d tilt=%d speed=%d num=%d host='%s' port=%d lvFps=%d rig='%s'",
                o.ssh, o.window, o.user.c_str(), o.pass.c_str(), o.frames, o.shots, e.hasIso, e.iso,
                e.hasFNumber, e.fNumber, e.hasShutter, e.shutterNum, e.shutterDen, e.hasEv, e.ev,
                o.action.c_str(), o.pan, o.tilt, o.speed, o.num, o.host.c_str(), o.port, o.lvFps,
                o.rigFile.c_str());
  return text;
}

struct ScanRow {
  const char* name;
  std::vector<const char*> args;  // argv after the program, mode, IP and MAC
  std::function<void(Options&)> expect;
};

const std::vector<ScanRow>& rows() {
  static const std::vector<ScanRow> kRows = {
      {"NothingGivenKeepsDefaults", {}, [](Options&) {}},
      {"EveryValueOption",
       {"--user", "ana",  "--pass", "s3",        "--frames", "25",  "--shots", "3",
        "--do",   "move", "--pan",  "-30",       "--tilt",   "12",  "--speed", "5",
        "--num",  "7",    "--host", "127.0.5.2", "--port",   "9090"},
       [](Options& o) {
         o.user = "ana";
         o.pass = "s3";
         o.frames = 25;
         o.shots = 3;
         o.action = "move";
         o.pan = -30;
         o.tilt = 12;
         o.speed = 5;
         o.num = 7;
         o.host = "127.0.5.2";
         o.port = 9090;
       }},
      {"FlagsSetAndCannotBeCleared",
       {"--ssh", "--window", "--ssh"},
       [](Options& o) {
         o.ssh = true;
         o.window = true;
       }},
      {"ValueIsTakenWhateverItLooksLike",
       {"--user", "--ssh", "--do", "--pan", "5"},
       [](Options& o) {
         o.user = "--ssh";
         o.action = "--pan";
       }},
      {"TrailingValueOptionHasNoEffect", {"--frames"}, [](Options&) {}},
      {"TrailingValueOptionAfterOthers",
       {"--shots", "4", "--port"},
       [](Options& o) { o.shots = 4; }},
      {"LaterOccurrenceWins",
       {"--shots", "2", "--shots", "5", "--host", "a", "--host", "b"},
       [](Options& o) {
         o.shots = 5;
         o.host = "b";
       }},
      {"UnknownAndNearMissArgumentsAreSkipped",
       {"--SSH", "--ssh=1", "foo", "-ssh", "--frames=3", "--user"},
       [](Options&) {}},
      {"NumbersReadLikeAtoi",
       {"--shots", "abc", "--port", " 81x", "--frames", "+7", "--pan", "-0x10", "--tilt", "",
        "--num", "70000"},
       [](Options& o) {
         o.shots = 0;
         o.port = 81;
         o.frames = 7;
         o.pan = 0;
         o.tilt = 0;
         o.num = 70000;
       }},
      {"ExposureValuesMarkPresence",
       {"--iso", "800", "--fnumber", "2.8", "--shutter", "1/250", "--ev", "-0.7"},
       [](Options& o) {
         o.exposure.hasIso = true;
         o.exposure.iso = 800;
         o.exposure.hasFNumber = true;
         o.exposure.fNumber = 2.8;
         o.exposure.hasShutter = true;
         o.exposure.shutterNum = 1;
         o.exposure.shutterDen = 250;
         o.exposure.hasEv = true;
         o.exposure.ev = -0.7;
       }},
      {"UnparsableExposureTextStillMarksPresence",
       {"--ev", "abc", "--fnumber", "f/4", "--shutter", "2", "--iso", "auto"},
       [](Options& o) {
         o.exposure.hasEv = true;
         o.exposure.hasFNumber = true;
         o.exposure.hasShutter = true;
         o.exposure.shutterNum = 2;
         o.exposure.shutterDen = 1;
         o.exposure.hasIso = true;
       }},
      {"IsoKeepsOnlyThirtyTwoBitsOfStrtoul",
       {"--iso", "4294967297"},
       [](Options& o) {
         o.exposure.hasIso = true;
         o.exposure.iso = 1;  // 2^32 + 1 on a 64-bit long
       }},
      {"LiveViewRateTakenWithinItsRange", {"--lv-fps", "12"}, [](Options& o) { o.lvFps = 12; }},
      // The command line never reports a bad number: out of range is clamped.
      {"LiveViewRateClampedSilently",
       {"--lv-fps", "0", "--lv-fps", "abc", "--frames", "3", "--lv-fps", "1000"},
       [](Options& o) {
         o.frames = 3;
         o.lvFps = 60;
       }},
      {"LiveViewRateBelowOneIsOne", {"--lv-fps", "-5"}, [](Options& o) { o.lvFps = 1; }},
      {"RigFileTakenAsGiven",
       {"--rig", "estudio.json"},
       [](Options& o) { o.rigFile = "estudio.json"; }},
      {"NegativeIsoWrapsLikeStrtoul",
       {"--iso", "-1"},
       [](Options& o) {
         o.exposure.hasIso = true;
         o.exposure.iso = 0xFFFFFFFFu;
       }},
  };
  return kRows;
}

class OptionsScanTest : public ::testing::TestWithParam<ScanRow> {};

TEST_P(OptionsScanTest, FillsTheExpectedSettings) {
  const ScanRow& row = GetParam();
  std::vector<const char*> argv = {"kamora", "--capture", "127.0.5.1", "aa:bb:cc:dd:ee:ff"};
  argv.insert(argv.end(), row.args.begin(), row.args.end());
  Options scanned;
  scanOptions(static_cast<int>(argv.size()), argv.data(), 4, scanned);
  Options expected;
  row.expect(expected);
  EXPECT_EQ(describe(scanned), describe(expected));
}

INSTANTIATE_TEST_SUITE_P(Rows, OptionsScanTest, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OptionsScanStart, LiveViewRateDefaultIsTheFeeds) {
  EXPECT_EQ(Options().lvFps, LiveFeed::kDefaultFps);
}

TEST(OptionsScanStart, ArgumentsBeforeTheStartAreNeverOptions) {
  const char* argv[] = {"kamora", "--connect-ip", "--ssh", "--frames", "9"};
  Options fromFour;
  scanOptions(5, argv, 4, fromFour);
  EXPECT_FALSE(fromFour.ssh);
  EXPECT_EQ(fromFour.frames, 100);  // "9" alone is skipped
  Options fromTwo;
  scanOptions(5, argv, 2, fromTwo);
  EXPECT_TRUE(fromTwo.ssh);
  EXPECT_EQ(fromTwo.frames, 9);
  Options pastTheEnd;
  scanOptions(2, argv, 4, pastTheEnd);
  EXPECT_EQ(describe(pastTheEnd), describe(Options{}));
}

TEST(Usage, PrintsTheTextWithTheProgramPathInEveryPlace) {
  const std::string p = "/opt/k 1/kamora";
  const std::string expected = expectedUsage(p);
  testing::internal::CaptureStdout();
  usage(p.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
  // A path with a percent sign is printed as it is, not as a format.
  testing::internal::CaptureStdout();
  usage("%s%n");
  const std::string odd = testing::internal::GetCapturedStdout();
  EXPECT_NE(odd.find("  %s%n --enum\n"), std::string::npos);
}

}  // namespace
