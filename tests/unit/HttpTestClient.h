// Raw-socket clients and an in-process server for the HTTP transport's
// tests: the tests look at the bytes on the wire, so no HTTP client library
// sits in between. Thread-bound.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "server/http/HttpTransport.h"

namespace httptest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline const HttpFields& poweredBy() {
  static const HttpFields fields = {{"X-Powered-By", "Zef \xE2\x9A\xA1 pirwol"}};
  return fields;
}

inline double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A connected socket, or -1.
inline int connectTo(const std::string& ip, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return fd;
}

inline bool sendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

struct Received {
  std::string bytes;
  bool closed = false;  // the server closed (or reset) the connection
};

// Reads until the server closes, `enough` bytes arrived (0: no such bound),
// or `limit` passed.
inline Received readFor(int fd, milliseconds limit, std::size_t enough = 0) {
  Received got;
  const auto end = Clock::now() + limit;
  char chunk[65536];
  while (enough == 0 || got.bytes.size() < enough) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    pollfd watch{fd, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      got.closed = true;
      break;
    }
    got.bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return got;
}

// One whole reply framed by its Content-Length, or what came within limit.
inline std::string readReply(int fd, milliseconds limit = milliseconds(3000)) {
  std::string bytes;
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    const std::size_t headEnd = bytes.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      const std::size_t at = bytes.find("Content-Length: ");
      const std::size_t length = at == std::string::npos ? 0 : std::stoul(bytes.substr(at + 16));
      if (bytes.size() >= headEnd + 4 + length) return bytes;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
    Received more = readFor(fd, left, 1);
    bytes += more.bytes;
    if (more.closed) break;
  }
  return bytes;
}

// A transport serving `handler` on ip:any port from a thread of its own,
// stopped and joined when the test ends.
class TestServer {
 public:
  TestServer(const std::string& ip, HttpHandler handler, httplimits::Timeouts timeouts = {})
      : ip(ip), transport(std::move(handler), poweredBy(), timeouts) {
    bound = transport.bind(ip, 0);
    if (bound) thread = std::thread([this] { transport.run(); });
  }
  ~TestServer() { stopAndJoin(); }
  // How long run() took to return after stop().
  double stopAndJoin() {
    const auto start = Clock::now();
    transport.stop();
    if (thread.joinable()) thread.join();
    return msSince(start);
  }
  int connect() const { return connectTo(ip, transport.port()); }

  const std::string ip;
  HttpTransport transport;
  bool bound = false;

 private:
  std::thread thread;
};

}  // namespace httptest
