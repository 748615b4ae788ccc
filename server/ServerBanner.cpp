// The start-up banner.
#include "server/ServerBanner.h"

#include <cstdio>

#include "server/routes/AccessToken.h"
#include "server/routes/RequestGuard.h"

namespace {

bool listensForOthers(const std::string& host) {
  return !AccessToken::isLoopback(host) && host != "localhost";
}

// The name other machines reach this one by: the host itself, or this
// machine's name when listening on every address.
std::string reachableName(const std::string& host) {
  if (host != "0.0.0.0" && host != "::" && host != "[::]") return host;
  const std::string name = localMachineName();
  return name.empty() ? host : name;
}

}  // namespace

void printBanner(const std::string& host, int port, const std::string& token) {
  std::printf("[server] KAMORA HTTP em http://%s:%d  (Ctrl+C encerra)\n", host.c_str(), port);
  if (!token.empty()) {
    std::printf("[server] de outra maquina: http://%s:%d/?token=%s\n", reachableName(host).c_str(),
                port, token.c_str());
  } else if (listensForOthers(host)) {
    std::printf("[server] aviso: sem --token, qualquer pessoa na rede pode usar a camera\n");
  }
  std::fflush(stdout);
}
