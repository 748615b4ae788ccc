// A sequence's plan as data: the texts people give for it, read strictly,
// and the exposure each bracket step moves to (shutter along the third-stop
// scale in M, compensation in thirds otherwise).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "camera/BracketSteps.h"
#include "camera/SequencePlan.h"
#include "common/PropertyValues.h"

namespace {

using namespace std::chrono_literals;

TEST(SequencePlanText, IntervalCountBracketAndStartAreReadStrictly) {
  struct Interval {
    const char* text;
    bool ok;
    std::chrono::nanoseconds value;
  } intervals[] = {
      {"0.5", true, 500ms},
      {"1", true, 1s},
      {"1.1", true, 1100ms},
      {"2.000000001", true, 2000000001ns},
      {"86400", true, 24h},
      {".75", true, 750ms},
      {"0.49", false, 0ns},
      {"86400.5", false, 0ns},
      {"", false, 0ns},
      {"1e3", false, 0ns},
      {"-1", false, 0ns},
      {" 1", false, 0ns},
      {"1s", false, 0ns},
      {"inf", false, 0ns},
      {"1.0000000001", false, 0ns},
      {"99999999999999999999", false, 0ns},
  };
  for (const Interval& c : intervals) {
    std::chrono::nanoseconds got{-1};
    EXPECT_EQ(parseInterval(c.text, got), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }

  struct Count {
    const char* text;
    bool ok;
    std::uint64_t value;
  } counts[] = {{"0", true, 0},       {"12", true, 12},  {"100000", true, 100000},
                {"100001", false, 0}, {"", false, 0},    {"-1", false, 0},
                {"1.5", false, 0},    {"12x", false, 0}, {"99999999999", false, 0}};
  for (const Count& c : counts) {
    std::uint64_t got = 7;
    EXPECT_EQ(parseFrameCount(c.text, got), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }

  struct Bracket {
    const char* text;
    bool ok;
    std::vector<double> value;
  } brackets[] = {
      {"", true, {}},
      {"  ", true, {}},
      {"-2,0,2", true, {-2, 0, 2}},
      {"-0.7, 0 ,+0.7", true, {-0.7, 0, 0.7}},
      {"-0", true, {0}},
      {"6,-6", true, {6, -6}},
      {"1,2,3,4,5,-1,-2,-3,-4", true, {1, 2, 3, 4, 5, -1, -2, -3, -4}},
      {"1,2,3,4,5,-1,-2,-3,-4,0", false, {}},  // ten steps
      {"6.1", false, {}},
      {"1,,2", false, {}},
      {"1,", false, {}},
      {",1", false, {}},
      {"a", false, {}},
      {"1 2", false, {}},
      {"--1", false, {}},
      {"0.3333", false, {}},  // three places at most
  };
  for (const Bracket& c : brackets) {
    std::vector<double> got = {99};
    EXPECT_EQ(parseBracket(c.text, got), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }

  std::int64_t ms = 0;
  EXPECT_TRUE(parseEpochMs("1767312000000", ms));
  EXPECT_EQ(ms, 1767312000000);
  for (const char* bad : {"", "-5", "1.5", "17673120000001234", "now"}) {
    EXPECT_FALSE(parseEpochMs(bad, ms)) << bad;
  }
}

ExposureNow base(std::uint32_t mode, std::uint32_t shutter, int evMilli) {
  ExposureNow e;
  e.mode = mode;
  e.shutter = shutter;
  e.evMilli = evMilli;
  return e;
}

constexpr std::uint32_t kM = exposure_program::kM, kA = exposure_program::kA;
constexpr std::uint32_t k125 = 0x1007D;  // 1/125

TEST(BracketStepsTest, EachOffsetMovesTheShutterInMAndTheCompensationOtherwise) {
  struct Case {
    ExposureNow base;
    std::vector<double> offsets;
    std::vector<std::string> applied;  // or "!error"
  } cases[] = {
      {base(kM, k125, 0), {-1, 0, 1}, {"1/250", "1/125", "1/60"}},
      {base(kM, k125, 700), {-2, 2}, {"1/500", "1/30"}},  // compensation plays no part
      {base(kM, k125, 0), {-0.3, 0.7, -0.5}, {"1/160", "1/80", "1/200"}},
      {base(kM, 0x00011388, 0), {0, -0.3}, {"1/5000", "1/6400"}},
      {base(kM, 0x00011388, 0), {-1}, {"!fora da escala"}},  // beyond 1/8000
      {base(kM, 0x001E0001, 0), {1, 0}, {"!fora da escala", "30\""}},
      {base(kM, 0x00050032, 0), {1}, {"1/5"}},              // 5/50 is 1/10
      {base(kM, 0x00000000, 0), {1}, {"!fora da escala"}},  // BULB
      {base(kM, 0x00010007, 0), {1}, {"!fora da escala"}},  // 1/7: not a marked speed
      {base(kA, k125, 0), {-2, 0, 2}, {"-2.0", "+0.0", "+2.0"}},
      {base(kA, k125, 300), {0.3, -1, 1}, {"+0.7", "-0.7", "+1.3"}},
      {base(kA, k125, -700), {-0.3, 0.7}, {"-1.0", "+0.0"}},
      {base(kA, k125, 4700), {1}, {"+5.7"}},  // beyond the body's range: its refusal decides
      {base(exposure_program::kAuto, k125, 0), {1}, {"+1.0"}},
  };
  for (const Case& c : cases) {
    const std::vector<BracketStep> steps = bracketSteps(c.base, c.offsets);
    ASSERT_EQ(steps.size(), c.offsets.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(c.applied[i]);
      EXPECT_EQ(steps[i].ev, c.offsets[i]);
      const bool error = c.applied[i][0] == '!';
      EXPECT_EQ(error ? "!" + steps[i].error : steps[i].applied, c.applied[i]);
      EXPECT_EQ(steps[i].set.hasShutter, !error && *c.base.mode == kM);
      EXPECT_EQ(steps[i].set.hasEv, !error && *c.base.mode != kM);
      EXPECT_FALSE(steps[i].set.hasIso || steps[i].set.hasFNumber);
    }
  }
  // The compensation lands on the camera's thousandths through the setter's
  // truncation (EV x 1000 toward zero).
  for (int milli : {-4700, -1300, -700, -300, 0, 300, 700, 1000, 1300, 5000}) {
    const BracketStep step = bracketSteps(base(kA, k125, milli), {0})[0];
    EXPECT_EQ(static_cast<int>(step.set.ev * 1000.0), milli);
  }
}

TEST(BracketStepsTest, RestorePutsBackOnlyTheSettingTheStepsMove) {
  const Exposure m = bracketRestore(base(kM, 0x00010FA0, 700));
  EXPECT_TRUE(m.hasShutter && !m.hasEv);
  EXPECT_EQ(m.shutterNum, 1);
  EXPECT_EQ(m.shutterDen, 4000);
  const Exposure a = bracketRestore(base(kA, k125, -700));
  EXPECT_TRUE(a.hasEv && !a.hasShutter);
  EXPECT_EQ(static_cast<int>(a.ev * 1000.0), -700);
  // Unreported values: nothing to send, and steps that say why.
  ExposureNow unknown;
  unknown.mode = kM;
  const Exposure none = bracketRestore(unknown);
  EXPECT_FALSE(none.hasShutter || none.hasEv);
  EXPECT_EQ(bracketSteps(unknown, {1})[0].error, "sem leitura");
}

}  // namespace
