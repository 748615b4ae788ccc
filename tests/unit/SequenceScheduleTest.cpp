// The sequence schedule on a driven clock: a day of frames exactly on time
// whatever each costs, the half-interval skip rule, pause and resume on the
// original schedule, count and stop, a start on the wall clock, and the
// bounded record of skipped frames and lateness.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "camera/SequenceRun.h"
#include "tests/support/DrivenClock.h"

namespace {

using namespace std::chrono_literals;
using Steady = SchedulerClock::Steady;

// A frame's work that costs what cost(frame) says on the driven clock,
// optionally does something first (pause, stop) and records when it began.
class ScriptedWork : public FrameWork, public SequenceListener {
 public:
  explicit ScriptedWork(DrivenClock& clock) : clock_(clock) {}

  std::function<std::chrono::nanoseconds(std::uint64_t)> cost = [](std::uint64_t) { return 0ns; };
  std::function<void(const FrameCall&)> during = [](const FrameCall&) {};
  std::function<void(const FrameReport&, SequenceRun&)> after;
  std::function<std::optional<SkipReason>(std::uint64_t)> away = [](std::uint64_t) {
    return std::nullopt;
  };
  SequenceRun* run = nullptr;

  std::map<std::uint64_t, Steady::time_point> began;
  std::vector<FrameReport> reports;
  std::vector<SequenceState> states;

  FrameOutcome shoot(const FrameCall& call) override {
    FrameOutcome out;
    out.started = clock_.now();
    began[call.frame] = out.started;
    during(call);
    if ((out.skipped = away(call.frame))) return out;
    clock_.advance(cost(call.frame));
    out.shots.push_back(
        ShotReport{0, "KAMORA_" + std::to_string(call.frame) + ".JPG", true, "", "", ""});
    return out;
  }
  void frameDone(const FrameReport& report, const SequenceView&) override {
    reports.push_back(report);
    if (after) after(report, *run);
  }
  void stateChanged(const SequenceView& view) override { states.push_back(view.state); }

  std::vector<std::uint64_t> skipped(SkipReason reason) const {
    std::vector<std::uint64_t> frames;
    for (const FrameReport& r : reports) {
      if (r.skipped == reason) frames.push_back(r.frame);
    }
    return frames;
  }

 private:
  DrivenClock& clock_;
};

struct Harness {
  DrivenClock clock;
  ScriptedWork work{clock};
  Steady::time_point start = clock.now();

  SequenceView runPlan(const SequencePlan& plan,
                       std::optional<SchedulerClock::Wall::time_point> at = std::nullopt) {
    SequenceRun run(plan, clock, work, &work, at);
    work.run = &run;
    run.run();
    return run.view();
  }
  Steady::time_point due(const SequencePlan& plan, std::uint64_t frame) const {
    return start + plan.dueAfterStart(frame);
  }
};

SequencePlan plan(std::chrono::nanoseconds interval, std::uint64_t count) {
  SequencePlan p;
  p.interval = interval;
  p.count = count;
  return p;
}

TEST(SequenceSchedule, ADayAtTenSecondsIsExactlyOnScheduleWhateverEachFrameCosts) {
  Harness h;
  const SequencePlan day = plan(10s, 8640);
  // Frames cost anything up to 4.9 s (within the slack), so a schedule
  // reckoned from the frame before would drift by hours.
  std::mt19937 random(7);
  h.work.cost = [&](std::uint64_t) { return std::chrono::milliseconds(random() % 4900); };
  const auto wallBegan = std::chrono::steady_clock::now();
  const SequenceView end = h.runPlan(day);
  const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - wallBegan)
                          .count();

  ASSERT_EQ(h.work.began.size(), 8640u);
  std::uint64_t off = 0;
  for (const auto& [frame, at] : h.work.began) off += at == h.due(day, frame) ? 0 : 1;
  EXPECT_EQ(off, 0u) << "frames not exactly on their due time";
  EXPECT_EQ(h.work.began[8640] - h.work.began[1], 86390s);
  EXPECT_EQ(end.state, SequenceState::Done);
  EXPECT_EQ(end.taken, 8640u);
  EXPECT_EQ(end.skippedTotal, 0u);
  EXPECT_EQ(end.lateMaxMs, 0.0);
  EXPECT_EQ(h.work.states,
            (std::vector<SequenceState>{SequenceState::Running, SequenceState::Done}));
  EXPECT_LT(tookMs, 5000) << "a simulated day should take a moment";
}

TEST(SequenceSchedule, AFrameThatCannotStartWithinHalfAnIntervalIsSkippedNotShifted) {
  struct Case {
    std::chrono::milliseconds firstCosts;  // at a 1 s interval
    std::vector<std::uint64_t> late;       // skipped as "atrasada"
    std::chrono::milliseconds secondLate;  // frame 2's lateness when taken
  } cases[] = {
      {400ms, {}, 0ms},          // done before frame 2 is due
      {1400ms, {}, 400ms},       // frame 2 starts late, within its slack
      {1500ms, {}, 500ms},       // exactly at the slack: still taken
      {1600ms, {2}, 0ms},        // past frame 2's slack
      {3700ms, {2, 3, 4}, 0ms},  // frames 2-4 missed; frame 5 is not
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstCosts.count());
    Harness h;
    const SequencePlan p = plan(1s, 6);
    h.work.cost = [&](std::uint64_t frame) { return frame == 1 ? c.firstCosts : 0ms; };
    const SequenceView end = h.runPlan(p);
    EXPECT_EQ(h.work.skipped(SkipReason::Late), c.late);
    if (c.late.empty()) {
      EXPECT_EQ(h.work.began[2] - h.due(p, 2), c.secondLate);
    }
    // Whatever was missed, the frames after start at their own due time.
    const std::uint64_t next = c.late.empty() ? 3 : c.late.back() + 1;
    for (std::uint64_t f = next; f <= 6; ++f) EXPECT_EQ(h.work.began[f], h.due(p, f));
    EXPECT_EQ(end.taken + end.skippedTotal, 6u);
  }
}

TEST(SequenceSchedule, ResumeKeepsTheScheduleAndFramesDueWhilePausedAreSkipped) {
  Harness h;
  const SequencePlan p = plan(2s, 10);
  h.work.during = [](const FrameCall& call) {
    if (call.frame == 3) call.run.pause();
  };
  h.work.after = [](const FrameReport& report, SequenceRun& run) {
    if (report.frame == 3) {
      EXPECT_EQ(run.view().state, SequenceState::Paused);
    }
    if (report.frame == 6) run.resume();
    // Pausing twice or resuming while running changes nothing.
    if (report.frame == 8) run.resume();
  };
  const SequenceView end = h.runPlan(p);
  EXPECT_EQ(h.work.skipped(SkipReason::Paused), (std::vector<std::uint64_t>{4, 5, 6}));
  for (std::uint64_t f : {7, 8, 9, 10}) EXPECT_EQ(h.work.began[f], h.due(p, f));
  ASSERT_EQ(end.skipped.size(), 1u);
  EXPECT_EQ(end.skipped[0].frame, 4u);
  EXPECT_EQ(end.skipped[0].frames, 3u);
  EXPECT_EQ(end.taken, 7u);
  EXPECT_EQ(h.work.states,
            (std::vector<SequenceState>{SequenceState::Running, SequenceState::Paused,
                                        SequenceState::Running, SequenceState::Done}));
}

TEST(SequenceSchedule, StopEndsAfterTheFrameUnderWayAndCountZeroRunsUntilThen) {
  struct Case {
    std::uint64_t count, stopAt;
    bool shotNothing;  // the stop came before the frame's first shot
    std::uint64_t frames;
    SequenceState end;
  } cases[] = {{5, 0, false, 5, SequenceState::Done},
               {5, 3, false, 3, SequenceState::Stopped},
               {5, 3, true, 2, SequenceState::Stopped},
               {0, 250, false, 250, SequenceState::Stopped}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count * 1000 + c.stopAt + (c.shotNothing ? 1 : 0));
    Harness h;
    h.work.away = [&](std::uint64_t f) -> std::optional<SkipReason> {
      if (c.shotNothing && f == c.stopAt) return SkipReason::Busy;
      return std::nullopt;
    };
    bool sawStopping = false;
    h.work.during = [&](const FrameCall& call) {
      if (call.frame != c.stopAt) return;
      call.run.stop();
      sawStopping = call.run.stopping();
    };
    const SequenceView end = h.runPlan(plan(1s, c.count));
    EXPECT_EQ(h.work.reports.size(), c.frames);
    EXPECT_EQ(end.frame, c.frames);
    EXPECT_EQ(end.skippedTotal, 0u) << "a frame the stop kept from its first shot is not reported";
    EXPECT_EQ(end.state, c.end);
    EXPECT_EQ(sawStopping, c.stopAt != 0) << "the frame's work sees the stop between shots";
    EXPECT_FALSE(end.nextDue);
    EXPECT_EQ(h.work.states.back(), c.end);
  }
}

TEST(SequenceSchedule, StartOnTheWallClockAndNextDueFromIt) {
  Harness h;
  const SequencePlan p = plan(1500ms, 3);
  const auto at = h.clock.wallNow() + 5s;
  SequenceRun run(p, h.clock, h.work, &h.work, at);
  const SequenceView before = run.view();
  ASSERT_TRUE(before.nextDue);
  EXPECT_EQ(*before.nextDue, at);
  EXPECT_EQ(before.frame, 0u);
  h.work.after = [&](const FrameReport& report, SequenceRun& r) {
    EXPECT_EQ(report.due, at + p.dueAfterStart(report.frame));
    const SequenceView v = r.view();
    if (report.frame < 3) {
      EXPECT_EQ(*v.nextDue, at + p.dueAfterStart(report.frame + 1));
    }
  };
  h.work.run = &run;
  run.run();
  EXPECT_EQ(h.work.began[1], h.start + 5s);
  EXPECT_EQ(h.work.began[3], h.start + 8s);
}

TEST(SequenceSchedule, SkippedFramesAreKeptAsBoundedRunsWithTheirReasons) {
  Harness h;
  // Away for frames 10-19 and every third frame from 100 on.
  h.work.away = [](std::uint64_t f) -> std::optional<SkipReason> {
    if (f >= 10 && f < 20) return SkipReason::Lost;
    if (f >= 100 && f % 3 == 0) return SkipReason::Busy;
    return std::nullopt;
  };
  const SequenceView end = h.runPlan(plan(1s, 2000));
  std::uint64_t away = 0;
  for (std::uint64_t f = 1; f <= 2000; ++f) away += h.work.away(f) ? 1 : 0;
  EXPECT_EQ(end.skippedTotal, away);
  EXPECT_EQ(end.taken, 2000u - end.skippedTotal);
  ASSERT_EQ(end.skipped.size(), SequenceRun::kKeptSkippedRuns);
  // The newest are kept: the last one is frame 1998, a run of one.
  EXPECT_EQ(end.skipped.back().frame, 1998u);
  EXPECT_EQ(end.skipped.back().frames, 1u);
  EXPECT_EQ(end.skipped.back().reason, SkipReason::Busy);
  // A skipped frame has no lateness; taken ones all started on time here.
  EXPECT_EQ(end.lateCount, end.taken);
}

TEST(LatenessStatsTest, QuantilesMatchTheSortedValuesWithinTheBucketPrecision) {
  std::mt19937 random(11);
  // Lateness as a night shows it: mostly a fraction of a millisecond, some
  // tens of milliseconds, a few seconds.
  std::vector<std::int64_t> ns;
  for (int i = 0; i < 36000; ++i) {
    const std::uint32_t r = random();
    ns.push_back(i % 100 == 0 ? r % 3000000000 : i % 10 == 0 ? r % 50000000 : r % 900000);
  }
  LatenessStats stats;
  for (std::int64_t v : ns) stats.add(std::chrono::nanoseconds(v));
  std::vector<std::int64_t> sorted = ns;
  std::sort(sorted.begin(), sorted.end());
  for (double q : {0.01, 0.5, 0.9, 0.95, 0.99, 0.999, 1.0}) {
    SCOPED_TRACE(q);
    const std::size_t rank = static_cast<std::size_t>(std::ceil(q * sorted.size()));
    const double exactUs = static_cast<double>(sorted[rank - 1] / 1000);
    const double got = stats.quantileUs(q);
    if (exactUs < 1024) {
      EXPECT_EQ(got, exactUs);
    } else {
      EXPECT_NEAR(got, exactUs, exactUs * 0.001 + 0.5);
    }
  }
  EXPECT_EQ(stats.maxUs(), static_cast<double>(sorted.back()) / 1000.0);
  EXPECT_EQ(stats.count(), ns.size());
  EXPECT_EQ(LatenessStats().quantileUs(0.5), 0.0);
}

}  // namespace
