// Status read-out: one SDK request for the current settings, turned into the
// texts that "/properties" returns and the console shows.
#include "camera/CameraStatus.h"

#include <cstdarg>
#include <cstdio>

#include "camera/CameraController.h"
#include "camera/SdkStatus.h"
#include "common/PropertyValues.h"
#include "vcsdk/VcSDK.h"

namespace {

// U+2014 as its UTF-8 bytes.
const char kMissing[] = "\xE2\x80\x94";

// The first entry with the code wins, as the camera may repeat one.
bool findValue(const VCSDK::VcDeviceProperty* properties, std::int32_t count, std::uint32_t code,
               std::uint64_t& value) {
  if (properties == nullptr) return false;
  for (std::int32_t i = 0; i < count; ++i) {
    if (properties[i].GetCode() == code) {
      value = properties[i].GetCurrentValue();
      return true;
    }
  }
  return false;
}

std::string format(const char* pattern, ...) KAMORA_PRINTF(1, 2);
std::string format(const char* pattern, ...) {
  // Every text here is a few numbers long.
  char text[32];
  std::va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

std::string isoText(std::uint64_t v) {
  const unsigned low = static_cast<unsigned>(v & 0xFFFFFF);
  return low == VCSDK::VcIsoAuto ? std::string("AUTO") : format("%u", low);
}

}  // namespace

std::string shutterText(std::uint32_t raw) {
  const unsigned num = raw >> 16;
  const unsigned den = raw & 0xFFFF;
  if (raw == VCSDK::VcShutterBulb) return "BULB";
  if (num == 1) return format("1/%u", den);
  if (den == 1) return format("%u\"", num);  // whole seconds read 30"
  return format("%u/%u", num, den);
}

std::string evText(int milli) { return format("%+.1f", milli / 1000.0); }

namespace {

std::string nameOr(const ValueNames& names, std::uint64_t v, const char* unnamed) {
  const char* name = names.nameOf(v);
  return name != nullptr ? name : unnamed;
}

}  // namespace

CameraSettings settingsFromProperties(const VCSDK::VcDeviceProperty* properties,
                                      std::int32_t count) {
  CameraSettings s{kMissing, kMissing, kMissing, kMissing, kMissing,
                   kMissing, kMissing, kMissing, -1};
  std::uint64_t v = 0;
  if (findValue(properties, count, VCSDK::VcDeviceProperty_IsoSensitivity, v)) s.iso = isoText(v);
  if (findValue(properties, count, VCSDK::VcDeviceProperty_FNumber, v) && v < 0xFFF0) {
    s.fnumber = format("f/%.1f", static_cast<double>(v) / 100.0);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ShutterSpeed, v)) {
    s.shutter = shutterText(static_cast<std::uint32_t>(v));
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ExposureBiasCompensation, v)) {
    s.ev = evText(static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF)));
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ExposureProgramMode, v)) {
    s.mode = nameOr(kExposurePrograms, v, kMissing);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_FocusMode, v)) {
    s.focus = nameOr(kFocusModes, v, kMissing);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_WhiteBalance, v)) {
    s.wb = nameOr(kWhiteBalances, v, "Outro");
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ColorTemperature, v) && v != 0) {
    s.kelvin = format("%uK", static_cast<unsigned>(static_cast<std::uint32_t>(v)));
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_BatteryRemain, v)) {
    s.battery = static_cast<long long>(static_cast<std::int64_t>(v));
  }
  return s;
}

std::optional<CameraSettings> CameraController::readSettings() {
  if (!hasDevice()) return std::nullopt;
  // 0x01C5 (live-view status) is asked for with the rest but not shown.
  std::uint32_t codes[10] = {
      VCSDK::VcDeviceProperty_IsoSensitivity,      VCSDK::VcDeviceProperty_FNumber,
      VCSDK::VcDeviceProperty_ShutterSpeed,        VCSDK::VcDeviceProperty_ExposureBiasCompensation,
      VCSDK::VcDeviceProperty_ExposureProgramMode, VCSDK::VcDeviceProperty_FocusMode,
      VCSDK::VcDeviceProperty_WhiteBalance,        VCSDK::VcDeviceProperty_ColorTemperature,
      VCSDK::VcDeviceProperty_LiveViewStatus,      VCSDK::VcDeviceProperty_BatteryRemain};
  VCSDK::VcDeviceProperty* properties = nullptr;
  std::int32_t count = 0;
  const VCSDK::VcStatus status =
      VCSDK::GetSelectDeviceProperties(deviceHandle, 10, codes, &properties, &count);
  if (!sdkOk(status) || properties == nullptr) return std::nullopt;
  CameraSettings settings = settingsFromProperties(properties, count);
  VCSDK::ReleaseDeviceProperties(deviceHandle, properties);
  return settings;
}

std::optional<ExposureNow> CameraController::readExposure() {
  if (!hasDevice()) return std::nullopt;
  std::uint32_t codes[3] = {VCSDK::VcDeviceProperty_ExposureProgramMode,
                            VCSDK::VcDeviceProperty_ShutterSpeed,
                            VCSDK::VcDeviceProperty_ExposureBiasCompensation};
  VCSDK::VcDeviceProperty* properties = nullptr;
  std::int32_t count = 0;
  const VCSDK::VcStatus status =
      VCSDK::GetSelectDeviceProperties(deviceHandle, 3, codes, &properties, &count);
  if (!sdkOk(status) || properties == nullptr) return std::nullopt;
  ExposureNow now;
  std::uint64_t v = 0;
  if (findValue(properties, count, codes[0], v)) now.mode = static_cast<std::uint32_t>(v);
  if (findValue(properties, count, codes[1], v)) now.shutter = static_cast<std::uint32_t>(v);
  if (findValue(properties, count, codes[2], v)) {
    now.evMilli = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
  }
  VCSDK::ReleaseDeviceProperties(deviceHandle, properties);
  return now;
}
