// Keeps the SDK's writes to a camera that hung up from raising SIGPIPE in the
// program that links it: such a write must fail with EPIPE and be reported
// as a lost link, not end the host.
#pragma once

#include <sys/socket.h>

#include <csignal>

namespace standin {

// macOS has a socket option for it, set on each of the SDK's sockets.
inline void quietSocket(int fd) {
#ifdef SO_NOSIGPIPE
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &yes, sizeof yes);
#else
  (void)fd;
#endif
}

// Linux has no such option, and the system's HTTP library is compiled without
// MSG_NOSIGNAL on its sends: there Init() ignores SIGPIPE for the process,
// unless the host already chose what SIGPIPE does.
inline void quietProcess() {
#if !defined(SO_NOSIGPIPE) && defined(SIGPIPE)
  struct sigaction now {};
  if (::sigaction(SIGPIPE, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
#endif
}

}  // namespace standin
