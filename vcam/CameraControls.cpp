// The camera's controls: properties, where pictures go, and the pan/tilt head.
#include <algorithm>

#include "vcam/Camera.h"

namespace vcam {

using namespace VCSDK;
using nlohmann::json;

int Camera::battery() const {
  // One percent every minute, never quite empty.
  auto minutes = std::chrono::duration_cast<std::chrono::minutes>(Clock::now() - start_).count();
  return static_cast<int>(std::max<long long>(1, 100 - minutes));
}

VcStatus Camera::setProperty(const std::string& session, std::uint32_t code, std::uint64_t value) {
  MutexLock lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  Fault f;
  if (takePropFaultLocked(code, f)) return f.code ? f.code : VcError_PropertyRefused;
  VcStatus status = applySetting(settings_, lens_, code, value);
  if (status == VcError_None) broadcastLocked(propsEvent({code}));
  return status;
}

VcStatus Camera::getProperties(const std::string& session, const std::vector<std::uint32_t>& codes,
                               std::vector<PropertyValue>& out) {
  MutexLock lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  int percent = battery();
  for (std::uint32_t code : codes) {
    PropertyValue v{};
    if (readSetting(settings_, percent, code, v)) out.push_back(v);
  }
  return VcError_None;
}

VcStatus Camera::saveInfo(const std::string& session, const std::string& folder,
                          const std::string& prefix) {
  MutexLock lock(mutex_);
  Session* s = findReadyLocked(session);
  if (!s) return VcError_NotConnected;
  Fault f;
  if (takeFaultLocked(FaultKind::RefuseSaveInfo, f))
    return f.code ? f.code : VcError_SaveInfoRefused;
  s->saveInfo = true;
  saveFolder_ = folder;
  savePrefix_ = prefix;
  return VcError_None;
}

VcStatus Camera::ptz(const std::string& session, const json& req) {
  MutexLock lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  json record = req;
  record.erase("session");
  VcStatus status = VcError_None;
  Fault f;
  std::string op = req.value("op", std::string());
  if (!hasHead_) {
    status = VcError_PtzUnsupported;
  } else if (takeFaultLocked(FaultKind::RefusePtz, f)) {
    status = f.code ? f.code : VcError_PtzRefused;
  } else if (op == "control") {
    auto axis = [](const json& j, PtzHead::Axis& a) {
      if (!j.is_object()) return false;
      a.enable = j.value("enable", 0) != 0;
      a.position = j.value("position", 0);
      a.speed = j.value("speed", 0);
      return true;
    };
    PtzHead::Axis pan, tilt;
    bool hasSetting = axis(req.value("pan", json()), pan) && axis(req.value("tilt", json()), tilt);
    status = head_.control(req.value("type", 0u), hasSetting ? &pan : nullptr,
                           hasSetting ? &tilt : nullptr);
  } else if (op == "preset-set") {
    status = head_.presetSet(req.value("preset", 0));
  } else if (op == "preset-clear") {
    status = head_.presetClear(req.value("preset", 0));
  } else if (op == "code") {
    if (req.value("code", 0u) == VcControlCode_PresetRecall) {
      std::uint64_t value = req.value("value", std::uint64_t(0));
      status = value > 0xFFFF ? VcStatus(VcError_PresetNotFound)
                              : head_.presetRecall(static_cast<int>(value));
    } else {
      status = VcError_NotSupported;
    }
  } else {
    status = VcError_InvalidParameter;
  }
  record["result"] = status;
  lastPtz_ = record;
  return status;
}

}  // namespace vcam
