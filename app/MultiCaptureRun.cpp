// The "--multi-capture" command-line run: every discovered camera, fired in
// turn, volley by volley.
#include <cstdio>

#include "app/Runs.h"
#include "camera/CameraManager.h"

int runMultiCapture(const Options& options) {
  CameraManager manager;
  if (manager.connectAll("captures", "KAMORA") > 0) {
    manager.captureAll(options.shots);
    manager.disconnectAll();
  } else {
    std::printf("[info] nenhuma camera conectada.\n");
  }
  return 0;
}
