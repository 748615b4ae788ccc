// The single-camera command-line runs: "--connect-ip", "--liveview" and
// "--capture" share one connect, expose, work, disconnect sequence.
#include <cstdio>
#include <cstring>

#include "app/ExitCodes.h"
#include "app/Runs.h"
#include "camera/CameraController.h"
#include "camera/Defaults.h"
#include "camera/Exposure.h"
#include "camera/LiveViewSink.h"

int runSingleCamera(const char* mode, const char* const* argv, const Options& options) {
  CameraController controller;
  if (!controller.connectIp(argv[2], argv[3], VCSDK::VcCameraModel_SB_A4, options.ssh, options.user,
                            options.pass)) {
    return kExitConnectRequest;
  }
  if (!controller.waitConnected(defaults::kConnectWaitMs)) {
    std::printf("[error] timeout/erro ao conectar\n");
    return kExitNotConnected;
  }
  std::printf("[info] conectado.\n");
  applyExposure(controller, options.exposure);

  if (std::strcmp(mode, "--liveview") == 0) {
    if (options.window) std::printf("[warn] compilado sem OpenCV; gravando em disco.\n");
    LiveViewSink sink(defaults::kSaveFolder);
    controller.runLiveView(sink, options.frames);
    if (!options.window) {
      std::printf("[info] live view encerrado (%u frames).\n", sink.frameCount());
    }
  } else if (std::strcmp(mode, "--capture") == 0) {
    if (!controller.setupForPcCapture(defaults::kSaveFolder, defaults::kFilePrefix)) {
      controller.disconnect();
      return kExitCaptureSetup;
    }
    int downloaded = 0;
    for (int i = 1; i <= options.shots; ++i) {
      std::printf("[info] foto %d/%d...\n", i, options.shots);
      if (controller.capturePhoto(defaults::kDownloadWaitMs)) ++downloaded;
    }
    std::printf("[info] captura encerrada (%d/%d fotos baixadas).\n", downloaded, options.shots);
  }

  controller.disconnect();
  return kExitOk;
}
