// CameraController: the exposure setters and the settings that make the
// camera deliver its still pictures to this computer.
#include <cmath>
#include <vector>

#include "camera/CameraController.h"
#include "camera/SdkStatus.h"

namespace {

VCSDK::VcStatus setProp(std::int64_t handle, std::uint32_t code, VCSDK::VcDataType type,
                        std::uint64_t value) {
  VCSDK::VcDeviceProperty property;
  property.SetCode(code);
  property.SetValueType(type);
  property.SetCurrentValue(value);
  return VCSDK::SetDeviceProperty(handle, &property);
}

VCSDK::VcStatus setU16(std::int64_t handle, std::uint32_t code, std::uint16_t value) {
  return setProp(handle, code, VCSDK::VcDataType_UInt16, static_cast<std::uint64_t>(value));
}

// Double to integer conversions saturate (NaN gives 0), as the arm64
// conversion instructions do, instead of leaving out-of-range values undefined.
std::uint32_t toU32Saturating(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(v);
}

std::int32_t toI32Saturating(double v) {
  if (std::isnan(v)) return 0;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(v);
}

}  // namespace

bool CameraController::setIso(std::uint32_t iso) {
  return hasDevice() && okOrError(setProp(deviceHandle, VCSDK::VcDeviceProperty_IsoSensitivity,
                                          VCSDK::VcDataType_UInt32, iso),
                                  "setIso(0x%06X)", iso);
}

bool CameraController::setFNumber(double fNumber) {
  if (!hasDevice()) return false;
  // One fused multiply-add, so 2.85 lands on 285 and not on 284.
  const std::uint32_t hundredths = toU32Saturating(std::fma(fNumber, 100.0, 0.5));
  return okOrError(setU16(deviceHandle, VCSDK::VcDeviceProperty_FNumber,
                          static_cast<std::uint16_t>(hundredths & 0xFFFF)),
                   "setFNumber(%.1f)", fNumber);
}

bool CameraController::setShutterSpeed(std::uint16_t numerator, std::uint16_t denominator) {
  const std::uint32_t packed =
      (static_cast<std::uint32_t>(numerator) << 16) | static_cast<std::uint32_t>(denominator);
  return hasDevice() && okOrError(setProp(deviceHandle, VCSDK::VcDeviceProperty_ShutterSpeed,
                                          VCSDK::VcDataType_UInt32, packed),
                                  "setShutterSpeed(%u/%u)", static_cast<unsigned>(numerator),
                                  static_cast<unsigned>(denominator));
}

bool CameraController::setExposureBias(double ev) {
  if (!hasDevice()) return false;
  // The camera takes the signed 16-bit pattern under the unsigned type tag.
  const std::int32_t milli = toI32Saturating(ev * 1000.0);
  return okOrError(setU16(deviceHandle, VCSDK::VcDeviceProperty_ExposureBiasCompensation,
                          static_cast<std::uint16_t>(static_cast<std::uint32_t>(milli) & 0xFFFF)),
                   "setExposureBias(%.1f)", ev);
}

bool CameraController::setupForPcCapture(const std::string& folder, const std::string& prefix) {
  if (!hasDevice()) return false;
  okOrWarn(setU16(deviceHandle, VCSDK::VcDeviceProperty_PriorityKeySettings,
                  VCSDK::VcPriorityKey_PCRemote),
           "PriorityKeySettings");
  okOrWarn(setU16(deviceHandle, VCSDK::VcDeviceProperty_StillImageStoreDestination,
                  VCSDK::VcStillImageStore_HostPC),
           "StillImageStoreDestination");

  // The SDK takes writable texts.
  std::vector<char> folderCopy(folder.begin(), folder.end());
  folderCopy.push_back('\0');
  std::vector<char> prefixCopy(prefix.begin(), prefix.end());
  prefixCopy.push_back('\0');
  return okOrError(VCSDK::SetSaveInfo(deviceHandle, folderCopy.data(), prefixCopy.data(),
                                      VCSDK::VcSaveInfo_AutoNumber),
                   "SetSaveInfo");
}
