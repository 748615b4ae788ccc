// CameraManager: every discovered camera at once; connects them, fires them
// volley by volley and lets them go. Thread-bound.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/CameraController.h"
#include "vcsdk/VcSDK.h"

class CameraManager {
 public:
  CameraManager() = default;
  ~CameraManager();  // disconnectAll
  CameraManager(const CameraManager&) = delete;
  CameraManager& operator=(const CameraManager&) = delete;

  std::int32_t connectAll(const std::string& saveDir, const std::string& prefix);
  void captureAll(std::int32_t shots);
  void disconnectAll();

 private:
  VCSDK::IVcEnumCameraObjectInfo* cameraList = nullptr;
  std::vector<std::unique_ptr<CameraController>> controllers;
};
