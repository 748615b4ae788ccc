// The single-camera command-line runs: "--connect-ip", "--liveview" and
// "--capture" share one connect, expose, work, disconnect sequence.
#include <cstdio>
#include <cstring>
#include <optional>

#include "app/ExitCodes.h"
#include "app/IntervalCapture.h"
#include "app/Runs.h"
#include "camera/CameraController.h"
#include "camera/Defaults.h"
#include "camera/Exposure.h"
#include "camera/LiveViewSink.h"

int runSingleCamera(const char* mode, const char* const* argv, const Options& options) {
  // A sequence's texts are read before the camera is touched.
  const bool capture = std::strcmp(mode, "--capture") == 0;
  std::optional<SequencePlan> sequence;
  if (capture && options.hasInterval) {
    sequence = intervalPlan(options);
    if (!sequence) return kExitUsage;
  }

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
  } else if (capture) {
    if (!controller.setupForPcCapture(defaults::kSaveFolder, defaults::kFilePrefix)) {
      controller.disconnect();
      return kExitCaptureSetup;
    }
    if (sequence) {
      runIntervalCapture(controller, *sequence);
      controller.disconnect();
      return kExitOk;
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
