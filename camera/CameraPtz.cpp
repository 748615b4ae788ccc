// CameraController: the pan/tilt head. Each operation hands one command to
// the SDK and returns; none waits for the head to move.
#include <cstdio>

#include "camera/CameraController.h"

namespace {

VCSDK::VcPTZFSetting makePtzf(std::int32_t panPosition, std::int32_t panSpeed,
                              std::int32_t tiltPosition, std::int32_t tiltSpeed) {
  VCSDK::VcPTZFSetting setting;
  setting.pan.enable = 1;
  setting.pan.position = panPosition;
  setting.pan.speed = panSpeed;
  setting.tilt.enable = 1;
  setting.tilt.position = tiltPosition;
  setting.tilt.speed = tiltSpeed;
  return setting;
}

}  // namespace

bool CameraController::ptzMove(std::int32_t panSpeed, std::int32_t tiltSpeed) {
  if (deviceHandle == 0) return false;
  VCSDK::VcPTZFSetting setting = makePtzf(0, panSpeed, 0, tiltSpeed);
  VCSDK::VcStatus status =
      VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Continuous, &setting);
  if (status != 0) {
    std::printf("[error] ptzMove: 0x%08X\n", status);
    return false;
  }
  return true;
}

bool CameraController::ptzAbsolute(std::int32_t pan, std::int32_t tilt, std::int32_t speed) {
  if (deviceHandle == 0) return false;
  VCSDK::VcPTZFSetting setting = makePtzf(pan, speed, tilt, speed);
  VCSDK::VcStatus status =
      VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Absolute, &setting);
  if (status != 0) {
    std::printf("[error] ptzAbsolute: 0x%08X\n", status);
    return false;
  }
  return true;
}

bool CameraController::ptzHome() {
  if (deviceHandle == 0) return false;
  VCSDK::VcStatus status = VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Home, nullptr);
  if (status != 0) {
    std::printf("[error] ptzHome: 0x%08X\n", status);
    return false;
  }
  return true;
}

bool CameraController::ptzStop() {
  if (deviceHandle == 0) return false;
  VCSDK::VcStatus status = VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Stop, nullptr);
  if (status != 0) {
    std::printf("[error] ptzStop: 0x%08X\n", status);
    return false;
  }
  return true;
}

bool CameraController::ptzPresetSet(std::uint16_t number) {
  if (deviceHandle == 0) return false;
  VCSDK::VcStatus status =
      VCSDK::PresetPTZFSet(deviceHandle, number, VCSDK::VcPresetInclude, VCSDK::VcPresetInclude);
  if (status != 0) {
    std::printf("[error] ptzPresetSet(%u): 0x%08X\n", static_cast<unsigned>(number), status);
    return false;
  }
  return true;
}

bool CameraController::ptzPresetRecall(std::uint16_t number) {
  if (deviceHandle == 0) return false;
  VCSDK::VcStatus status = VCSDK::ExecuteControlCodeValue(
      deviceHandle, VCSDK::VcControlCode_PresetRecall, static_cast<std::uint64_t>(number));
  if (status != 0) {
    std::printf("[error] ptzPresetRecall(%u): 0x%08X\n", static_cast<unsigned>(number), status);
    return false;
  }
  return true;
}

bool CameraController::ptzPresetClear(std::uint16_t number) {
  if (deviceHandle == 0) return false;
  VCSDK::VcStatus status = VCSDK::PresetPTZFClear(deviceHandle, number);
  if (status != 0) {
    std::printf("[error] ptzPresetClear(%u): 0x%08X\n", static_cast<unsigned>(number), status);
    return false;
  }
  return true;
}
