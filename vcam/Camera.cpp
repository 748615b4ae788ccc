// The camera body's behaviour behind the loopback protocol.
#include "vcam/Camera.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "sdk/standin/Wire.h"

namespace vcam {

using namespace VCSDK;
using nlohmann::json;

namespace {

// A stable host-key fingerprint per body, derived from its MAC.
std::string fingerprintFor(const std::string& mac) {
  std::string out = "SHA256:";
  std::uint64_t h = 1469598103934665603ull;
  for (int round = 0; round < 4; ++round) {
    for (char c : "vcam-hostkey:" + mac) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char part[17];
    std::snprintf(part, sizeof part, "%016" PRIx64, h);
    out += part;
  }
  return out;
}

}  // namespace

Camera::Camera(const Options& options, const Scene& scene)
    : options_(options),
      lens_(lensForModel(options.model)),
      hasHead_(modelHasHead(options.model)),
      renderer_(scene, options.lvW, options.lvH, options.stillW, options.stillH, options.log,
                options.model) {
  captureThread_ = std::thread([this] { captureLoop(); });
}

Camera::~Camera() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  captureWake_.notify_all();
  eventsChanged_.notify_all();
  if (captureThread_.joinable()) captureThread_.join();
}

json Camera::identify() const {
  return json{{"model", options_.model},
              {"mac", options_.mac},
              {"ip", options_.ip},
              {"ssh", !options_.user.empty()}};
}

VcStatus Camera::fingerprint(std::string& out) const {
  if (options_.user.empty()) return VcError_FingerprintUnavailable;
  out = fingerprintFor(options_.mac);
  return VcError_None;
}

VcStatus Camera::connect(const json& req, std::string& session) {
  std::string mac;
  if (!normaliseMac(req.value("mac", std::string()), mac) || mac != options_.mac)
    return VcError_ConnectMacMismatch;
  bool wantsSsh = req.value("ssh", false);
  bool hasSsh = !options_.user.empty();
  if (!hasSsh && wantsSsh) return VcError_ConnectSshNotOffered;
  if (hasSsh) {
    std::string user = req.value("user", std::string()), pass = req.value("pass", std::string());
    if (!wantsSsh || user.empty() || pass.empty()) return VcError_ConnectAuthRequired;
    std::string fp = req.value("fingerprint", std::string());
    // Without a fingerprint the client trusts whatever key it meets.
    if (!fp.empty() && fp != fingerprintFor(options_.mac))
      return VcError_ConnectFingerprintMismatch;
    if (user != options_.user || pass != options_.pass) return VcError_ConnectAuthFailed;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  char id[32];
  std::snprintf(id, sizeof id, "s%" PRIu64 "-%08x", nextSession_++,
                static_cast<unsigned>(Clock::now().time_since_epoch().count() & 0xFFFFFFFF));
  session = id;
  Session& s = sessions_[session];
  Fault f;
  if (takeFaultLocked("never-ready", f)) return VcError_None;
  if (takeFaultLocked("refuse-link", f)) {
    pushLocked(s, Event{vcwire::kEventError, f.code ? f.code : VcError_ConnectRefused, {}, 0, {}});
    return VcError_None;
  }
  s.ready = true;
  pushLocked(s, Event{vcwire::kEventReady, 0, {}, 0, {}});
  return VcError_None;
}

void Camera::disconnect(const std::string& session) {
  std::lock_guard<std::mutex> lock(mutex_);
  forgetSessionLocked(session);
  eventsChanged_.notify_all();
}

void Camera::forgetSessionLocked(const std::string& session) {
  sessions_.erase(session);
  // Pictures nobody will fetch any more would otherwise pile up.
  for (auto it = pictures_.begin(); it != pictures_.end();)
    it = it->second.session == session ? pictures_.erase(it) : std::next(it);
}

bool Camera::waitEvents(const std::string& session, int waitMs, std::vector<Event>& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    auto it = sessions_.find(session);
    if (it == sessions_.end() || stopping_) return false;
    Clock::time_point now = Clock::now();
    Clock::time_point next = deadline;
    auto& q = it->second.events;
    for (auto e = q.begin(); e != q.end();) {
      if (e->due <= now) {
        out.push_back(*e);
        e = q.erase(e);
      } else {
        next = std::min(next, e->due);
        ++e;
      }
    }
    if (!out.empty() || now >= deadline) return true;
    eventsChanged_.wait_until(lock, next);
  }
}

Camera::Session* Camera::findReadyLocked(const std::string& session) {
  auto it = sessions_.find(session);
  if (it == sessions_.end() || !it->second.ready) return nullptr;
  return &it->second;
}

bool Camera::takeFaultLocked(const std::string& name, Fault& out) {
  auto it = faults_.find(name);
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

void Camera::pushLocked(Session& s, Event e) {
  if (e.due == Clock::time_point()) e.due = Clock::now();
  s.events.push_back(std::move(e));
  eventsChanged_.notify_all();
}

void Camera::broadcastLocked(Event e) {
  for (auto& [id, s] : sessions_)
    if (s.ready) pushLocked(s, e);
}

int Camera::batteryLocked() const {
  // One percent every minute, never quite empty.
  auto minutes = std::chrono::duration_cast<std::chrono::minutes>(Clock::now() - start_).count();
  return static_cast<int>(std::max<long long>(1, 100 - minutes));
}

ViewParams Camera::viewLocked() {
  ViewParams v;
  if (hasHead_) {
    PtzHead::Snapshot h = head_.snapshot();
    v.panDeg = h.pan / 10.0;
    v.tiltDeg = h.tilt / 10.0;
  }
  v.stops = exposureOffsetStops(settings_);
  v.wbKelvin = whiteBalanceKelvin(settings_);
  return v;
}

VcStatus Camera::setProperty(const std::string& session, std::uint32_t code, std::uint64_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  Fault f;
  if (takePropFaultLocked(code, f)) return f.code ? f.code : VcError_PropertyRefused;
  VcStatus status = applySetting(settings_, lens_, code, value);
  if (status == VcError_None) broadcastLocked(Event{vcwire::kEventProps, 0, {code}, 0, {}});
  return status;
}

VcStatus Camera::getProperties(const std::string& session, const std::vector<std::uint32_t>& codes,
                               std::vector<PropertyValue>& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  int battery = batteryLocked();
  for (std::uint32_t code : codes) {
    PropertyValue v{};
    if (readSetting(settings_, battery, code, v)) out.push_back(v);
  }
  return VcError_None;
}

VcStatus Camera::saveInfo(const std::string& session, const std::string& folder,
                          const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session* s = findReadyLocked(session);
  if (!s) return VcError_NotConnected;
  Fault f;
  if (takeFaultLocked("refuse-saveinfo", f)) return f.code ? f.code : VcError_SaveInfoRefused;
  s->saveInfo = true;
  saveFolder_ = folder;
  savePrefix_ = prefix;
  return VcError_None;
}

VcStatus Camera::command(const std::string& session, std::uint32_t id, std::uint32_t param) {
  std::lock_guard<std::mutex> lock(mutex_);
  Session* s = findReadyLocked(session);
  if (!s) return VcError_NotConnected;
  if (id != VcCommand_Release) return VcError_NotSupported;
  if (param == VcCommandParam_Down) {
    s->pressed = true;
    return VcError_None;
  }
  if (param != VcCommandParam_Up) return VcError_InvalidParameter;
  // The picture is taken when a pressed button comes back up; a lone
  // release is harmless.
  if (!s->pressed) return VcError_None;
  s->pressed = false;
  ++shots_;
  Fault f;
  if (takeFaultLocked("capture-error", f)) {
    pushLocked(*s, Event{vcwire::kEventError, f.code ? f.code : VcError_CaptureFailed, {}, 0, {}});
    return VcError_None;
  }
  std::uint32_t dest = settings_.storeDestination;
  bool toCard = dest == VcStillImageStore_Camera || dest == VcStillImageStore_HostPCAndCamera;
  bool toHost = dest != VcStillImageStore_Camera && s->saveInfo;
  if (toCard || !toHost) ++onCard_;
  if (toHost) {
    Clock::time_point due = Clock::now();
    if (takeFaultLocked("capture-delay", f)) due += std::chrono::milliseconds(f.ms);
    captureJobs_.push_back(CaptureJob{session, viewLocked(), due});
    captureWake_.notify_all();
  }
  return VcError_None;
}

void Camera::captureLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    captureWake_.wait(lock, [this] { return stopping_ || !captureJobs_.empty(); });
    if (stopping_) return;
    CaptureJob job = captureJobs_.front();
    captureJobs_.pop_front();
    lock.unlock();
    std::vector<std::uint8_t> jpeg = renderer_.still(job.view);
    lock.lock();
    auto it = sessions_.find(job.session);
    if (it == sessions_.end()) continue;  // the link went away meanwhile
    if (jpeg.empty()) {
      pushLocked(it->second, Event{vcwire::kEventError, VcError_CaptureFailed, {}, 0, {}});
      continue;
    }
    std::uint64_t id = nextPictureId_++;
    pictures_[id] = Picture{job.session, std::move(jpeg)};
    pushLocked(it->second, Event{vcwire::kEventPicture, 0, {}, id, job.due});
  }
}

bool Camera::takePicture(const std::string& session, std::uint64_t id,
                         std::vector<std::uint8_t>& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sessions_.count(session)) return false;
  auto it = pictures_.find(id);
  if (it == pictures_.end() || it->second.session != session) return false;
  out = std::move(it->second.jpeg);
  pictures_.erase(it);
  ++downloads_;
  return true;
}

VcStatus Camera::liveView(const std::string& session, std::shared_ptr<const Frame>& frame,
                          std::string& stage) {
  ViewParams view;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!findReadyLocked(session)) {
      stage = "info";
      return VcError_NotConnected;
    }
    Fault f;
    if (takeFaultLocked("lv-error", f)) {
      stage = "info";
      return f.code ? f.code : VcError_LiveViewUnavailable;
    }
    if (takeFaultLocked("lv-image-error", f)) {
      stage = "image";
      return f.code ? f.code : VcError_LiveViewImageFailed;
    }
    if (takeFaultLocked("lv-empty", f)) return VcError_None;
    view = viewLocked();
  }
  frame = renderer_.liveFrame(view);
  if (!frame || frame->jpeg.empty()) {
    frame.reset();
    stage = "image";
    return VcError_LiveViewImageFailed;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++lvFrames_;
  return VcError_None;
}

std::shared_ptr<const Frame> Camera::inspectFrame() {
  ViewParams view;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    view = viewLocked();
  }
  return renderer_.liveFrame(view);
}

VcStatus Camera::ptz(const std::string& session, const json& req) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!findReadyLocked(session)) return VcError_NotConnected;
  json record = req;
  record.erase("session");
  VcStatus status = VcError_None;
  Fault f;
  std::string op = req.value("op", std::string());
  if (!hasHead_) {
    status = VcError_PtzUnsupported;
  } else if (takeFaultLocked("refuse-ptz", f)) {
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

json Camera::state() {
  std::lock_guard<std::mutex> lock(mutex_);
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
         {"battery", batteryLocked()},
         {"priority_key", settings_.priorityKey},
         {"store_destination", settings_.storeDestination},
         {"save_folder", saveFolder_},
         {"save_prefix", savePrefix_},
         {"shots", shots_},
         {"downloads", downloads_},
         {"on_card", onCard_},
         {"lv_frames", lvFrames_},
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
  json faults = json::array();
  for (auto& [name, f] : faults_) faults.push_back(name);
  for (auto& [prop, f] : propFaults_) faults.push_back("refuse-prop:" + std::to_string(prop));
  j["faults"] = faults;
  return j;
}

bool Camera::fault(const std::string& name, std::uint32_t code, std::uint32_t prop, int ms,
                   int count, std::string& error) {
  static const char* const kNames[] = {"never-ready",    "refuse-link",   "refuse-saveinfo",
                                       "capture-error",  "capture-delay", "lv-error",
                                       "lv-image-error", "lv-empty",      "refuse-ptz"};
  std::lock_guard<std::mutex> lock(mutex_);
  Fault f{code, ms, count > 0 ? count : -1};
  if (name == "clear") {
    faults_.clear();
    propFaults_.clear();
    return true;
  }
  if (name == "drop") {
    // Every open link goes at once; their pending long polls wake to find it gone.
    sessions_.clear();
    pictures_.clear();
    eventsChanged_.notify_all();
    return true;
  }
  if (name == "refuse-prop") {
    if (prop == 0) {
      error = "refuse-prop precisa de prop";
      return false;
    }
    propFaults_[prop] = f;
    return true;
  }
  for (const char* known : kNames) {
    if (name == known) {
      faults_[name] = f;
      return true;
    }
  }
  error = "falha desconhecida: " + name;
  return false;
}

}  // namespace vcam
