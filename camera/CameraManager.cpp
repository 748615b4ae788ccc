// CameraManager: connects every discovered camera, fires them one after
// another volley by volley, and lets them all go.
#include "camera/CameraManager.h"

#include <cstdio>

#include "camera/Defaults.h"
#include "camera/Discovery.h"

CameraManager::~CameraManager() { disconnectAll(); }

std::int32_t CameraManager::connectAll(const std::string& saveDir, const std::string& prefix) {
  // A second call starts from a clean slate rather than leaking the first list.
  disconnectAll();
  cameraList = discoverCameras();
  if (cameraList == nullptr) return 0;
  const std::uint32_t count = cameraList->GetCount();

  for (std::uint32_t i = 0; i < count; ++i) {
    VCSDK::IVcCameraObjectInfo* info = cameraList->GetCameraObjectInfo(i);
    auto controller = std::make_unique<CameraController>();
    if (!controller->connectFromInfo(info)) continue;
    if (!controller->waitConnected(defaults::kConnectWaitMs)) {
      std::printf("[warn] camera %u nao conectou a tempo\n", i);
      continue;  // its destruction disconnects it
    }
    // Each camera keeps its enumeration index in its prefix, even when cameras
    // before it were left out.
    controller->setupForPcCapture(saveDir, prefix + "_CAM" + std::to_string(i));
    controllers.push_back(std::move(controller));
    std::printf("[info] camera %u conectada.\n", i);
  }
  return static_cast<std::int32_t>(controllers.size());
}

void CameraManager::captureAll(std::int32_t shots) {
  for (std::int32_t r = 1; r <= shots; ++r) {
    std::printf("[info] disparo %d/%d em %zu camera(s)...\n", r, shots, controllers.size());
    for (auto& controller : controllers) controller->capturePhoto(defaults::kDownloadWaitMs);
  }
}

void CameraManager::disconnectAll() {
  for (auto& controller : controllers) controller->disconnect();
  // The controllers borrow camera objects from the list, so the list goes last.
  controllers.clear();
  if (cameraList != nullptr) {
    cameraList->Release();
    cameraList = nullptr;
  }
}
