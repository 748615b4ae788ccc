// The "--multi-capture" command-line run: every discovered camera, fired in
// turn, volley by volley.
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/Runs.h"
#include "camera/CameraManager.h"
#include "camera/Defaults.h"

int runMultiCapture(const Options& options) {
  CameraManager manager;
  if (manager.connectAll(defaults::kSaveFolder, defaults::kFilePrefix) > 0) {
    manager.captureAll(options.shots);
    manager.disconnectAll();
  } else {
    std::printf("[info] nenhuma camera conectada.\n");
  }
  return kExitOk;
}
