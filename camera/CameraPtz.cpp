// CameraController: the pan/tilt head. Each operation hands one command to
// the SDK and returns; none waits for the head to move.
#include <cctype>

#include "camera/CameraController.h"
#include "camera/SdkStatus.h"

namespace {

// One axis of a drive setting, switched on (pan and tilt have their own types
// of the same shape).
template <typename Axis>
Axis driveAxis(std::int32_t position, std::int32_t speed) {
  Axis axis;
  axis.enable = 1;
  axis.position = position;
  axis.speed = speed;
  return axis;
}

VCSDK::VcPTZFSetting drive(std::int32_t panPosition, std::int32_t panSpeed,
                           std::int32_t tiltPosition, std::int32_t tiltSpeed) {
  VCSDK::VcPTZFSetting setting;
  setting.pan = driveAxis<VCSDK::VcDrivePanSetting>(panPosition, panSpeed);
  setting.tilt = driveAxis<VCSDK::VcDriveTiltSetting>(tiltPosition, tiltSpeed);
  return setting;
}

}  // namespace

bool CameraController::ptzMove(std::int32_t panSpeed, std::int32_t tiltSpeed) {
  VCSDK::VcPTZFSetting setting = drive(0, panSpeed, 0, tiltSpeed);
  return hasDevice() &&
         okOrError(VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Continuous, &setting),
                   "ptzMove");
}

bool CameraController::ptzAbsolute(std::int32_t pan, std::int32_t tilt, std::int32_t speed) {
  VCSDK::VcPTZFSetting setting = drive(pan, speed, tilt, speed);
  return hasDevice() &&
         okOrError(VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Absolute, &setting),
                   "ptzAbsolute");
}

bool CameraController::ptzHome() {
  return hasDevice() &&
         okOrError(VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Home, nullptr), "ptzHome");
}

// Reads the device handle and nothing else the other operations change (only
// connect and disconnect write it), and the SDK takes calls on one handle from
// several threads: a stop may therefore run beside a capture or a setter.
bool CameraController::ptzStop() {
  return hasDevice() &&
         okOrError(VCSDK::ControlPTZF(deviceHandle, VCSDK::VcPTZFControl_Stop, nullptr), "ptzStop");
}

bool CameraController::ptzPresetSet(std::uint16_t number) {
  return hasDevice() && okOrError(VCSDK::PresetPTZFSet(deviceHandle, number, VCSDK::VcPresetInclude,
                                                       VCSDK::VcPresetInclude),
                                  "ptzPresetSet(%u)", static_cast<unsigned>(number));
}

bool CameraController::ptzPresetRecall(std::uint16_t number) {
  return hasDevice() &&
         okOrError(VCSDK::ExecuteControlCodeValue(deviceHandle, VCSDK::VcControlCode_PresetRecall,
                                                  static_cast<std::uint64_t>(number)),
                   "ptzPresetRecall(%u)", static_cast<unsigned>(number));
}

bool CameraController::ptzPresetClear(std::uint16_t number) {
  return hasDevice() && okOrError(VCSDK::PresetPTZFClear(deviceHandle, number),
                                  "ptzPresetClear(%u)", static_cast<unsigned>(number));
}

std::string CameraController::headKey() const {
  if (cameraInfo == nullptr) return "";
  const char* ip = cameraInfo->GetIpAddressChar();
  const char* mac = cameraInfo->GetMacAddressChar();
  std::string key = std::string(ip != nullptr ? ip : "") + " " + (mac != nullptr ? mac : "");
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}
