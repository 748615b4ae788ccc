// Listening sockets set up the same way for every server of the project (the
// HTTP API, the virtual camera), and the process's open-file limit.
// Thread-safe: plain functions over the system's calls.
#pragma once

#include <string>

// Opens a TCP socket listening on host:port (a numeric address or a name of
// this machine) with SO_REUSEADDR, so a restart does not wait out TIME_WAIT,
// but never SO_REUSEPORT, so a second server on the same address and port
// fails instead of silently sharing the requests. The backlog is SOMAXCONN:
// a browser opens six connections at once and a short queue makes the extra
// ones wait for a one-second SYN retransmit. TCP_NODELAY is set on the
// listener, which accepted sockets inherit. Returns the descriptor
// (close-on-exec), or -1 with the reason in `error`.
int openListenSocket(const std::string& host, int port, std::string& error);

// Raises the soft limit on open descriptors to the hard limit (on macOS to at
// most OPEN_MAX, which it accepts; its soft default is 256). A server holding
// a thousand idle connections needs more than the usual 1024. Returns the
// soft limit now in force, or -1 when it cannot be read.
long raiseOpenFileLimit();
