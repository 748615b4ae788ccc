// The server frame: the transport, the router over the rig's cameras, the
// banner and the listen failure line, and the orderly stop.
#include "server/HttpServer.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "server/ServerBanner.h"
#include "server/http/HttpTransport.h"
#include "server/mqtt/ServerHooks.h"
#include "server/rig/RigFile.h"
#include "server/routes/RequestGuard.h"
#include "server/routes/Router.h"

namespace {

const HttpFields& poweredBy() {
  static const HttpFields headers = {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}};
  return headers;
}

using PeerSeam = std::function<std::string(const std::string&)>;

// answer, called with the request as the router should see it: with the test
// seam's peer address in place of the real one when a test set it.
template <typename Answer>
auto throughSeam(const PeerSeam& seam, Answer answer) {
  return [seam, answer](const HttpRequest& request) {
    if (!seam) return answer(request);
    HttpRequest seen = request;
    seen.remoteAddress = seam(request.remoteAddress);
    return answer(seen);
  };
}

}  // namespace

HttpServer::HttpServer(std::string host, int port, ServerOptions options)
    : host(std::move(host)),
      port(port),
      options(std::move(options)),
      rig_(events, this->options.camera) {}

HttpServer::~HttpServer() = default;

void HttpServer::stop() {
  rig_.beginShutdown();
  std::lock_guard<std::mutex> lock(transportMutex);
  stopRequested = true;
  if (transport) transport->stop();
}

void HttpServer::startRig() {
  if (options.rigFile.empty()) return;
  // Each camera connects on its supervisor's thread: all at once, while
  // the server already answers.
  for (const RigCamera& camera : options.rigCameras) rig_.add(camera.id, camera.request);
  rigFile_ = std::make_unique<RigFile>(options.rigFile);
  rig_.onChange([this] { rigFile_->save(rig_); });
}

bool HttpServer::listen(HttpTransport& server) {
  std::lock_guard<std::mutex> lock(transportMutex);
  if (!server.bind(host, port)) return false;
  transport = &server;
  if (stopRequested) server.stop();  // stop() came before the socket was ready
  return true;
}

void HttpServer::run() {
  const Router router(rig_, localMachineName(), AccessToken(options.token));
  const PeerSeam& seam = options.peerAddressForTests;
  HttpTransport server(
      throughSeam(seam, [&router](const HttpRequest& r) { return router.handle(r); }), poweredBy());
  server.answerAtOnce(
      throughSeam(seam, [&router](const HttpRequest& r) { return router.answerAtOnce(r); }));
  printBanner(host, port, options.token);
  if (!listen(server)) {
    std::printf("[error] nao foi possivel ouvir em %s:%d\n", host.c_str(), port);
    std::fflush(stdout);
    return;
  }
  startRig();
  // The node joins its broker once it serves, and leaves it ("offline")
  // after the last request, before the cameras go.
  std::unique_ptr<MqttBridge> bridge;
  if (!options.mqtt.host.empty()) {
    bridge = std::make_unique<MqttBridge>(options.mqtt, events, serverHooks(router, rig_));
    std::string why;
    if (!bridge->start(why)) {
      std::printf("[error] mqtt: %s\n", why.c_str());
      std::fflush(stdout);
      bridge.reset();
    }
  }
  server.run();
  if (bridge) bridge->stop();
  std::lock_guard<std::mutex> lock(transportMutex);
  transport = nullptr;
}
