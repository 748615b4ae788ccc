// Finding virtual cameras on 127.0.0.1 to 127.0.0.254.
#pragma once

#include <memory>
#include <vector>

#include "CameraInfo.h"

namespace standin {

// Every camera that answered within timeoutMs, in address order. Returns as
// soon as every address has answered or refused.
std::vector<std::unique_ptr<CameraInfo>> discoverCameras(int timeoutMs);

}  // namespace standin
