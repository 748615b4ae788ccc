// CameraController: one still picture, from shutter press to the download
// report.
#include <chrono>
#include <cstdio>
#include <thread>

#include "camera/CameraController.h"

bool CameraController::capturePhoto(int timeoutMs) {
  if (!hasDevice()) return false;
  // An error reported before this picture (a refused setting, an earlier
  // failed picture) must not fail it at the first poll.
  callback.clearError();
  // Taken before the press, so a download that lands before the first poll
  // still counts.
  const std::uint32_t startCount = callback.downloadCount();

  VCSDK::SendCommand(deviceHandle, VCSDK::VcCommand_Release, VCSDK::VcCommandParam_Down);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  VCSDK::SendCommand(deviceHandle, VCSDK::VcCommand_Release, VCSDK::VcCommandParam_Up);
  std::printf("[info] disparo enviado, aguardando download...\n");

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (callback.downloadCount() > startCount) return true;
    // A camera whose link is gone delivers nothing more: waiting out the
    // time-out would hold the caller 15 s per shot for no picture.
    if (callback.lastError() != 0 || callback.disconnected()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::printf("[error] timeout aguardando o download da foto\n");
  return false;
}
