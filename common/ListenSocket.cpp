// Listening socket set-up and the open-file limit, the project's one place for
// these platform calls.
#include "common/ListenSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#ifdef __APPLE__
#include <sys/syslimits.h>
#endif

namespace {

int listenOn(const addrinfo& address, std::string& error) {
  int fd = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  if (address.ai_family == AF_INET6) {
    // "::" then takes IPv4 clients as well, as on most systems by default.
    int no = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  }
  if (::bind(fd, address.ai_addr, address.ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int openListenSocket(const std::string& host, int port, std::string& error) {
  if (port < 0 || port > 65535) {
    error = "porta invalida";
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    error = ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  for (addrinfo* address = found; address != nullptr && fd < 0; address = address->ai_next) {
    fd = listenOn(*address, error);
  }
  ::freeaddrinfo(found);
  return fd;
}

long raiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  rlim_t wanted = limit.rlim_max;
#ifdef __APPLE__
  if (wanted > static_cast<rlim_t>(OPEN_MAX)) wanted = OPEN_MAX;
#endif
  if (limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<long>(limit.rlim_cur);
}
