// The "--ptz" command-line run: connect, one pan/tilt action, disconnect.
#include <cstdint>
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/Runs.h"
#include "camera/CameraController.h"
#include "camera/Defaults.h"
#include "camera/PtzActions.h"

int runPtz(const char* const* argv, const Options& options) {
  CameraController controller;
  // This mode never sends a user or password, whatever the options say.
  const bool linked = controller.connectIp(argv[2], argv[3], VCSDK::VcCameraModel_CB_P7,
                                           options.ssh, std::string(), std::string()) &&
                      controller.waitConnected(defaults::kConnectWaitMs);
  if (!linked) {
    std::printf("[error] falha ao conectar\n");
    return kExitNotConnected;
  }
  std::printf("[info] conectado (PTZ).\n");

  const PtzAction* action = findPtzAction(options.action);
  if (action != nullptr) {
    PtzValues values;
    values.pan = options.pan;
    values.tilt = options.tilt;
    values.speed = options.speed;
    values.preset = static_cast<std::uint16_t>(static_cast<unsigned>(options.num) & 0xFFFF);
    action->run(controller, values);
  } else {
    std::printf("[warn] --do desconhecido: %s\n", options.action.c_str());
  }

  controller.disconnect();
  return kExitOk;
}
