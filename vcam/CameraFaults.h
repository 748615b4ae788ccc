// The faults tests and demos can set on a virtual camera, and the one table
// of their names (docs/virtual-camera.md lists what each does).
#pragma once

#include <string>

namespace vcam {

enum class FaultKind {
  NeverReady,
  RefuseLink,
  Drop,        // an action: every link goes now
  RefuseProp,  // one property (prop=); kept per property
  RefuseSaveInfo,
  CaptureError,
  CaptureDelay,
  LvError,
  LvImageError,
  LvEmpty,
  RefusePtz,
  Clear,  // an action: every fault goes; stays last
};

// False for a name no fault has.
bool faultFromName(const std::string& name, FaultKind& out);
const char* faultName(FaultKind kind);

}  // namespace vcam
