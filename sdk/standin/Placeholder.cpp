// Placeholder stand-in SDK: initialises and finds no camera.
#include "vcsdk/VcSDK.h"

namespace VCSDK {
bool Init(std::uint32_t) { return true; }
bool Release() { return true; }
std::uint32_t GetSDKVersion() { return 0x01000000; }
VcStatus EnumCameraObjects(IVcEnumCameraObjectInfo**, std::uint8_t) { return VcError_DiscoveryFailed; }
}  // namespace VCSDK
