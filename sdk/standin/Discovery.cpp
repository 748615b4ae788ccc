// Discovery: non-blocking connects to every address at once (loopback
// refuses closed ports at once), then one identify request on each socket
// that connected, all driven by a single poll loop.
#include "Discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "QuietSocket.h"
#include "Wire.h"

namespace standin {

namespace {

constexpr int kFirstHost = 1, kLastHost = 254;

struct Probe {
  int fd = -1;
  enum { Connecting, Sending, Reading, Done } phase = Connecting;
  std::string out, in;
  std::size_t sent = 0;
  bool answered = false;  // the camera closed after a full reply
};

void closeProbe(Probe& p) {
  if (p.fd >= 0) ::close(p.fd);
  p.fd = -1;
  p.phase = Probe::Done;
}

std::unique_ptr<CameraInfo> parseIdentity(const std::string& response, const std::string& ip) {
  std::size_t split = response.find("\r\n\r\n");
  if (response.compare(0, 12, "HTTP/1.1 200") != 0 || split == std::string::npos) return nullptr;
  nlohmann::json j = nlohmann::json::parse(response.substr(split + 4), nullptr, false);
  if (!j.is_object()) return nullptr;
  return std::make_unique<CameraInfo>(j.value("model", std::string()), ip,
                                      j.value("mac", std::string()), j.value("ssh", false), true);
}

}  // namespace

std::vector<std::unique_ptr<CameraInfo>> discoverCameras(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Probe probes[kLastHost + 1];
  for (int host = kFirstHost; host <= kLastHost; ++host) {
    Probe& p = probes[host];
    p.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (p.fd < 0) {
      p.phase = Probe::Done;
      continue;
    }
    ::fcntl(p.fd, F_SETFL, ::fcntl(p.fd, F_GETFL, 0) | O_NONBLOCK);
    quietSocket(p.fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(vcwire::port());
    addr.sin_addr.s_addr = htonl((127u << 24) | static_cast<unsigned>(host));
    std::string ip = "127.0.0." + std::to_string(host);
    p.out = std::string("GET ") + vcwire::kIdentify + " HTTP/1.1\r\nHost: " + ip +
            "\r\nConnection: close\r\n\r\n";
    if (::connect(p.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
      p.phase = Probe::Sending;
    else if (errno != EINPROGRESS)
      closeProbe(p);
  }

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<int> hosts;
    for (int host = kFirstHost; host <= kLastHost; ++host) {
      Probe& p = probes[host];
      if (p.phase == Probe::Done) continue;
      short events = p.phase == Probe::Reading ? POLLIN : POLLOUT;
      fds.push_back(pollfd{p.fd, events, 0});
      hosts.push_back(host);
    }
    int remaining = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (fds.empty() || remaining <= 0) break;
    if (::poll(fds.data(), fds.size(), remaining) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      Probe& p = probes[hosts[i]];
      if (p.phase == Probe::Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
          closeProbe(p);
          continue;
        }
        p.phase = Probe::Sending;
      }
      if (p.phase == Probe::Sending) {
#ifdef MSG_NOSIGNAL
        ssize_t n = ::send(p.fd, p.out.data() + p.sent, p.out.size() - p.sent, MSG_NOSIGNAL);
#else
        ssize_t n = ::send(p.fd, p.out.data() + p.sent, p.out.size() - p.sent, 0);
#endif
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
          closeProbe(p);
          continue;
        }
        if (n > 0) p.sent += static_cast<std::size_t>(n);
        if (p.sent == p.out.size()) p.phase = Probe::Reading;
        continue;
      }
      if (p.phase == Probe::Reading) {
        char buf[4096];
        ssize_t n = ::recv(p.fd, buf, sizeof buf, 0);
        if (n > 0 && p.in.size() < 65536) {
          p.in.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
          p.answered = n == 0;
          closeProbe(p);
        }
      }
    }
  }

  std::vector<std::unique_ptr<CameraInfo>> found;
  for (int host = kFirstHost; host <= kLastHost; ++host) {
    Probe& p = probes[host];
    if (p.fd >= 0) closeProbe(p);  // ran out of time
    if (!p.answered) continue;
    if (auto info = parseIdentity(p.in, "127.0.0." + std::to_string(host)))
      found.push_back(std::move(info));
  }
  return found;
}

}  // namespace standin
