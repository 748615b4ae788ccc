// Parameter conversions: the standard conversions, no validation, as the
// command line reads the same values.
#include "server/routes/Params.h"

#include <cstdlib>

#include "common/CameraModels.h"

VCSDK::VcCameraDeviceModelList modelFromName(const std::string& name) {
  const CameraModel* model = findModelByName(name);
  return model != nullptr ? model->code : VCSDK::VcCameraModel_SB_A4;
}

bool sshFromText(const std::string& text) { return text == "1"; }

std::uint32_t isoFromText(const std::string& text) {
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10)) & 0xFFFFFF;
}

std::uint16_t presetFromText(const std::string& text) {
  return static_cast<std::uint16_t>(std::atoi(text.c_str()));
}
