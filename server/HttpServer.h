// HttpServer: the local HTTP API and console, over one shared camera.
#pragma once

#include <string>

#include "camera/CameraController.h"

class HttpServer {
 public:
  HttpServer(std::string host, int port);
  // Blocks while the server listens; returns when it stops or cannot listen.
  void run();

 private:
  std::string host;
  int port;
  CameraController controller;
};
