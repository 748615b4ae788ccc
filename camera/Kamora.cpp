// Kamora: initialises and releases the camera SDK for the whole process,
// prints its version and lists the cameras that discovery finds.
#include "camera/Kamora.h"

#include <cstdio>

#include "camera/Discovery.h"
#include "vcsdk/VcSDK.h"

Kamora::Kamora() {
  initialized = VCSDK::Init(0);
  if (!initialized) std::printf("[error] VCSDK::Init falhou\n");
}

Kamora::~Kamora() {
  // A failed Init leaves nothing to release.
  if (initialized) VCSDK::Release();
}

bool Kamora::ok() const { return initialized; }

void Kamora::printVersion() const {
  const std::uint32_t v = VCSDK::GetSDKVersion();
  std::printf("VcSDK versao: %u.%02u.%02u.%02u\n", (v >> 24) & 0xFFu, (v >> 16) & 0xFFu,
              (v >> 8) & 0xFFu, v & 0xFFu);
}

std::int32_t Kamora::enumerate() const {
  if (!initialized) return -1;

  // Finding nothing is not a failure of the program: the caller exits 0.
  VCSDK::IVcEnumCameraObjectInfo* list = discoverCameras();
  if (list == nullptr) return 0;

  const std::uint32_t n = list->GetCount();
  for (std::uint32_t i = 0; i < n; ++i) {
    // The infos belong to the list: read them, never release them.
    const VCSDK::IVcCameraObjectInfo* info = list->GetCameraObjectInfo(i);
    if (info == nullptr) continue;
    const char* model = info->GetModel();
    const char* connection = info->GetConnectionTypeName();
    const char* ip = info->GetIpAddressChar();
    std::printf("  [%u] modelo=%s conexao=%s ip=%s\n", i, model ? model : "?",
                connection ? connection : "?", ip ? ip : "-");
  }
  list->Release();
  return static_cast<std::int32_t>(n);
}
