// Camera descriptions: an object from a list belongs to the list.
#include "CameraInfo.h"

#include "vcsdk/VcTypes.h"

namespace standin {

using namespace VCSDK;

CameraInfo::CameraInfo(std::string model, std::string ip, std::string mac, bool ssh,
                       bool ownedByList)
    : model_(std::move(model)),
      ip_(std::move(ip)),
      mac_(std::move(mac)),
      ssh_(ssh),
      ownedByList_(ownedByList) {}

void CameraInfo::Release() {
  if (!ownedByList_) delete this;
}

CameraList::CameraList(std::vector<std::unique_ptr<CameraInfo>> cameras)
    : cameras_(std::move(cameras)) {}

std::uint32_t CameraList::GetCount() const { return static_cast<std::uint32_t>(cameras_.size()); }

IVcCameraObjectInfo* CameraList::GetCameraObjectInfo(std::uint32_t index) const {
  return index < cameras_.size() ? cameras_[index].get() : nullptr;
}

void CameraList::Release() { delete this; }

const char* modelName(std::uint32_t code) {
  switch (code) {
    case VcCameraModel_SB_X1:
      return "SB_X1";
    case VcCameraModel_SB_A4:
      return "SB_A4";
    case VcCameraModel_CB_F3:
      return "CB_F3";
    case VcCameraModel_CB_F6:
      return "CB_F6";
    case VcCameraModel_SB_R5:
      return "SB_R5";
    case VcCameraModel_SB_S3:
      return "SB_S3";
    case VcCameraModel_PZ_M7:
      return "PZ_M7";
    case VcCameraModel_CB_P7:
      return "CB_P7";
    case VcCameraModel_SB_A5:
      return "SB_A5";
    default:
      return nullptr;
  }
}

}  // namespace standin
