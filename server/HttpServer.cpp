// The server frame: the HTTP library's set-up, the banner, listening, and a
// watcher that turns stop() into the library's stop.
#include "server/HttpServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "server/ServerBanner.h"
#include "server/routes/RequestGuard.h"
#include "server/routes/Router.h"

namespace {

const std::size_t kWorkers = 32;
const time_t kKeepAliveSeconds = 2;

class ApiServer : public httplib::Server {
 public:
  void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

HttpMethod methodOf(const std::string& text) {
  if (text == "GET") return HttpMethod::Get;
  if (text == "HEAD") return HttpMethod::Head;
  if (text == "POST") return HttpMethod::Post;
  return HttpMethod::Other;
}

HttpRequest requestOf(const httplib::Request& in) {
  HttpRequest out;
  out.method = methodOf(in.method);
  out.methodText = in.method;
  out.path = in.path;
  out.params.assign(in.params.begin(), in.params.end());
  out.headers.assign(in.headers.begin(), in.headers.end());
  out.body = in.body;
  out.remoteAddress = in.remote_addr;
  return out;
}

void answer(const HttpReply& reply, httplib::Response& out) {
  out.status = reply.status;
  for (const auto& field : reply.headers) out.set_header(field.first.c_str(), field.second);
  if (!reply.contentType.empty()) out.set_content(reply.body, reply.contentType.c_str());
}

void configure(ApiServer& server, const Router& router,
               const std::function<std::string(const std::string&)>& peerAddress) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_default_headers({{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}});
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  });
  auto handler = [&router, peerAddress](const httplib::Request& request,
                                        httplib::Response& response) {
    HttpRequest in = requestOf(request);
    if (peerAddress) in.remoteAddress = peerAddress(in.remoteAddress);
    answer(router.handle(in), response);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);
}

}  // namespace

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
  ApiServer server;
  configure(server, router, options.peerAddressForTests);
  printBanner(host, port, options.token);

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
