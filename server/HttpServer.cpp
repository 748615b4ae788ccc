// The server frame: library set-up, the request guard, the route table and
// the listen call, with a watcher that turns stop() into a clean stop.
#include "server/HttpServer.h"

#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "server/Replies.h"
#include "server/RequestGuard.h"
#include "server/Routes.h"

namespace {

// The library's default of 8 workers is held by two console tabs' keep-alive
// connections (a browser keeps up to 6 per origin); the polls of a third
// client would then wait out a whole keep-alive time-out. Idle workers cost
// little, so leave ample room.
const std::size_t kWorkers = 32;
// Short, so idle keep-alive connections give their worker back soon and a
// stop does not wait long for them.
const time_t kKeepAliveSeconds = 2;

// The library listens with a backlog of 5. A browser opening its six
// connections at once, beside a second tab, overflows it and the extra
// connections stall for a one-second SYN retransmit; listening again on the
// bound socket widens the queue.
class ApiServer : public httplib::Server {
 public:
  void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

const httplib::Headers& poweredBy() {
  static const httplib::Headers headers = {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}};
  return headers;
}

}  // namespace

HttpServer::HttpServer(std::string host, int port) : host(std::move(host)), port(port) {}

void HttpServer::stop() { stopRequested.store(true); }

void HttpServer::run() {
  ApiServer server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_default_headers(poweredBy());
  // The library's default asks for SO_REUSEPORT, with which a second
  // instance on a busy port binds without error and silently shares the
  // requests; SO_REUSEADDR alone still allows a quick restart.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  });

  const std::string machineName = localMachineName();
  server.set_pre_routing_handler([machineName](const httplib::Request& request,
                                               httplib::Response& response) {
    try {
      const bool hasHost = request.has_header("Host");
      const bool hasOrigin = request.has_header("Origin");
      const std::string host = hasHost ? request.get_header_value("Host") : std::string();
      const std::string origin = hasOrigin ? request.get_header_value("Origin") : std::string();
      if (isRequestAllowed(hasHost ? &host : nullptr, hasOrigin ? &origin : nullptr, machineName)) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      refuse(response);
      // Answering here would leave the request's body unread on a kept-alive
      // link, to be parsed as the next request, past this check. With a body,
      // let the library read it; the route's wrapper then sees the refusal
      // and does not run.
      const bool hasBody = request.has_header("Transfer-Encoding") ||
                           (request.has_header("Content-Length") &&
                            request.get_header_value("Content-Length") != "0");
      if (hasBody) return httplib::Server::HandlerResponse::Unhandled;
    } catch (...) {
      response.status = 500;
      ok(response, "erro interno");
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        ok(response, "erro interno");
      });

  addFixedRoutes(server);
  addCameraRoutes(server, controller, gate, stopRequested);
  addPtzRoutes(server, controller, gate);

  std::printf("[server] KAMORA HTTP em http://%s:%d  (Ctrl+C encerra)\n", host.c_str(), port);
  std::fflush(stdout);

  // stop() may come from a signal watcher at any moment, even before the
  // socket is listening; the library's own stop only acts once it runs.
  std::atomic<bool> listenEnded{false};
  std::thread watcher([&] {
    while (!listenEnded.load()) {
      if (stopRequested.load() && server.is_running()) {
        server.stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  bool listened = server.bind_to_port(host.c_str(), port, 0);
  if (listened) {
    server.widenBacklog();
    listened = server.listen_after_bind();
  }
  listenEnded.store(true);
  watcher.join();

  if (!listened) {
    std::printf("[error] nao foi possivel ouvir em %s:%d\n", host.c_str(), port);
    std::fflush(stdout);
  }
}
