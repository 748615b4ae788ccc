// CameraController: one camera, from connection request to disconnect, and
// every operation on it (status read-out, exposure, capture, live view,
// pan/tilt). Thread-bound: operations must not overlap, except that
// grabLiveViewFrame, readSettings and ptzStop only read the device handle and
// may run beside a capture or a setter; never beside connect or disconnect.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "camera/CameraStatus.h"
#include "camera/DeviceCallback.h"
#include "camera/Exposure.h"
#include "vcsdk/VcSDK.h"

class LiveViewSink;

// Called with each live-view picture (valid only during the call); returns
// false to end the run.
using FrameHandler = std::function<bool(const std::uint8_t*, std::uint32_t)>;

class CameraController {
 public:
  CameraController();
  ~CameraController();  // disconnects
  CameraController(const CameraController&) = delete;
  CameraController& operator=(const CameraController&) = delete;

  // Connection. A new request first ends any earlier connection and forgets
  // its callback state, so waitConnected reports the request just made.
  bool connectIp(const std::string& ip, const std::string& mac,
                 VCSDK::VcCameraDeviceModelList model, bool ssh, const std::string& user,
                 const std::string& password);
  bool connectFromInfo(VCSDK::IVcCameraObjectInfo* info);
  // Whether connectIp would take these texts as an address and a MAC.
  static bool addressValid(const std::string& ip, const std::string& mac);
  bool waitConnected(int timeoutMs);
  void disconnect();

  // Status read-out: the current settings; nullopt without a camera or when
  // the camera does not answer the request.
  std::optional<CameraSettings> readSettings();
  // The raw exposure program, shutter and compensation, for moving the
  // exposure by steps; nullopt without a camera or an answer.
  std::optional<ExposureNow> readExposure();

  // Exposure and capture settings.
  bool setIso(std::uint32_t iso);
  bool setFNumber(double fNumber);
  bool setShutterSpeed(std::uint16_t numerator, std::uint16_t denominator);
  bool setExposureBias(double ev);
  bool setupForPcCapture(const std::string& folder, const std::string& prefix);

  // Still capture: true when a new download was reported within timeoutMs;
  // savedAs, when given, then holds the downloaded file's path.
  bool capturePhoto(int timeoutMs, std::string* savedAs = nullptr);

  // The steps of capturePhoto, for callers that issue several cameras'
  // presses together: press (forgets an earlier error first), hold for
  // kShutterHold, release, then await the download that followed the press.
  static constexpr std::chrono::milliseconds kShutterHold{100};
  VCSDK::VcStatus pressShutter();
  VCSDK::VcStatus releaseShutter();
  // The download count to await after: taken before the press, so a
  // download that lands before the first look still counts.
  std::uint32_t downloadsSoFar() const { return callback.downloadCount(); }
  enum class DownloadWait { Arrived, Failed, TimedOut };
  // Looks every `poll` until a download beyond `after` is reported
  // (Arrived), the camera reports an error or loses its link (Failed), or
  // the deadline passes. pathOut, if given, receives where the SDK saved
  // the picture.
  DownloadWait awaitDownload(std::uint32_t after, std::chrono::steady_clock::time_point deadline,
                             std::chrono::milliseconds poll, std::string* pathOut = nullptr) const;

  // Live view.
  void runLiveView(const FrameHandler& handler, std::int32_t attempts);
  void runLiveView(LiveViewSink& sink, std::int32_t attempts);
  bool grabLiveViewFrame(std::vector<std::uint8_t>& out);

  // Pan/tilt head.
  bool ptzMove(std::int32_t panSpeed, std::int32_t tiltSpeed);
  bool ptzAbsolute(std::int32_t pan, std::int32_t tilt, std::int32_t speed);
  bool ptzHome();
  bool ptzStop();
  bool ptzPresetSet(std::uint16_t number);
  bool ptzPresetRecall(std::uint16_t number);
  bool ptzPresetClear(std::uint16_t number);
  // "<address> <mac>" of the camera asked for, MAC in lower case; empty
  // without one. Tells heads apart (the server keeps presets per head).
  std::string headKey() const;

  // True while a device handle is held (a request was accepted and not yet
  // disconnected).
  bool hasDevice() const { return deviceHandle != 0; }
  const DeviceCallback& events() const { return callback; }
  // Who hears this camera's events besides the controller (see DeviceCallback).
  void setObserver(DeviceObserver* observer) { callback.setObserver(observer); }

 private:
  VCSDK::IVcCameraObjectInfo* cameraInfo = nullptr;
  bool ownsCameraInfo = false;
  std::int64_t deviceHandle = 0;
  DeviceCallback callback;
};
