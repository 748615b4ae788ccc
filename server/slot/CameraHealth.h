// CameraHealth: the state the slot's camera is in, as people and programs see
// it ("sem camera", "conectando", "conectada", "perdida", "reconectando"),
// with the connection asked for, the last SDK error and the counters that
// GET /camera shows. Every change goes through one function, which publishes
// it as a "camera" event and wakes whoever waits for a state. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/ThreadAnnotations.h"
#include "server/events/EventLog.h"
#include "vcsdk/VcTypes.h"

enum class CameraState { NoCamera, Connecting, Connected, Lost, Reconnecting };

// The Portuguese name clients see.
const char* cameraStateName(CameraState state);

// An SDK code as clients see it: "0x%08X".
std::string sdkCodeText(std::uint32_t code);

// The connection the user asked for, kept to make it again after a loss.
// The SSH credentials are only ever handed to the camera: no reply, event
// or printed line shows them.
struct CameraRequest {
  std::string ip;
  std::string mac;
  VCSDK::VcCameraDeviceModelList model = VCSDK::VcCameraModel_SB_A4;
  bool ssh = false;
  std::string user;
  std::string pass;
};

// A copy of the health at one moment. Plain values.
struct CameraHealthView {
  CameraState state = CameraState::NoCamera;
  std::optional<CameraRequest> camera;  // none while no camera is asked for
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
  int attempt = 0;                         // while reconnecting: 1, 2, ...
  std::optional<std::uint32_t> lossError;  // the code the link was lost with
  std::optional<std::uint32_t> lastError;  // the newest code: loss, failed attempt or connect
  bool suspect = false;                    // connected, but no picture lately
  // The server makes (and keeps) this connection itself, from its first
  // attempt on: a rig camera, which stays until it is removed.
  bool serverConnects = false;
  std::uint32_t reconnections = 0;  // successful automatic ones
  std::uint32_t downloads = 0;
  // Moves with each connect and disconnect by the user, so the supervisor's
  // plans made before one are dropped.
  std::uint64_t generation = 0;
};

class CameraHealth {
 public:
  // changed is called after each change, outside the lock (may be empty).
  CameraHealth(CameraEventLog events, std::function<void()> changed)
      : events_(std::move(events)), changed_(std::move(changed)) {}

  CameraHealthView view() const EXCLUDES(mutex_);
  // Waits until done holds for the view or the deadline passes; the view then.
  CameraHealthView waitUntil(const std::function<bool(const CameraHealthView&)>& done,
                             std::chrono::steady_clock::time_point deadline) const EXCLUDES(mutex_);
  // Lost or reconnecting: commands have no camera to act on.
  bool linkDown() const EXCLUDES(mutex_);

  // The user's /connect and /disconnect, while they hold the camera alone.
  void userConnecting(const CameraRequest& request) EXCLUDES(mutex_);
  void userConnected() EXCLUDES(mutex_);
  void userConnectFailed(std::uint32_t error) EXCLUDES(mutex_);
  void userDisconnected() EXCLUDES(mutex_);
  // A rig camera: "conectando" until the supervisor's first attempt ends,
  // then kept connected (a failed first attempt counts as a loss).
  void serverConnecting(const CameraRequest& request) EXCLUDES(mutex_);

  // The supervisor's findings, each for the generation it looked at; false
  // (and nothing changes) when the user acted since or the state is not one
  // the step starts from.
  bool lost(std::uint64_t generation, std::uint32_t error) EXCLUDES(mutex_);
  bool reconnecting(std::uint64_t generation, int attempt) EXCLUDES(mutex_);
  bool attemptFailed(std::uint64_t generation, std::uint32_t error) EXCLUDES(mutex_);
  bool reconnected(std::uint64_t generation) EXCLUDES(mutex_);
  bool setSuspect(std::uint64_t generation, bool suspect) EXCLUDES(mutex_);
  void countDownload() EXCLUDES(mutex_);

  // The data of the "camera" event for a view: one-line JSON with state,
  // attempt, error and suspect.
  static std::string eventData(const CameraHealthView& view);

 private:
  // The one place the health changes. edit works on the view under the
  // lock and returns false to leave it as it was; a change of what the
  // "camera" event carries is published, in the order the changes happen.
  bool change(const std::function<bool(CameraHealthView&)>& edit) EXCLUDES(mutex_);
  void connecting(const CameraRequest& request, bool serverConnects) EXCLUDES(mutex_);

  const CameraEventLog events_;
  const std::function<void()> changed_;
  mutable Mutex mutex_;
  mutable std::condition_variable moved_;
  CameraHealthView view_ GUARDED_BY(mutex_);
};
