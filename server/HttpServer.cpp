// The server frame: the transport's set-up, the banner, listening, and a
// watcher that turns stop() into the transport's stop.
#include "server/HttpServer.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "server/ServerBanner.h"
#include "server/http/HttpTransport.h"
#include "server/routes/RequestGuard.h"
#include "server/routes/Router.h"

HttpServer::HttpServer(std::string host, int port, ServerOptions options)
    : host(std::move(host)),
      port(port),
      options(std::move(options)),
      camera(events, this->options.camera) {}

void HttpServer::stop() {
  camera.beginShutdown();
  stopRequested.store(true);
}

void HttpServer::run() {
  const Router router(camera, localMachineName(), AccessToken(options.token));
  const auto& peerAddress = options.peerAddressForTests;
  HttpTransport transport(
      [&router, &peerAddress](const HttpRequest& request) {
        if (!peerAddress) return router.handle(request);
        HttpRequest in = request;
        in.remoteAddress = peerAddress(in.remoteAddress);
        return router.handle(in);
      },
      {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}});
  printBanner(host, port, options.token);

  if (!transport.bind(host, port)) {
    std::printf("[error] nao foi possivel ouvir em %s:%d\n", host.c_str(), port);
    std::fflush(stdout);
    return;
  }
  std::atomic<bool> served{false};
  std::thread watcher([&] {
    while (!served.load()) {
      if (stopRequested.load()) {
        transport.stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  transport.run();
  served.store(true);
  watcher.join();
}
