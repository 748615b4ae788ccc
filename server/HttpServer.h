// HttpServer: the local HTTP API and console over the server's cameras.
// Thread-safe: run() on one thread; stop() from any other.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/http/HttpTypes.h"
#include "server/mqtt/MqttBridge.h"
#include "server/rig/Rig.h"

class HttpTransport;
class RigFile;

struct ServerOptions {
  SlotOptions camera;
  // Asked of requests from other machines; empty: nobody is asked.
  std::string token;
  // A broker to join as a node of a rig; without a host, none.
  MqttOptions mqtt;
  // The rig file (empty: none) and the cameras read from it, added once the
  // server listens; the file is written again after each camera added or
  // removed.
  std::string rigFile;
  std::vector<RigCamera> rigCameras;
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
  // The cameras, `main` among them.
  Rig& rig() { return rig_; }

 private:
  // Binds the transport and makes it reachable by stop(); false when the
  // address cannot be listened on.
  bool listen(HttpTransport& server);
  // Adds the rig file's cameras and keeps the file up to date.
  void startRig();

  std::string host;
  int port;
  const ServerOptions options;
  std::mutex transportMutex;  // stop() against run()'s start and end
  bool stopRequested = false;
  HttpTransport* transport = nullptr;
  EventLog events;
  std::unique_ptr<RigFile> rigFile_;
  // Last, so it goes first: the cameras are let go before the rest.
  Rig rig_;
};
