// The server runs: "--server" and the application-bundle launch, with an
// orderly stop on SIGINT/SIGTERM so the camera is disconnected and the SDK
// released before the program exits.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/Runs.h"
#include "server/HttpServer.h"

namespace {

std::atomic<bool> stopSignalled{false};

extern "C" void onStopSignal(int sig) {
  stopSignalled.store(true);
  // A second Ctrl+C ends the process at once, should the stop hang on a
  // camera that does not answer.
  std::signal(sig, SIG_DFL);
}

// Serves until a stop signal; the handlers only set a flag and a watcher
// thread passes it on, as nothing else may be done inside a handler.
void serveUntilSignalled(HttpServer& server) {
  stopSignalled.store(false);
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished.load()) {
      if (stopSignalled.load()) {
        server.stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  server.run();
  finished.store(true);
  watcher.join();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

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

}  // namespace

int runServer(const Options& options) {
  HttpServer server(options.host, options.port);
  serveUntilSignalled(server);
  return 0;
}

int runAppMode() {
  openBrowserSoon("http://127.0.0.1:8080");
  HttpServer server("127.0.0.1", 8080);
  serveUntilSignalled(server);
  return 0;
}
