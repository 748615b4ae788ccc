// One virtual camera body: settings, sessions with their event queues,
// capture, live view, the head, and the faults tests can inject.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "vcam/Options.h"
#include "vcam/PtzHead.h"
#include "vcam/Renderer.h"
#include "vcam/Settings.h"
#include "vcsdk/VcTypes.h"

namespace vcam {

using Clock = std::chrono::steady_clock;

struct Event {
  std::string type;  // vcwire::kEvent*
  std::uint32_t code = 0;
  std::vector<std::uint32_t> codes;
  std::uint64_t id = 0;
  Clock::time_point due;
};

// Thread-safe: every public operation may run on any HTTP worker.
class Camera {
 public:
  Camera(const Options& options, const Scene& scene);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  nlohmann::json identify() const;
  VCSDK::VcStatus fingerprint(std::string& out) const;
  VCSDK::VcStatus connect(const nlohmann::json& request, std::string& session);
  void disconnect(const std::string& session);
  // Waits up to waitMs for due events. False when the session is gone.
  bool waitEvents(const std::string& session, int waitMs, std::vector<Event>& out);

  VCSDK::VcStatus setProperty(const std::string& session, std::uint32_t code, std::uint64_t value);
  VCSDK::VcStatus getProperties(const std::string& session, const std::vector<std::uint32_t>& codes,
                                std::vector<PropertyValue>& out);
  VCSDK::VcStatus saveInfo(const std::string& session, const std::string& folder,
                           const std::string& prefix);
  VCSDK::VcStatus command(const std::string& session, std::uint32_t id, std::uint32_t param);
  // Hands out a picture once; false when there is no such picture.
  bool takePicture(const std::string& session, std::uint64_t id, std::vector<std::uint8_t>& out);
  // 0 with a frame, 0 without one (nothing this time), or a code; stage
  // tells which SDK call the failure belongs to ("info" or "image").
  VCSDK::VcStatus liveView(const std::string& session, std::shared_ptr<const Frame>& frame,
                           std::string& stage);
  VCSDK::VcStatus ptz(const std::string& session, const nlohmann::json& request);

  // Inspection and faults.
  nlohmann::json state();
  // False with a reason for an unknown fault name.
  bool fault(const std::string& name, std::uint32_t code, std::uint32_t prop, int ms, int count,
             std::string& error);
  std::shared_ptr<const Frame> inspectFrame();
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
  };

  Session* findReadyLocked(const std::string& session);
  // True (with the fault) when the named fault is set; uses up one count.
  bool takeFaultLocked(const std::string& name, Fault& out);
  bool takePropFaultLocked(std::uint32_t prop, Fault& out);
  void pushLocked(Session& s, Event e);
  void broadcastLocked(Event e);
  ViewParams viewLocked();
  int batteryLocked() const;
  void captureLoop();
  void forgetSessionLocked(const std::string& session);

  const Options options_;
  const Lens lens_;
  const bool hasHead_;
  const Clock::time_point start_ = Clock::now();
  Renderer renderer_;
  PtzHead head_;

  std::mutex mutex_;
  std::condition_variable eventsChanged_;
  Settings settings_;
  std::map<std::string, Session> sessions_;
  std::map<std::string, Fault> faults_;
  std::map<std::uint32_t, Fault> propFaults_;
  struct Picture {
    std::string session;
    std::vector<std::uint8_t> jpeg;
  };
  std::map<std::uint64_t, Picture> pictures_;  // waiting for download
  std::uint64_t nextPictureId_ = 1;
  std::uint64_t nextSession_ = 1;
  unsigned shots_ = 0, downloads_ = 0, onCard_ = 0, lvFrames_ = 0;
  std::string saveFolder_, savePrefix_;
  nlohmann::json lastPtz_;

  std::deque<CaptureJob> captureJobs_;
  std::condition_variable captureWake_;
  bool stopping_ = false;
  std::thread captureThread_;
};

}  // namespace vcam
