// The server runs: "--server" and the application-bundle launch, with an
// orderly stop on SIGINT/SIGTERM so the camera is disconnected and the SDK
// released before the program exits.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/ExitCodes.h"
#include "app/MqttSetup.h"
#include "app/Runs.h"
#include "app/StopSignals.h"
#include "server/HttpServer.h"
#include "server/rig/RigFile.h"
#include "server/routes/RequestGuard.h"

namespace {

// Opens url in the default browser one second from now, in a background
// shell, so the server start is never held up.
void openBrowserSoon(const char* url) {
#ifdef __APPLE__
  const std::string command = std::string("sleep 1 && open ") + url + " &";
#else
  const std::string command = std::string("sleep 1 && xdg-open ") + url + " >/dev/null 2>&1 &";
#endif
  const int ignored = std::system(command.c_str());
  (void)ignored;
}

// Serves until the first stop signal; the server is destroyed (camera let
// go) before the caller releases the SDK.
int serve(const std::string& host, int port, ServerOptions options) {
  HttpServer server(host, port, std::move(options));
  StopSignals signals([&server] { server.stop(); });
  server.run();
  return 0;
}

}  // namespace

int runServer(const Options& options) {
  ServerOptions server;
  if (!options.rigFile.empty()) {
    // A file that is not what it should be stops the server before it
    // listens: serving a rig other than the one asked for would be worse.
    RigFileRead read = readRigFile(options.rigFile);
    if (!read.error.empty()) {
      std::printf("%s\n", read.error.c_str());
      return kExitUsage;
    }
    if (read.othersMayRead) {
      std::printf("[warn] %s: outros usuarios podem ler este arquivo (chmod 600)\n",
                  options.rigFile.c_str());
    }
    std::printf("[server] rig: %zu camera(s) de %s%s\n", read.cameras.size(),
                options.rigFile.c_str(), read.existed ? "" : " (novo)");
    server.rigFile = options.rigFile;
    server.rigCameras = std::move(read.cameras);
  }
  // The option wins over the environment, as a typed command should.
  const char* fromEnvironment = std::getenv("KAMORA_TOKEN");
  server.token = !options.token.empty() ? options.token : fromEnvironment ? fromEnvironment : "";
  server.camera.liveViewFps = options.lvFps;
  if (!mqttFromOptions(options, localMachineName(), std::getenv("KAMORA_MQTT_PASS"), server.mqtt)) {
    std::fflush(stdout);
    return 1;
  }
  return serve(options.host, options.port, std::move(server));
}

int runAppMode() {
  openBrowserSoon("http://127.0.0.1:8080");
  return serve("127.0.0.1", 8080, ServerOptions());
}
