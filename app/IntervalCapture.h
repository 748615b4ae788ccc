// "--capture" with "--interval": the camera's pictures as a timed sequence
// (an intervalometer, each frame optionally a bracket) on the same
// scheduler the server runs, printing one line per frame and a closing line.
#pragma once

#include <optional>

#include "app/Options.h"
#include "camera/SequencePlan.h"

class CameraController;

// The plan the options ask for ("--shots" frames, 0: until Ctrl+C); none,
// after printing why, when "--interval" or "--bracket" cannot be read.
std::optional<SequencePlan> intervalPlan(const Options& options);

// Runs plan on a connected camera set up for computer capture, until its last
// frame or the first Ctrl+C, which ends it after the shot under way.
void runIntervalCapture(CameraController& camera, const SequencePlan& plan);
