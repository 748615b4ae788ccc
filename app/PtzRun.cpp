// The "--ptz" command-line run: connect, one pan/tilt action, disconnect.
#include <cstdint>
#include <cstdio>

#include "app/Runs.h"
#include "camera/CameraController.h"

int runPtz(const char* const* argv, const Options& options) {
  CameraController controller;
  // This mode never sends a user or password, whatever the options say.
  const bool linked = controller.connectIp(argv[2], argv[3], VCSDK::VcCameraModel_CB_P7,
                                           options.ssh, std::string(), std::string()) &&
                      controller.waitConnected(15000);
  if (!linked) {
    std::printf("[error] falha ao conectar\n");
    return 5;
  }
  std::printf("[info] conectado (PTZ).\n");

  const std::string& action = options.action;
  const auto preset = static_cast<std::uint16_t>(static_cast<unsigned>(options.num) & 0xFFFF);
  if (action == "home") {
    controller.ptzHome();
  } else if (action == "stop") {
    controller.ptzStop();
  } else if (action == "move") {
    controller.ptzMove(options.pan, options.tilt);
  } else if (action == "absolute") {
    controller.ptzAbsolute(options.pan, options.tilt, options.speed);
  } else if (action == "preset-set") {
    controller.ptzPresetSet(preset);
  } else if (action == "preset-recall") {
    controller.ptzPresetRecall(preset);
  } else if (action == "preset-clear") {
    controller.ptzPresetClear(preset);
  } else {
    std::printf("[warn] --do desconhecido: %s\n", action.c_str());
  }

  controller.disconnect();
  return 0;
}
