// Status read-out: one SDK request for the current settings, turned into the
// flat JSON object that "/properties" returns and the console shows.
#include "camera/CameraStatus.h"

#include <cinttypes>
#include <cstdio>

#include "camera/CameraController.h"
#include "vcsdk/VcSDK.h"

namespace {

// U+2014, written as its UTF-8 bytes so the JSON carries it unescaped.
const char kMissing[] = "\xE2\x80\x94";

const char* exposureModeName(std::uint64_t value) {
  switch (value) {
    case 1:
      return "M";
    case 2:
      return "P";
    case 3:
      return "A";
    case 4:
      return "S";
    case 0x8000:
      return "Auto";
    case 0x8001:
      return "Auto+";
    default:
      return kMissing;
  }
}

const char* focusModeName(std::uint64_t value) {
  switch (value) {
    case 1:
      return "MF";
    case 2:
      return "AF-S";
    case 3:
      return "AF-C";
    case 4:
      return "AF-A";
    case 5:
      return "AF-D";
    case 6:
      return "DMF";
    case 7:
      return "PF";
    default:
      return kMissing;
  }
}

const char* wbName(std::uint64_t value) {
  switch (value) {
    case 0:
      return "Auto";
    case 0x11:
      return "Daylight";
    case 0x12:
      return "Shade";
    case 0x13:
      return "Cloudy";
    case 0x14:
      return "Tungsten";
    case 0x100:
      return "Kelvin";
    default:
      return "Outro";
  }
}

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

}  // namespace

std::string statusJsonFromProperties(const VCSDK::VcDeviceProperty* properties,
                                     std::int32_t count) {
  char iso[24], fnumber[24], shutter[24], ev[16], kelvin[16];
  std::snprintf(iso, sizeof iso, "%s", kMissing);
  std::snprintf(fnumber, sizeof fnumber, "%s", kMissing);
  std::snprintf(shutter, sizeof shutter, "%s", kMissing);
  std::snprintf(ev, sizeof ev, "%s", kMissing);
  std::snprintf(kelvin, sizeof kelvin, "%s", kMissing);
  const char* mode = kMissing;
  const char* focus = kMissing;
  const char* wb = kMissing;
  long long battery = -1;

  std::uint64_t v = 0;
  if (findValue(properties, count, VCSDK::VcDeviceProperty_IsoSensitivity, v)) {
    const unsigned low = static_cast<unsigned>(v & 0xFFFFFF);
    if (low == VCSDK::VcIsoAuto) {
      std::snprintf(iso, sizeof iso, "AUTO");
    } else {
      std::snprintf(iso, sizeof iso, "%u", low);
    }
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_FNumber, v) && v < 0xFFF0) {
    std::snprintf(fnumber, sizeof fnumber, "f/%.1f", static_cast<double>(v) / 100.0);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ShutterSpeed, v)) {
    const std::uint32_t raw = static_cast<std::uint32_t>(v);
    const unsigned num = raw >> 16;
    const unsigned den = raw & 0xFFFF;
    if (raw == VCSDK::VcShutterBulb) {
      std::snprintf(shutter, sizeof shutter, "BULB");
    } else if (num == 1) {
      std::snprintf(shutter, sizeof shutter, "1/%u", den);
    } else if (den == 1) {
      // Whole seconds read 30"; the quotation mark is escaped for JSON.
      std::snprintf(shutter, sizeof shutter, "%u\\\"", num);
    } else {
      std::snprintf(shutter, sizeof shutter, "%u/%u", num, den);
    }
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ExposureBiasCompensation, v)) {
    const std::int16_t milli = static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
    std::snprintf(ev, sizeof ev, "%+.1f", milli / 1000.0);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ExposureProgramMode, v)) {
    mode = exposureModeName(v);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_FocusMode, v)) {
    focus = focusModeName(v);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_WhiteBalance, v)) {
    wb = wbName(v);
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_ColorTemperature, v) && v != 0) {
    std::snprintf(kelvin, sizeof kelvin, "%uK",
                  static_cast<unsigned>(static_cast<std::uint32_t>(v)));
  }
  if (findValue(properties, count, VCSDK::VcDeviceProperty_BatteryRemain, v)) {
    battery = static_cast<long long>(static_cast<std::int64_t>(v));
  }

  char json[768];
  std::snprintf(json, sizeof json,
                "{\"iso\":\"%s\",\"fnumber\":\"%s\",\"shutter\":\"%s\",\"ev\":\"%s\",\"mode\":"
                "\"%s\",\"focus\":\"%s\",\"wb\":\"%s\",\"kelvin\":\"%s\",\"battery\":%lld}",
                iso, fnumber, shutter, ev, mode, focus, wb, kelvin, battery);
  return json;
}

std::string CameraController::getPropertiesJson() {
  if (deviceHandle == 0) return "{}";
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
  if (status != VCSDK::VcError_None || properties == nullptr) return "{}";
  std::string json = statusJsonFromProperties(properties, count);
  VCSDK::ReleaseDeviceProperties(deviceHandle, properties);
  return json;
}
