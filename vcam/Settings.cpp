// Camera-side validation: only the values a real body offers are taken.
#include "vcam/Settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/CameraModels.h"
#include "common/ShutterScale.h"

namespace vcam {

using namespace VCSDK;

namespace {

bool isStandardShutter(std::uint32_t raw) {
  return raw == VcShutterBulb || shutter_scale::indexOf(raw).has_value();
}

bool isThirdStopEv(int ev) {
  if (ev < -5000 || ev > 5000) return false;
  int frac = std::abs(ev) % 1000;
  return frac == 0 || frac == 300 || frac == 700;
}

bool listed(const std::vector<std::uint32_t>& values, std::uint64_t v) {
  return std::find(values.begin(), values.end(), v) != values.end();
}

// A property the body keeps as one unsigned field: its type tag when read,
// and the check a value must pass to be stored (null: read-only). EV and the
// battery level are signed and handled apart.
struct Property {
  std::uint32_t code;
  VcDataType type;
  std::uint32_t Settings::*field;
  bool (*accepts)(std::uint64_t value, const Lens& lens);
};

const Property kProperties[] = {
    {VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, &Settings::iso,
     [](std::uint64_t v, const Lens&) { return v == VcIsoAuto || listed(isoValues(), v); }},
    {VcDeviceProperty_FNumber, VcDataType_UInt16, &Settings::fnumber,
     [](std::uint64_t v, const Lens& lens) {
       return v >= lens.widest && v <= lens.narrowest && listed(fnumberThirdStops(), v);
     }},
    {VcDeviceProperty_ShutterSpeed, VcDataType_UInt32, &Settings::shutter,
     [](std::uint64_t v, const Lens&) {
       return v <= 0xFFFFFFFFull && isStandardShutter(static_cast<std::uint32_t>(v));
     }},
    {VcDeviceProperty_ExposureProgramMode, VcDataType_UInt16, &Settings::mode,
     [](std::uint64_t v, const Lens&) { return kExposurePrograms.offers(v); }},
    {VcDeviceProperty_FocusMode, VcDataType_UInt16, &Settings::focus,
     [](std::uint64_t v, const Lens&) { return kFocusModes.offers(v); }},
    {VcDeviceProperty_WhiteBalance, VcDataType_UInt16, &Settings::wb,
     [](std::uint64_t v, const Lens&) { return kWhiteBalances.offers(v); }},
    {VcDeviceProperty_ColorTemperature, VcDataType_UInt16, &Settings::kelvin,
     [](std::uint64_t v, const Lens&) { return v >= 2500 && v <= 9900 && v % 100 == 0; }},
    {VcDeviceProperty_StillImageStoreDestination, VcDataType_UInt16, &Settings::storeDestination,
     [](std::uint64_t v, const Lens&) { return v <= VcStillImageStore_HostPCAndCamera; }},
    {VcDeviceProperty_PriorityKeySettings, VcDataType_UInt16, &Settings::priorityKey,
     [](std::uint64_t v, const Lens&) {
       return v == VcPriorityKey_CameraPosition || v == VcPriorityKey_PCRemote;
     }},
    {VcDeviceProperty_LiveViewStatus, VcDataType_UInt8, &Settings::liveViewStatus, nullptr},
};

const Property* findProperty(std::uint32_t code) {
  for (const Property& property : kProperties) {
    if (property.code == code) return &property;
  }
  return nullptr;
}

}  // namespace

const std::vector<std::uint32_t>& isoValues() {
  static const std::vector<std::uint32_t> values = {
      50,    64,    80,    100,   125,   160,   200,   250,   320,   400,   500,  640,
      800,   1000,  1250,  1600,  2000,  2500,  3200,  4000,  5000,  6400,  8000, 10000,
      12800, 16000, 20000, 25600, 32000, 40000, 51200, 64000, 80000, 102400};
  return values;
}

const std::vector<std::uint32_t>& fnumberThirdStops() {
  static const std::vector<std::uint32_t> values = {
      100, 110, 120, 140, 160,  180,  200,  220,  250,  280,  320,  350,  400,  450,  500, 560,
      630, 710, 800, 900, 1000, 1100, 1300, 1400, 1600, 1800, 2000, 2200, 2500, 2900, 3200};
  return values;
}

Lens lensForModel(const std::string& model) {
  if (model == "SB_X1" || model == "SB_S3") return {140, 1600};
  if (model == "SB_R5") return {120, 1600};
  if (model == "SB_A5") return {180, 2200};
  if (model == "CB_F3" || model == "CB_F6") return {200, 2200};
  if (model == "CB_P7" || model == "PZ_M7") return {400, 2200};
  return {280, 2200};  // SB_A4 and anything else: a standard zoom
}

bool modelHasHead(const std::string& model) {
  const CameraModel* row = findModelByName(model);
  return row != nullptr && row->hasHead;
}

VcStatus applySetting(Settings& s, const Lens& lens, std::uint32_t code, std::uint64_t value) {
  if (code == VcDeviceProperty_ExposureBiasCompensation) {
    // The value travels as a 16-bit two's-complement pattern.
    if (value > 0xFFFF) return VcError_PropertyInvalidValue;
    int ev = static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    if (!isThirdStopEv(ev)) return VcError_PropertyInvalidValue;
    s.ev = ev;
    return VcError_None;
  }
  if (code == VcDeviceProperty_BatteryRemain) return VcError_PropertyRefused;
  const Property* property = findProperty(code);
  if (property == nullptr) return VcError_PropertyUnsupported;
  if (property->accepts == nullptr) return VcError_PropertyRefused;
  if (!property->accepts(value, lens)) return VcError_PropertyInvalidValue;
  // Every accepted value fits the field.
  s.*property->field = static_cast<std::uint32_t>(value);
  return VcError_None;
}

bool readSetting(const Settings& s, int battery, std::uint32_t code, PropertyValue& out) {
  out.code = code;
  if (code == VcDeviceProperty_ExposureBiasCompensation) {
    out = {code, VcDataType_Int16, static_cast<std::uint16_t>(static_cast<std::int16_t>(s.ev))};
    return true;
  }
  if (code == VcDeviceProperty_BatteryRemain) {
    out = {code, VcDataType_Int8, static_cast<std::uint64_t>(battery)};
    return true;
  }
  const Property* property = findProperty(code);
  if (property == nullptr) return false;
  out = {code, property->type, s.*property->field};
  return true;
}

double exposureOffsetStops(const Settings& s) {
  std::uint32_t num = s.shutter >> 16, den = s.shutter & 0xFFFF;
  // BULB has no set time: show it as a long, bright exposure of 30 s.
  double seconds = s.shutter == VcShutterBulb ? 30.0 : double(num) / double(den);
  double stops = 2.0 * std::log2(5.6 / (s.fnumber / 100.0)) + std::log2(seconds * 125.0);
  if (s.iso == VcIsoAuto) {
    // Auto ISO meters for the base within 100..25600; beyond that range
    // aperture and shutter show again.
    double iso = std::min(25600.0, std::max(100.0, 100.0 * std::pow(2.0, -stops)));
    stops += std::log2(iso / 100.0);
  } else {
    stops += std::log2(s.iso / 100.0);
  }
  return stops + s.ev / 1000.0;
}

double whiteBalanceKelvin(const Settings& s) {
  switch (s.wb) {
    case white_balance::kDaylight:
      return 5200;
    case white_balance::kShade:
      return 7000;
    case white_balance::kCloudy:
      return 6000;
    case white_balance::kTungsten:
      return 3200;
    case white_balance::kKelvin:
      return s.kelvin;
    default:
      return 0;
  }
}

}  // namespace vcam
