// Keeps the SDK's writes to a camera that hung up from raising SIGPIPE in the
// program that links it: such a write must fail with EPIPE and be reported
// as a lost link, not end the host.
#pragma once

#include <sys/socket.h>

namespace standin {

// Linux has no socket option for it: there the whole build passes
// MSG_NOSIGNAL to every HTTP send (CPPHTTPLIB_SEND_FLAGS in CMakeLists.txt).
// macOS has the option and no send flag.
inline void quietSocket(int fd) {
#ifdef SO_NOSIGPIPE
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &yes, sizeof yes);
#else
  (void)fd;
#endif
}

}  // namespace standin
