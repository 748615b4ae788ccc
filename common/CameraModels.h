// The camera models KAMORA knows: the name people type, the SDK's model code
// and whether the body carries a pan/tilt head. One table for the program,
// the stand-in SDK and the virtual camera. Immutable: safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "vcsdk/VcTypes.h"

struct CameraModel {
  const char* name;
  VCSDK::VcCameraDeviceModelList code;
  bool hasHead;
};

// The row with that name or code; null when there is none.
const CameraModel* findModelByName(const std::string& name);
const CameraModel* findModelByCode(std::uint32_t code);
