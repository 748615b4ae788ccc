// Parameter conversions: the standard conversions, no validation, as the
// command line reads the same values.
#include "server/Params.h"

#include <cstdlib>

VCSDK::VcCameraDeviceModelList modelFromName(const std::string& name) {
  struct Row {
    const char* name;
    VCSDK::VcCameraDeviceModelList code;
  };
  static const Row rows[] = {
      {"SB_X1", VCSDK::VcCameraModel_SB_X1}, {"SB_A5", VCSDK::VcCameraModel_SB_A5},
      {"SB_R5", VCSDK::VcCameraModel_SB_R5}, {"SB_S3", VCSDK::VcCameraModel_SB_S3},
      {"CB_P7", VCSDK::VcCameraModel_CB_P7}, {"CB_F3", VCSDK::VcCameraModel_CB_F3},
      {"CB_F6", VCSDK::VcCameraModel_CB_F6}, {"PZ_M7", VCSDK::VcCameraModel_PZ_M7},
  };
  for (const Row& row : rows) {
    if (name == row.name) return row.code;
  }
  return VCSDK::VcCameraModel_SB_A4;
}

bool sshFromText(const std::string& text) { return text == "1"; }

std::uint32_t isoFromText(const std::string& text) {
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10)) & 0xFFFFFF;
}

std::uint16_t presetFromText(const std::string& text) {
  return static_cast<std::uint16_t>(std::atoi(text.c_str()));
}
