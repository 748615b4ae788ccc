// Faults and inspection: the name table, setting and using up faults, and
// the state a test reads back.
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "vcam/Camera.h"

namespace vcam {

using nlohmann::json;

namespace {

struct FaultEntry {
  FaultKind kind;
  const char* name;
};

// The names /vcam/fault takes and /vcam/state shows.
constexpr FaultEntry kFaults[] = {
    {FaultKind::NeverReady, "never-ready"},
    {FaultKind::RefuseLink, "refuse-link"},
    {FaultKind::Drop, "drop"},
    {FaultKind::RefuseProp, "refuse-prop"},
    {FaultKind::RefuseSaveInfo, "refuse-saveinfo"},
    {FaultKind::CaptureError, "capture-error"},
    {FaultKind::CaptureDelay, "capture-delay"},
    {FaultKind::LvError, "lv-error"},
    {FaultKind::LvImageError, "lv-image-error"},
    {FaultKind::LvEmpty, "lv-empty"},
    {FaultKind::RefusePtz, "refuse-ptz"},
    {FaultKind::Clear, "clear"},
};

constexpr bool oneRowPerKindInOrder() {
  for (std::size_t i = 0; i < std::size(kFaults); ++i)
    if (kFaults[i].kind != static_cast<FaultKind>(i)) return false;
  return std::size(kFaults) == static_cast<std::size_t>(FaultKind::Clear) + 1;
}
static_assert(oneRowPerKindInOrder(), "kFaults needs one row per FaultKind, in its order");

}  // namespace

bool faultFromName(const std::string& name, FaultKind& out) {
  for (const FaultEntry& f : kFaults) {
    if (name == f.name) {
      out = f.kind;
      return true;
    }
  }
  return false;
}

const char* faultName(FaultKind kind) { return kFaults[static_cast<std::size_t>(kind)].name; }

bool Camera::takeFaultLocked(FaultKind kind, Fault& out) {
  auto it = faults_.find(kind);
  if (it == faults_.end()) return false;
  out = it->second;
  if (it->second.remaining > 0 && --it->second.remaining == 0) faults_.erase(it);
  return true;
}

bool Camera::takePropFaultLocked(std::uint32_t prop, Fault& out) {
  auto it = propFaults_.find(prop);
  if (it == propFaults_.end()) return false;
  out = it->second;
  if (it->second.remaining > 0 && --it->second.remaining == 0) propFaults_.erase(it);
  return true;
}

bool Camera::fault(FaultKind kind, std::uint32_t code, std::uint32_t prop, int ms, int count,
                   std::string& error) {
  MutexLock lock(mutex_);
  Fault f{code, ms, count > 0 ? count : -1};
  switch (kind) {
    case FaultKind::Clear:
      faults_.clear();
      propFaults_.clear();
      return true;
    case FaultKind::Drop:
      // Every open link goes at once; their pending long polls wake to find it gone.
      sessions_.clear();
      pictures_.clear();
      eventsChanged_.notify_all();
      return true;
    case FaultKind::RefuseProp:
      if (prop == 0) {
        error = "refuse-prop precisa de prop";
        return false;
      }
      propFaults_[prop] = f;
      return true;
    default:
      faults_[kind] = f;
      return true;
  }
}

json Camera::state() {
  MutexLock lock(mutex_);
  bool linked = false;
  for (auto& [id, s] : sessions_) linked = linked || s.ready;
  json j{{"model", options_.model},
         {"mac", options_.mac},
         {"ip", options_.ip},
         {"ssh", !options_.user.empty()},
         {"linked", linked},
         {"sessions", sessions_.size()},
         {"iso", settings_.iso},
         {"fnumber", settings_.fnumber},
         {"shutter", settings_.shutter},
         {"ev", settings_.ev},
         {"mode", settings_.mode},
         {"focus", settings_.focus},
         {"wb", settings_.wb},
         {"kelvin", settings_.kelvin},
         {"battery", battery()},
         {"priority_key", settings_.priorityKey},
         {"store_destination", settings_.storeDestination},
         {"save_folder", saveFolder_},
         {"save_prefix", savePrefix_},
         {"shots", shots_},
         {"downloads", downloads_},
         {"on_card", onCard_},
         {"lv_frames", lvFrames_},
         {"last_press_us", lastPressUs_},
         {"exposure_stops", exposureOffsetStops(settings_)},
         {"has_head", hasHead_}};
  PtzHead::Snapshot h = head_.snapshot();
  j["pan"] = h.pan;
  j["tilt"] = h.tilt;
  j["pan_speed"] = h.panSpeed;
  j["tilt_speed"] = h.tiltSpeed;
  json presets = json::object();
  for (auto& [n, pos] : h.presets) presets[std::to_string(n)] = {pos.first, pos.second};
  j["presets"] = presets;
  j["last_ptz"] = lastPtz_;
  // By name, as they have always been listed.
  std::vector<std::string> names;
  for (auto& [kind, f] : faults_) names.push_back(faultName(kind));
  std::sort(names.begin(), names.end());
  json faults(names);
  for (auto& [prop, f] : propFaults_) faults.push_back("refuse-prop:" + std::to_string(prop));
  j["faults"] = faults;
  return j;
}

}  // namespace vcam
