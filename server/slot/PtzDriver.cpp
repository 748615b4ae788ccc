// The head's command order, the lease's stop and the "ptz" events.
#include "server/slot/PtzDriver.h"

#include <algorithm>
#include <cstdio>

#include "camera/CameraController.h"
#include "common/CameraModels.h"
#include "server/slot/CameraGate.h"
#include "server/slot/CameraSlot.h"

namespace {

// {"command":"move","pan":30,"tilt":0,"hold":600,"ok":true}: the action's
// name, the values it took, and whether the head accepted it.
std::string commandEvent(const PtzAction& action, const PtzValues& values, int holdMs, bool ok) {
  std::string text = std::string("{\"command\":\"") + action.name + "\"";
  const auto add = [&text](const char* name, long long value) {
    text += std::string(",\"") + name + "\":" + std::to_string(value);
  };
  switch (action.takes) {
    case PtzTakes::PanTiltSpeed:
    case PtzTakes::PanTilt:
      add("pan", values.pan);
      add("tilt", values.tilt);
      if (action.takes == PtzTakes::PanTiltSpeed) add("speed", values.speed);
      break;
    case PtzTakes::Preset:
      add("num", values.preset);
      break;
    case PtzTakes::Nothing:
      break;
  }
  if (holdMs > 0) add("hold", holdMs);
  return text + ",\"ok\":" + (ok ? "true" : "false") + "}";
}

bool drivesHead(PtzEffect effect) {
  return effect == PtzEffect::Continuous || effect == PtzEffect::ToTarget;
}

}  // namespace

PtzDriver::PtzDriver(CameraController& controller, CameraGate& gate, CameraEventLog events)
    : controller_(controller),
      gate_(gate),
      events_(std::move(events)),
      lease_([this](std::uint64_t generation) { expired(generation); }) {}

void PtzDriver::command(const PtzAction& action, const PtzValues& values, std::uint64_t arrival,
                        int holdMs) {
  MutexLock lock(mutex_);
  // A stop that reached the server after this request has already reached
  // the head (stops skip the queue this one waited in): moving now would
  // undo it.
  if (drivesHead(action.effect) && arrival < lastStopArrival_) return;
  const bool leased = holdMs > 0 && action.effect == PtzEffect::Continuous;
  if (leased && lease_.renewIfSame(values.pan, values.tilt, holdMs)) return;

  const bool sent = controller_.hasDevice();
  const bool ok = action.run(controller_, values);
  if (!sent) return;
  events_.publish("ptz",
                  commandEvent(action, values, leased ? PtzLease::clampHold(holdMs) : 0, ok));
  if (!ok) return;  // a refused command leaves the head, and any lease on it, as they were
  if (drivesHead(action.effect)) {
    // The new command takes the head over from a leased move.
    lease_.end();
    if (leased) lease_.start(values.pan, values.tilt, holdMs);
  } else if (action.effect == PtzEffect::StorePreset) {
    presets_.stored(controller_.headKey(), values.preset);
  } else if (action.effect == PtzEffect::ClearPreset) {
    presets_.cleared(controller_.headKey(), values.preset);
  }
}

void PtzDriver::stop(std::uint64_t arrival, bool automatic) {
  MutexLock lock(mutex_);
  lastStopArrival_ = std::max(lastStopArrival_, arrival);
  lease_.end();
  sendStop(automatic);
}

void PtzDriver::endLease(bool stopHead) {
  MutexLock lock(mutex_);
  if (lease_.end() && stopHead) sendStop(true);
}

void PtzDriver::endLeaseNow() {
  CameraGate::Urgent now(gate_);
  endLease(true);
}

void PtzDriver::reconnected(CameraSlot& slot) {
  const std::optional<CameraRequest> camera = slot.health().view().camera;
  const CameraModel* model = camera ? findModelByCode(camera->model) : nullptr;
  if (model != nullptr && model->hasHead) stop(slot.arrive(), true);
}

std::string PtzDriver::presetsJson() {
  MutexLock lock(mutex_);
  return controller_.hasDevice() ? presets_.json(controller_.headKey()) : "[]";
}

void PtzDriver::expired(std::uint64_t generation) {
  // Urgent, like /ptz/stop: the head stops now even while a capture runs.
  CameraGate::Urgent now(gate_);
  MutexLock lock(mutex_);
  if (!lease_.expireIf(generation)) return;  // renewed or replaced meanwhile
  std::printf("[info] ptz: sem renovacao, cabeca parada\n");
  sendStop(true);
}

void PtzDriver::sendStop(bool automatic) {
  const bool sent = controller_.hasDevice();
  const bool ok = controller_.ptzStop();
  if (!sent) return;
  events_.publish("ptz", std::string("{\"command\":\"stop\",") +
                             (automatic ? "\"automatic\":true," : "") +
                             "\"ok\":" + (ok ? "true" : "false") + "}");
}
