// Camera discovery: the SDK's listing call and its two printed outcomes.
#include "camera/Discovery.h"

#include <cstdio>

#include "camera/Defaults.h"
#include "camera/SdkStatus.h"

VCSDK::IVcEnumCameraObjectInfo* discoverCameras() {
  VCSDK::IVcEnumCameraObjectInfo* list = nullptr;
  const VCSDK::VcStatus status = VCSDK::EnumCameraObjects(&list, defaults::kDiscoverySeconds);
  if (!sdkOk(status) || list == nullptr) {
    // Finding nothing is not a failure of the program. On a failed call the
    // pointer is not ours to release.
    std::printf("Nenhuma camera encontrada (EnumCameraObjects: 0x%08X)\n", status);
    return nullptr;
  }
  std::printf("Cameras encontradas: %u\n", list->GetCount());
  return list;
}
