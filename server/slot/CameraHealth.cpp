// The camera's health: its transitions, each guarded by the state it starts
// from, and the "camera" event every change publishes.
#include "server/slot/CameraHealth.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

using Clock = std::chrono::steady_clock;

// The error a "camera" event names: why the link is down, or why the last
// connection failed; none while connecting or connected.
std::optional<std::uint32_t> eventError(const CameraHealthView& view) {
  switch (view.state) {
    case CameraState::Lost:
    case CameraState::Reconnecting:
      return view.lossError;
    case CameraState::NoCamera:
      return view.lastError;
    case CameraState::Connecting:
    case CameraState::Connected:
      break;
  }
  return std::nullopt;
}

bool sameEvent(const CameraHealthView& a, const CameraHealthView& b) {
  return a.state == b.state && a.attempt == b.attempt && eventError(a) == eventError(b) &&
         a.suspect == b.suspect;
}

std::optional<std::uint32_t> codeOrNone(std::uint32_t code) {
  return code != 0 ? std::optional<std::uint32_t>(code) : std::nullopt;
}

}  // namespace

const char* cameraStateName(CameraState state) {
  switch (state) {
    case CameraState::NoCamera:
      return "sem camera";
    case CameraState::Connecting:
      return "conectando";
    case CameraState::Connected:
      return "conectada";
    case CameraState::Lost:
      return "perdida";
    case CameraState::Reconnecting:
      return "reconectando";
  }
  return "sem camera";
}

std::string sdkCodeText(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

std::string CameraHealth::eventData(const CameraHealthView& view) {
  nlohmann::ordered_json data;
  data["state"] = cameraStateName(view.state);
  data["attempt"] = view.state == CameraState::Reconnecting ? nlohmann::ordered_json(view.attempt)
                                                            : nlohmann::ordered_json();
  const std::optional<std::uint32_t> error = eventError(view);
  data["error"] = error ? nlohmann::ordered_json(sdkCodeText(*error)) : nlohmann::ordered_json();
  data["suspect"] = view.suspect;
  return data.dump();
}

CameraHealthView CameraHealth::view() const {
  MutexLock lock(mutex_);
  return view_;
}

CameraHealthView CameraHealth::waitUntil(const std::function<bool(const CameraHealthView&)>& done,
                                         Clock::time_point deadline) const {
  MutexLock lock(mutex_);
  lock.waitUntil(moved_, deadline, [&]() REQUIRES(mutex_) { return done(view_); });
  return view_;
}

bool CameraHealth::linkDown() const {
  MutexLock lock(mutex_);
  return view_.state == CameraState::Lost || view_.state == CameraState::Reconnecting;
}

bool CameraHealth::change(const std::function<bool(CameraHealthView&)>& edit) {
  {
    MutexLock lock(mutex_);
    CameraHealthView next = view_;
    if (!edit(next)) return false;
    if (next.state != view_.state) next.since = Clock::now();
    const bool publish = !sameEvent(next, view_);
    view_ = next;
    // Published under the lock, so clients see the changes in their order.
    if (publish) events_.publish("camera", eventData(view_));
  }
  moved_.notify_all();
  if (changed_) changed_();
  return true;
}

void CameraHealth::connecting(const CameraRequest& request, bool serverConnects) {
  change([&](CameraHealthView& v) {
    const std::uint64_t generation = v.generation + 1;
    v = CameraHealthView();
    v.state = CameraState::Connecting;
    v.camera = request;
    v.serverConnects = serverConnects;
    v.generation = generation;
    return true;
  });
}

void CameraHealth::userConnecting(const CameraRequest& request) { connecting(request, false); }

void CameraHealth::userConnected() {
  change([](CameraHealthView& v) {
    if (v.state != CameraState::Connecting) return false;
    v.state = CameraState::Connected;
    return true;
  });
}

void CameraHealth::userConnectFailed(std::uint32_t error) {
  change([&](CameraHealthView& v) {
    const std::uint64_t generation = v.generation + 1;
    v = CameraHealthView();
    v.lastError = codeOrNone(error);
    v.generation = generation;
    return true;
  });
}

void CameraHealth::userDisconnected() {
  change([](CameraHealthView& v) {
    const std::uint64_t generation = v.generation + 1;
    v = CameraHealthView();
    v.generation = generation;
    return true;
  });
}

void CameraHealth::serverConnecting(const CameraRequest& request) { connecting(request, true); }

bool CameraHealth::lost(std::uint64_t generation, std::uint32_t error) {
  return change([&](CameraHealthView& v) {
    const bool firstFailed = v.state == CameraState::Connecting && v.serverConnects;
    if (v.generation != generation || (v.state != CameraState::Connected && !firstFailed)) {
      return false;
    }
    v.state = CameraState::Lost;
    v.lossError = codeOrNone(error);
    if (v.lossError) v.lastError = v.lossError;
    v.suspect = false;
    return true;
  });
}

bool CameraHealth::reconnecting(std::uint64_t generation, int attempt) {
  return change([&](CameraHealthView& v) {
    if (v.generation != generation ||
        (v.state != CameraState::Lost && v.state != CameraState::Reconnecting)) {
      return false;
    }
    v.state = CameraState::Reconnecting;
    v.attempt = attempt;
    return true;
  });
}

bool CameraHealth::attemptFailed(std::uint64_t generation, std::uint32_t error) {
  return change([&](CameraHealthView& v) {
    if (v.generation != generation || v.state != CameraState::Reconnecting) return false;
    if (error != 0) v.lastError = error;
    return true;
  });
}

bool CameraHealth::reconnected(std::uint64_t generation) {
  return change([&](CameraHealthView& v) {
    const bool first = v.state == CameraState::Connecting && v.serverConnects;
    if (v.generation != generation || (v.state != CameraState::Reconnecting && !first)) {
      return false;
    }
    v.state = CameraState::Connected;
    v.attempt = 0;
    if (!first) ++v.reconnections;
    return true;
  });
}

bool CameraHealth::setSuspect(std::uint64_t generation, bool suspect) {
  return change([&](CameraHealthView& v) {
    if (v.generation != generation || v.state != CameraState::Connected) return false;
    v.suspect = suspect;
    return true;
  });
}

void CameraHealth::countDownload() {
  change([](CameraHealthView& v) {
    ++v.downloads;
    return true;
  });
}
