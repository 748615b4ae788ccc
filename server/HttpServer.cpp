// The server frame: the transport, the router over the camera slot, the
// banner and the listen failure line, and the orderly stop.
#include "server/HttpServer.h"

#include <cstdio>
#include <utility>

#include "server/ServerBanner.h"
#include "server/http/HttpTransport.h"
#include "server/routes/RequestGuard.h"
#include "server/routes/Router.h"

namespace {

const HttpFields& poweredBy() {
  static const HttpFields headers = {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}};
  return headers;
}

}  // namespace

HttpServer::HttpServer(std::string host, int port, ServerOptions options)
    : host(std::move(host)),
      port(port),
      options(std::move(options)),
      camera(events, this->options.camera) {}

HttpServer::~HttpServer() = default;

void HttpServer::stop() {
  camera.beginShutdown();
  std::lock_guard<std::mutex> lock(transportMutex);
  stopRequested = true;
  if (transport) transport->stop();
}

HttpHandler HttpServer::handler(const Router& router) const {
  const auto peerAddress = options.peerAddressForTests;
  return [&router, peerAddress](const HttpRequest& request) {
    if (!peerAddress) return router.handle(request);
    HttpRequest seen = request;
    seen.remoteAddress = peerAddress(request.remoteAddress);
    return router.handle(seen);
  };
}

HttpQuickHandler HttpServer::quickHandler(const Router& router) const {
  const auto peerAddress = options.peerAddressForTests;
  return [&router, peerAddress](const HttpRequest& request) {
    if (!peerAddress) return router.answerAtOnce(request);
    HttpRequest seen = request;
    seen.remoteAddress = peerAddress(request.remoteAddress);
    return router.answerAtOnce(seen);
  };
}

bool HttpServer::listen(HttpTransport& server) {
  std::lock_guard<std::mutex> lock(transportMutex);
  if (!server.bind(host, port)) return false;
  transport = &server;
  if (stopRequested) server.stop();  // stop() came before the socket was ready
  return true;
}

void HttpServer::run() {
  const Router router(camera, localMachineName(), AccessToken(options.token));
  HttpTransport server(handler(router), poweredBy());
  server.answerAtOnce(quickHandler(router));
  printBanner(host, port, options.token);
  if (!listen(server)) {
    std::printf("[error] nao foi possivel ouvir em %s:%d\n", host.c_str(), port);
    std::fflush(stdout);
    return;
  }
  server.run();
  std::lock_guard<std::mutex> lock(transportMutex);
  transport = nullptr;
}
