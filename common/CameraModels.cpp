// The model table and its two lookups.
#include "common/CameraModels.h"

namespace {

using namespace VCSDK;

const CameraModel kModels[] = {
    {"SB_X1", VcCameraModel_SB_X1, false}, {"SB_A4", VcCameraModel_SB_A4, false},
    {"CB_F3", VcCameraModel_CB_F3, false}, {"CB_F6", VcCameraModel_CB_F6, false},
    {"SB_R5", VcCameraModel_SB_R5, false}, {"SB_S3", VcCameraModel_SB_S3, false},
    {"PZ_M7", VcCameraModel_PZ_M7, true},  {"CB_P7", VcCameraModel_CB_P7, true},
    {"SB_A5", VcCameraModel_SB_A5, false},
};

}  // namespace

const CameraModel* findModelByName(const std::string& name) {
  for (const CameraModel& model : kModels) {
    if (name == model.name) return &model;
  }
  return nullptr;
}

const CameraModel* findModelByCode(std::uint32_t code) {
  for (const CameraModel& model : kModels) {
    if (code == model.code) return &model;
  }
  return nullptr;
}
