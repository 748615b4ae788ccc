// CameraController: one still picture, from shutter press to the download
// report.
#include <chrono>
#include <cstdio>
#include <thread>

#include "camera/CameraController.h"

bool CameraController::capturePhoto(int timeoutMs, std::string* savedAs) {
  if (!hasDevice()) return false;
  const std::uint32_t startCount = downloadsSoFar();
  pressShutter();
  std::this_thread::sleep_for(kShutterHold);
  releaseShutter();
  std::printf("[info] disparo enviado, aguardando download...\n");

  const DownloadWait outcome = awaitDownload(
      startCount, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs),
      std::chrono::milliseconds(50), savedAs);
  if (outcome == DownloadWait::TimedOut) {
    std::printf("[error] timeout aguardando o download da foto\n");
  }
  return outcome == DownloadWait::Arrived;
}

VCSDK::VcStatus CameraController::pressShutter() {
  if (!hasDevice()) return VCSDK::VcError_NotConnected;
  // An error reported before this picture (a refused setting, an earlier
  // failed picture) must not fail it at the first look.
  callback.clearError();
  return VCSDK::SendCommand(deviceHandle, VCSDK::VcCommand_Release, VCSDK::VcCommandParam_Down);
}

VCSDK::VcStatus CameraController::releaseShutter() {
  if (!hasDevice()) return VCSDK::VcError_NotConnected;
  return VCSDK::SendCommand(deviceHandle, VCSDK::VcCommand_Release, VCSDK::VcCommandParam_Up);
}

CameraController::DownloadWait CameraController::awaitDownload(
    std::uint32_t after, std::chrono::steady_clock::time_point deadline,
    std::chrono::milliseconds poll, std::string* pathOut) const {
  using Clock = std::chrono::steady_clock;
  while (Clock::now() < deadline) {
    if (callback.downloadCount() > after) {
      if (pathOut != nullptr) *pathOut = callback.downloadPath(after + 1);
      return DownloadWait::Arrived;
    }
    // A camera whose link is gone delivers nothing more: waiting out the
    // time-out would hold the caller 15 s per shot for no picture.
    if (callback.lastError() != 0 || callback.disconnected()) return DownloadWait::Failed;
    std::this_thread::sleep_for(poll);
  }
  return DownloadWait::TimedOut;
}
