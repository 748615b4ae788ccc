// Pictures: the shutter button, the capture thread that renders stills off
// the lock, downloads, and live view.
#include <chrono>
#include <ctime>

#include "vcam/Camera.h"

namespace vcam {

using namespace VCSDK;

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

VcStatus Camera::command(const std::string& session, std::uint32_t id, std::uint32_t param) {
  // Read before the lock, so a press is stamped when it arrived rather than
  // when a render or a poll let it in: a volley's spread is measured here.
  const std::int64_t arrivedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
  MutexLock lock(mutex_);
  Session* s = findReadyLocked(session);
  if (!s) return VcError_NotConnected;
  if (id != VcCommand_Release) return VcError_NotSupported;
  if (param == VcCommandParam_Down) {
    s->pressed = true;
    lastPressUs_ = arrivedUs;
    return VcError_None;
  }
  if (param != VcCommandParam_Up) return VcError_InvalidParameter;
  // The picture is taken when a pressed button comes back up; a lone
  // release is harmless.
  if (!s->pressed) return VcError_None;
  s->pressed = false;
  ++shots_;
  Fault f;
  if (takeFaultLocked(FaultKind::CaptureError, f)) {
    pushLocked(*s, errorEvent(f.code ? f.code : VcError_CaptureFailed));
    return VcError_None;
  }
  std::uint32_t dest = settings_.storeDestination;
  bool toCard = dest == VcStillImageStore_Camera || dest == VcStillImageStore_HostPCAndCamera;
  bool toHost = dest != VcStillImageStore_Camera && s->saveInfo;
  if (toCard || !toHost) ++onCard_;
  if (toHost) {
    Clock::time_point due = Clock::now();
    if (takeFaultLocked(FaultKind::CaptureDelay, f)) due += std::chrono::milliseconds(f.ms);
    captureJobs_.push_back(CaptureJob{session, viewLocked(), due,
                                      stillExifFor(settings_, options_.model, std::time(nullptr))});
    captureWake_.notify_all();
  }
  return VcError_None;
}

void Camera::captureLoop() {
  for (;;) {
    CaptureJob job;
    {
      MutexLock lock(mutex_);
      lock.wait(captureWake_,
                [this]() REQUIRES(mutex_) { return stopping_ || !captureJobs_.empty(); });
      if (stopping_) return;
      job = std::move(captureJobs_.front());
      captureJobs_.pop_front();
    }
    // Rendering a still takes long; links and polls go on meanwhile.
    std::vector<std::uint8_t> jpeg = renderer_.still(job.view);
    addStillExif(jpeg, job.exif);
    MutexLock lock(mutex_);
    auto it = sessions_.find(job.session);
    if (it == sessions_.end()) continue;  // the link went away meanwhile
    if (jpeg.empty()) {
      pushLocked(it->second, errorEvent(VcError_CaptureFailed));
      continue;
    }
    std::uint64_t id = nextPictureId_++;
    pictures_[id] = Picture{job.session, std::move(jpeg)};
    pushLocked(it->second, pictureEvent(id, job.due));
  }
}

bool Camera::takePicture(const std::string& session, std::uint64_t id,
                         std::vector<std::uint8_t>& out) {
  MutexLock lock(mutex_);
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
    MutexLock lock(mutex_);
    if (!findReadyLocked(session)) {
      stage = "info";
      return VcError_NotConnected;
    }
    Fault f;
    if (takeFaultLocked(FaultKind::LvError, f)) {
      stage = "info";
      return f.code ? f.code : VcError_LiveViewUnavailable;
    }
    if (takeFaultLocked(FaultKind::LvImageError, f)) {
      stage = "image";
      return f.code ? f.code : VcError_LiveViewImageFailed;
    }
    if (takeFaultLocked(FaultKind::LvEmpty, f)) return VcError_None;
    view = viewLocked();
  }
  frame = renderer_.liveFrame(view);
  if (!frame || frame->jpeg.empty()) {
    frame.reset();
    stage = "image";
    return VcError_LiveViewImageFailed;
  }
  MutexLock lock(mutex_);
  ++lvFrames_;
  return VcError_None;
}

std::shared_ptr<const Frame> Camera::inspectFrame() {
  ViewParams view;
  {
    MutexLock lock(mutex_);
    view = viewLocked();
  }
  return renderer_.liveFrame(view);
}

}  // namespace vcam
