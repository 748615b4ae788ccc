// One virtual camera body: settings, sessions with their event queues,
// capture, live view, the head, and the faults tests can inject.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "vcam/CameraEvents.h"
#include "vcam/CameraFaults.h"
#include "vcam/Options.h"
#include "vcam/PtzHead.h"
#include "vcam/Renderer.h"
#include "vcam/Settings.h"
#include "vcam/StillExif.h"
#include "vcsdk/VcTypes.h"

namespace vcam {

// Thread-safe: every public operation may run on any HTTP worker. mutex_ is
// taken before the head's own lock, never after; rendering runs outside it.
class Camera {
 public:
  Camera(const Options& options, const Scene& scene);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  nlohmann::json identify() const;
  VCSDK::VcStatus fingerprint(std::string& out) const;
  VCSDK::VcStatus connect(const nlohmann::json& request, std::string& session) EXCLUDES(mutex_);
  void disconnect(const std::string& session) EXCLUDES(mutex_);
  // Waits up to waitMs for due events. False when the session is gone.
  bool waitEvents(const std::string& session, int waitMs, std::vector<Event>& out) EXCLUDES(mutex_);

  VCSDK::VcStatus setProperty(const std::string& session, std::uint32_t code, std::uint64_t value)
      EXCLUDES(mutex_);
  VCSDK::VcStatus getProperties(const std::string& session, const std::vector<std::uint32_t>& codes,
                                std::vector<PropertyValue>& out) EXCLUDES(mutex_);
  VCSDK::VcStatus saveInfo(const std::string& session, const std::string& folder,
                           const std::string& prefix) EXCLUDES(mutex_);
  VCSDK::VcStatus command(const std::string& session, std::uint32_t id, std::uint32_t param)
      EXCLUDES(mutex_);
  // Hands out a picture once; false when there is no such picture.
  bool takePicture(const std::string& session, std::uint64_t id, std::vector<std::uint8_t>& out)
      EXCLUDES(mutex_);
  // 0 with a frame, 0 without one (nothing this time), or a code; stage
  // tells which SDK call the failure belongs to ("info" or "image").
  VCSDK::VcStatus liveView(const std::string& session, std::shared_ptr<const Frame>& frame,
                           std::string& stage) EXCLUDES(mutex_);
  VCSDK::VcStatus ptz(const std::string& session, const nlohmann::json& request) EXCLUDES(mutex_);

  // Inspection and faults.
  nlohmann::json state() EXCLUDES(mutex_);
  // Sets (or, for Drop and Clear, carries out) a fault; false with a reason
  // when it lacks a parameter it needs.
  bool fault(FaultKind kind, std::uint32_t code, std::uint32_t prop, int ms, int count,
             std::string& error) EXCLUDES(mutex_);
  std::shared_ptr<const Frame> inspectFrame() EXCLUDES(mutex_);
  Renderer& renderer() { return renderer_; }

 private:
  struct Session {
    bool ready = false;
    bool saveInfo = false;
    bool pressed = false;
    std::deque<Event> events;
  };
  struct Fault {
    std::uint32_t code = 0;
    int ms = 0;
    int remaining = -1;  // -1: until cleared
  };
  struct CaptureJob {
    std::string session;
    ViewParams view;
    Clock::time_point due;
    StillExif exif;  // the exposure the camera had when it fired
  };
  struct Picture {
    std::string session;
    std::vector<std::uint8_t> jpeg;
  };

  Session* findReadyLocked(const std::string& session) REQUIRES(mutex_);
  // True (with the fault) when the fault is set; uses up one count.
  bool takeFaultLocked(FaultKind kind, Fault& out) REQUIRES(mutex_);
  bool takePropFaultLocked(std::uint32_t prop, Fault& out) REQUIRES(mutex_);
  void pushLocked(Session& s, Event e) REQUIRES(mutex_);
  void broadcastLocked(const Event& e) REQUIRES(mutex_);
  ViewParams viewLocked() REQUIRES(mutex_);
  void forgetSessionLocked(const std::string& session) REQUIRES(mutex_);
  int battery() const;
  void captureLoop() EXCLUDES(mutex_);

  const Options options_;
  const Lens lens_;
  const bool hasHead_;
  const Clock::time_point start_ = Clock::now();
  Renderer renderer_;
  PtzHead head_;

  Mutex mutex_;
  std::condition_variable eventsChanged_;
  std::condition_variable captureWake_;
  Settings settings_ GUARDED_BY(mutex_);
  std::map<std::string, Session> sessions_ GUARDED_BY(mutex_);
  std::map<FaultKind, Fault> faults_ GUARDED_BY(mutex_);
  std::map<std::uint32_t, Fault> propFaults_ GUARDED_BY(mutex_);
  std::map<std::uint64_t, Picture> pictures_ GUARDED_BY(mutex_);  // waiting for download
  std::uint64_t nextPictureId_ GUARDED_BY(mutex_) = 1;
  std::uint64_t nextSession_ GUARDED_BY(mutex_) = 1;
  unsigned shots_ GUARDED_BY(mutex_) = 0;
  unsigned downloads_ GUARDED_BY(mutex_) = 0;
  unsigned onCard_ GUARDED_BY(mutex_) = 0;
  unsigned lvFrames_ GUARDED_BY(mutex_) = 0;
  std::int64_t lastPressUs_ GUARDED_BY(mutex_) = 0;  // wall clock, since 1970
  std::string saveFolder_ GUARDED_BY(mutex_);
  std::string savePrefix_ GUARDED_BY(mutex_);
  nlohmann::json lastPtz_ GUARDED_BY(mutex_);
  std::deque<CaptureJob> captureJobs_ GUARDED_BY(mutex_);
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread captureThread_;
};

}  // namespace vcam
