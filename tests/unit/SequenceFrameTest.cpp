// One frame's shots on a camera (fake SDK, driven clock): each bracket step
// set before its shot and the base put back after, a refused step reported
// and not shot, a busy camera asked again only until the frame's deadline,
// a lost camera's frame skipped; and applyExposure saying what it applied.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "CameraTestHarness.h"
#include "camera/FrameShots.h"
#include "tests/support/DrivenClock.h"

namespace {

using namespace std::chrono_literals;
using fake::Event;
using fake::sdk;

constexpr std::int64_t kShutter = 0x0103, kBias = 0x0101;

// Runs one frame of plan on the controller and returns its report.
class OneFrame : public FrameWork, public SequenceListener {
 public:
  explicit OneFrame(CameraController& camera) : camera_(camera) {}
  FrameReport run(std::vector<double> bracket, std::chrono::nanoseconds interval = 10s) {
    SequencePlan plan;
    plan.interval = interval;
    plan.count = 1;
    plan.bracket = std::move(bracket);
    SequenceRun run(plan, clock, *this, this);
    run.run();
    return report;
  }
  FrameOutcome shoot(const FrameCall& call) override {
    return shootFrame(camera_, call, [] { return false; });
  }
  void frameDone(const FrameReport& r, const SequenceView&) override { report = r; }
  void stateChanged(const SequenceView&) override {}

  DrivenClock clock;
  FrameReport report;

 private:
  CameraController& camera_;
};

// The (code, value) of each property the camera was sent, in order.
std::vector<std::pair<std::int64_t, std::int64_t>> sent() {
  std::vector<std::pair<std::int64_t, std::int64_t>> out;
  for (const fake::Call& c : sdk().calls("SetDeviceProperty"))
    out.emplace_back(c.ints[0], c.ints[2]);
  return out;
}

class SequenceFrameTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    connect(camera);
    startOutput();  // the capture lines stay out of the test's log
  }
  // Before the fake forgets its objects.
  void TearDown() override {
    camera.disconnect();
    CameraTest::TearDown();
  }
  void useMode(std::uint32_t mode, int evMilli = 0) {
    sdk().setProperties({{0x0105, mode}, {0x0103, 0x1007D}, {0x0101, std::uint16_t(evMilli)}});
  }
  CameraController camera;
};

TEST_F(SequenceFrameTest, BracketStepsAreSetBeforeEachShotAndTheBaseAfterTheFrame) {
  struct Case {
    std::uint32_t mode;
    std::vector<double> bracket;
    std::vector<std::pair<std::int64_t, std::int64_t>> sent;
    std::vector<std::string> applied;
  } cases[] = {
      {1,
       {-1, 0, 1},
       {{kShutter, 0x100FA}, {kShutter, 0x1007D}, {kShutter, 0x1003C}, {kShutter, 0x1007D}},
       {"1/250", "1/125", "1/60"}},
      {3, {-2, 2}, {{kBias, 0xF830}, {kBias, 2000}, {kBias, 0}}, {"-2.0", "+2.0"}},
      {2, {}, {}, {""}},  // no bracket: one shot as set, nothing sent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    useMode(c.mode);
    sdk().clearCalls();
    OneFrame frame(camera);
    const FrameReport r = frame.run(c.bracket);
    ASSERT_FALSE(r.skipped);
    EXPECT_EQ(sent(), c.sent);
    ASSERT_EQ(r.shots.size(), c.applied.size());
    std::set<std::string> files;
    for (std::size_t i = 0; i < r.shots.size(); ++i) {
      EXPECT_TRUE(r.shots[i].ok);
      EXPECT_EQ(r.shots[i].applied, c.applied[i]);
      EXPECT_EQ(r.shots[i].ev, c.bracket.empty() ? 0.0 : c.bracket[i]);
      files.insert(r.shots[i].file);
    }
    EXPECT_EQ(files.size(), r.shots.size()) << "each shot names its own file";
    EXPECT_EQ(files.count(""), 0u);
    EXPECT_EQ(sdk().count("SendCommand"), 2 * static_cast<int>(r.shots.size()));
  }
}

TEST_F(SequenceFrameTest, ARefusedStepIsReportedAndNotShotAndTheFrameGoesOn) {
  useMode(1);
  sdk().clearCalls();
  sdk().queueResults("SetDeviceProperty", {0, VCSDK::VcError_PropertyInvalidValue});
  OneFrame frame(camera);
  const FrameReport r = frame.run({-1, 0, 1});
  ASSERT_FALSE(r.skipped);
  ASSERT_EQ(r.shots.size(), 3u);
  EXPECT_TRUE(r.shots[0].ok);
  EXPECT_FALSE(r.shots[1].ok);
  EXPECT_EQ(r.shots[1].error, "recusada");
  EXPECT_EQ(r.shots[1].file, "");
  EXPECT_TRUE(r.shots[2].ok);
  EXPECT_EQ(sdk().count("SendCommand"), 4)
      << "two presses and releases: the refused step is not shot";
  EXPECT_EQ(sent().back(), (std::pair<std::int64_t, std::int64_t>{kShutter, 0x1007D}));
}

TEST_F(SequenceFrameTest, BusyIsAskedAgainOnlyUntilTheFramesDeadline) {
  struct Case {
    std::vector<Event> answers;  // then busy for good
    std::chrono::nanoseconds interval;
    bool taken;
    int presses;
  } cases[] = {
      // Busy twice, then a picture: one frame, one file.
      {{Event::error(VCSDK::VcError_Busy), Event::error(VCSDK::VcError_Busy), Event::download()},
       10s,
       true,
       3},
      // Busy throughout a 1 s frame: asked at 0, 100, ... 500 ms, then skipped.
      {{}, 1s, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.presses);
    sdk().onShutterRelease(Event::error(VCSDK::VcError_Busy));
    sdk().queueOnShutterRelease(c.answers);
    sdk().clearCalls();
    OneFrame frame(camera);
    const FrameReport r = frame.run({}, c.interval);
    EXPECT_EQ(!r.skipped, c.taken);
    if (!c.taken) {
      EXPECT_EQ(*r.skipped, SkipReason::Busy);
    }
    if (c.taken) {
      EXPECT_TRUE(r.shots.at(0).ok);
    }
    EXPECT_EQ(sdk().count("SendCommand"), 2 * c.presses);
  }
}

TEST_F(SequenceFrameTest, ALostCameraSkipsTheFrameAndAnOtherFailureIsReported) {
  sdk().onShutterRelease(Event::error(VCSDK::VcError_CaptureFailed));
  OneFrame failing(camera);
  const FrameReport failed = failing.run({});
  ASSERT_FALSE(failed.skipped);
  EXPECT_EQ(failed.shots.at(0).error, "falhou");

  sdk().fire(sdk().lastHandle(), Event::disconnected(VCSDK::VcError_ConnectionLost));
  ASSERT_TRUE(sdk().drain());
  for (std::vector<double> bracket : {std::vector<double>{}, std::vector<double>{-1, 1}}) {
    OneFrame frame(camera);
    const FrameReport r = frame.run(bracket);
    ASSERT_TRUE(r.skipped);
    EXPECT_EQ(*r.skipped, SkipReason::Lost);
    EXPECT_TRUE(r.shots.empty());
  }
}

TEST_F(SequenceFrameTest, ApplyExposureSaysWhichValuesTheCameraTook) {
  Exposure all;
  all.hasIso = all.hasFNumber = all.hasShutter = all.hasEv = true;
  all.iso = 400;
  all.fNumber = 2.8;
  all.shutterNum = 1;
  all.shutterDen = 250;
  all.ev = -0.3;
  sdk().queueResults("SetDeviceProperty",
                     {0, VCSDK::VcError_PropertyInvalidValue, 0, VCSDK::VcError_PropertyRefused});
  const Exposure took = applyExposure(camera, all);
  EXPECT_TRUE(took.hasIso);
  EXPECT_FALSE(took.hasFNumber);
  EXPECT_TRUE(took.hasShutter);
  EXPECT_FALSE(took.hasEv);
  EXPECT_EQ(took.iso, 400u);
  const Exposure none = applyExposure(camera, Exposure());
  EXPECT_FALSE(none.hasIso || none.hasFNumber || none.hasShutter || none.hasEv);
}

}  // namespace
