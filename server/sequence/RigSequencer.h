// RigSequencer: a timelapse of the whole rig. At each due time it fires a
// volley of the cameras it was started with (through the rig's one volley
// engine, so each frame has the volley's spread); with a bracket, one volley
// per step, each camera's exposure set for the step first (under its
// command access) and its base put back after the frame. A camera removed
// or away is left out of the frames it misses; a frame none of the cameras
// could take is skipped. Frames and changes of state are the server's own
// "sequence" events, marked "rig":true. Thread-safe.
#pragma once

#include <string>
#include <vector>

#include "server/sequence/SequenceHost.h"

class EventLog;
class Rig;
class Volley;

class RigSequencer : public SequenceHost {
 public:
  RigSequencer(Rig& rig, Volley& volley, EventLog& events, SchedulerClock* clock = nullptr)
      : SequenceHost(clock), rig_(rig), volley_(volley), events_(events) {}
  ~RigSequencer() override { finish(); }

  // Starts a sequence of these cameras (ids); false while one runs.
  bool start(const SequencePlan& plan, std::optional<SchedulerClock::Wall::time_point> start,
             std::vector<std::string> cameras, SequenceView& out) EXCLUDES(mutex_);
  // The cameras of the running or last sequence.
  std::vector<std::string> cameras() const EXCLUDES(mutex_);

 private:
  FrameOutcome shoot(const FrameCall& call) override EXCLUDES(mutex_);
  void frameDone(const FrameReport& report, const SequenceView& view) override;
  void stateChanged(const SequenceView& view) override;

  Rig& rig_;
  Volley& volley_;
  EventLog& events_;
  mutable Mutex mutex_;
  std::vector<std::string> cameras_ GUARDED_BY(mutex_);
};
