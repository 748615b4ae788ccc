// The single-camera command-line runs: "--connect-ip", "--liveview" and
// "--capture" share one connect, expose, work, disconnect sequence.
#include <cstdio>
#include <cstring>

#include "app/Runs.h"
#include "camera/CameraController.h"
#include "camera/Exposure.h"
#include "camera/LiveViewSink.h"

namespace {

const char* const kSaveDir = "captures";
const char* const kPrefix = "KAMORA";
constexpr int kWaitMs = 15000;

}  // namespace

int runSingleCamera(const char* mode, const char* const* argv, const Options& options) {
  CameraController controller;
  if (!controller.connectIp(argv[2], argv[3], VCSDK::VcCameraModel_SB_A4, options.ssh, options.user,
                            options.pass)) {
    return 4;
  }
  if (!controller.waitConnected(kWaitMs)) {
    std::printf("[error] timeout/erro ao conectar\n");
    return 5;
  }
  std::printf("[info] conectado.\n");
  applyExposure(controller, options.exposure);

  if (std::strcmp(mode, "--liveview") == 0) {
    if (options.window) std::printf("[warn] compilado sem OpenCV; gravando em disco.\n");
    LiveViewSink sink(kSaveDir);
    controller.runLiveView(sink, options.frames);
    if (!options.window) {
      std::printf("[info] live view encerrado (%u frames).\n", sink.frameCount());
    }
  } else if (std::strcmp(mode, "--capture") == 0) {
    if (!controller.setupForPcCapture(kSaveDir, kPrefix)) {
      controller.disconnect();
      return 6;
    }
    int downloaded = 0;
    for (int i = 1; i <= options.shots; ++i) {
      std::printf("[info] foto %d/%d...\n", i, options.shots);
      if (controller.capturePhoto(kWaitMs)) ++downloaded;
    }
    std::printf("[info] captura encerrada (%d/%d fotos baixadas).\n", downloaded, options.shots);
  }

  controller.disconnect();
  return 0;
}
