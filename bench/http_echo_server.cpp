// A small server on the HTTP transport for the connection benchmark: /status
// answers at once, /slow after the milliseconds in ?ms=, anything else 404.
// Usage: http_echo_server <host> <port>; stops on SIGINT or SIGTERM.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "server/http/HttpTransport.h"

namespace {

HttpReply answer(const HttpRequest& request) {
  HttpReply reply;
  if (request.path == "/status") {
    reply.contentType = "application/json";
    reply.body = "{\"status\":\"online\"}";
  } else if (request.path == "/slow") {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::atoi(request.param("ms", "100").c_str())));
    reply.contentType = "application/json";
    reply.body = "{\"status\":\"ok\"}";
  } else {
    reply.status = 404;
  }
  return reply;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("uso: http_echo_server <host> <porta>\n");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  HttpTransport transport(answer, {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}});
  if (!transport.bind(argv[1], std::atoi(argv[2]))) {
    std::printf("[echo] nao foi possivel ouvir em %s:%s: %s\n", argv[1], argv[2],
                transport.bindError().c_str());
    return 3;
  }
  std::thread watcher([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    transport.stop();
  });
  std::printf("[echo] ouvindo em %s:%d\n", argv[1], transport.port());
  std::fflush(stdout);
  transport.run();
  std::printf("[echo] parado\n");
  // Wakes the watcher if no signal came (a bind-less stop cannot happen here).
  ::kill(::getpid(), SIGTERM);
  watcher.join();
  return 0;
}
