// HttpServer: the local HTTP API and console over the server's camera.
// Thread-safe: run() on one thread; stop() from any other.
#pragma once

#include <atomic>
#include <string>

#include "server/slot/CameraSlot.h"

class HttpServer {
 public:
  HttpServer(std::string host, int port, const SlotOptions& options = SlotOptions());
  // Blocks while the server listens; returns when it stops or cannot listen.
  void run();
  // Asks run() to stop serving: requests under way are answered first, a
  // multi-shot capture ends after its current shot. May come before run()
  // has started listening; it then stops as soon as it listens.
  void stop();

 private:
  std::string host;
  int port;
  std::atomic<bool> stopRequested{false};
  EventLog events;
  // Last, so it goes first: the camera is let go before the rest.
  CameraSlot camera;
};
