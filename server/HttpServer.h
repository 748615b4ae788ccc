// HttpServer: the local HTTP API and console over the server's camera.
// Thread-safe: run() on one thread; stop() from any other.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "server/http/HttpTypes.h"
#include "server/slot/CameraSlot.h"

class HttpTransport;
class Router;

struct ServerOptions {
  SlotOptions camera;
  // Asked of requests from other machines; empty: nobody is asked.
  std::string token;
  // Tests only: the peer address the router sees in place of the real one,
  // so the other-machine side of the token rule is reachable on loopback.
  std::function<std::string(const std::string&)> peerAddressForTests;
};

class HttpServer {
 public:
  HttpServer(std::string host, int port, ServerOptions options = ServerOptions());
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  // Blocks while the server listens; returns when it stops or cannot listen.
  void run();
  // Asks run() to stop serving: requests under way are answered first, a
  // multi-shot capture ends after its current shot. May come before run()
  // has started listening; it then stops as soon as it listens.
  void stop();

 private:
  HttpHandler handler(const Router& router) const;
  HttpQuickHandler quickHandler(const Router& router) const;
  // Binds the transport and makes it reachable by stop(); false when the
  // address cannot be listened on.
  bool listen(HttpTransport& server);

  std::string host;
  int port;
  const ServerOptions options;
  std::mutex transportMutex;  // stop() against run()'s start and end
  bool stopRequested = false;
  HttpTransport* transport = nullptr;
  EventLog events;
  // Last, so it goes first: the camera is let go before the rest.
  CameraSlot camera;
};
