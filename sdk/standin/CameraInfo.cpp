// Camera descriptions: an object from a list belongs to the list.
#include "CameraInfo.h"

#include "common/CameraModels.h"

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
  const CameraModel* model = findModelByCode(code);
  return model != nullptr ? model->name : nullptr;
}

}  // namespace standin
