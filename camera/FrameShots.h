// One frame of a sequence on a connected camera: its shots back to back, each
// bracket step's setting sent before its shot and the base put back after
// the frame; a busy camera is asked again until the frame's deadline, never
// after. Runs on the sequence's thread, which holds the camera for the frame.
#pragma once

#include <chrono>
#include <functional>

#include "camera/CameraController.h"
#include "camera/SequenceRun.h"

// How long a busy camera is left before it is asked again.
constexpr std::chrono::milliseconds kBusyRetry{100};

// yield: true when the frame should end after the shot under way (the
// server stopping, a connect waiting for the camera); the run's own stop
// counts too. A frame that took nothing because the camera was gone or busy
// comes back skipped.
FrameOutcome shootFrame(CameraController& camera, const FrameCall& call,
                        const std::function<bool()>& yield);
