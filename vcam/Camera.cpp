// The camera body's lifetime, identity and links: connecting, the sessions
// and their event queues. Controls, capture and faults have files of their own.
#include "vcam/Camera.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

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
  settings_.mode = options.mode;
  captureThread_ = std::thread([this] { captureLoop(); });
}

Camera::~Camera() {
  {
    MutexLock lock(mutex_);
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
  MutexLock lock(mutex_);
  char id[32];
  std::snprintf(id, sizeof id, "s%" PRIu64 "-%08x", nextSession_++,
                static_cast<unsigned>(Clock::now().time_since_epoch().count() & 0xFFFFFFFF));
  session = id;
  Session& s = sessions_[session];
  Fault f;
  if (takeFaultLocked(FaultKind::NeverReady, f)) return VcError_None;
  if (takeFaultLocked(FaultKind::RefuseLink, f)) {
    pushLocked(s, errorEvent(f.code ? f.code : VcError_ConnectRefused));
    return VcError_None;
  }
  s.ready = true;
  pushLocked(s, readyEvent());
  return VcError_None;
}

void Camera::disconnect(const std::string& session) {
  MutexLock lock(mutex_);
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
  MutexLock lock(mutex_);
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
    lock.waitUntil(eventsChanged_, next);
  }
}

Camera::Session* Camera::findReadyLocked(const std::string& session) {
  auto it = sessions_.find(session);
  if (it == sessions_.end() || !it->second.ready) return nullptr;
  return &it->second;
}

void Camera::pushLocked(Session& s, Event e) {
  if (e.due == Clock::time_point()) e.due = Clock::now();
  s.events.push_back(std::move(e));
  eventsChanged_.notify_all();
}

void Camera::broadcastLocked(const Event& e) {
  for (auto& [id, s] : sessions_)
    if (s.ready) pushLocked(s, e);
}

}  // namespace vcam
