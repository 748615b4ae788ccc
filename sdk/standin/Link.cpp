// Loopback HTTP requests with TCP_NODELAY (no delayed-ACK stalls on small
// replies) and connections kept for reuse.
#include "Link.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

#include "QuietSocket.h"
#include "Wire.h"

namespace standin {

namespace {
constexpr std::size_t kMaxIdle = 4;
}

bool isLoopbackText(const std::string& ip) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(ip.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  return a == 127 && b <= 255 && c <= 255 && d <= 255;
}

std::string ipText(std::uint32_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return buf;
}

Link::Link(std::string ip) : ip_(std::move(ip)) {}
Link::~Link() = default;

std::unique_ptr<httplib::Client> Link::acquire(int timeoutMs, bool fresh, bool* reused) {
  std::unique_ptr<httplib::Client> client;
  if (!fresh) {
    MutexLock lock(mutex_);
    if (!idle_.empty()) {
      client = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  *reused = client != nullptr;
  if (!client) {
    // Never anything but loopback: the address was checked when the link was made.
    client = std::make_unique<httplib::Client>(ip_, vcwire::port());
    client->set_tcp_nodelay(true);
    client->set_socket_options(quietSocket);
    client->set_keep_alive(true);
    client->set_connection_timeout(1, 0);
  }
  client->set_read_timeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000);
  client->set_write_timeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000);
  return client;
}

void Link::release(std::unique_ptr<httplib::Client> client) {
  MutexLock lock(mutex_);
  if (idle_.size() < kMaxIdle) idle_.push_back(std::move(client));
}

Reply Link::get(const std::string& pathAndQuery, int timeoutMs) {
  if (!isLoopbackText(ip_)) return Reply();
  return send(timeoutMs, [&](httplib::Client& client, Reply& r) {
    auto res = client.Get(pathAndQuery.c_str());
    if (!res) return false;
    r.status = res->status;
    r.body = std::move(res->body);
    r.frameNo = res->get_header_value(vcwire::kFrameNoHeader);
    return true;
  });
}

Reply Link::post(const std::string& path, const nlohmann::json& body, int timeoutMs) {
  if (!isLoopbackText(ip_)) return Reply();
  const std::string text = body.dump();
  return send(timeoutMs, [&](httplib::Client& client, Reply& r) {
    auto res = client.Post(path.c_str(), text, "application/json");
    if (!res) return false;
    r.status = res->status;
    r.body = std::move(res->body);
    return true;
  });
}

Reply Link::send(int timeoutMs, const std::function<bool(httplib::Client&, Reply&)>& exchange) {
  using Clock = std::chrono::steady_clock;
  Reply r;
  // A kept connection the camera has just closed fails at once, before the
  // camera read the request; that one failure is retried on a new
  // connection. A slow failure (a time-out) may have reached the camera and
  // is not repeated.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = attempt > 0;
    bool reused = false;
    auto client = acquire(timeoutMs, fresh, &reused);
    const Clock::time_point start = Clock::now();
    if (exchange(*client, r)) {
      r.reached = true;
      release(std::move(client));
      return r;
    }
    const bool quick = Clock::now() - start < std::chrono::milliseconds(200);
    if (!reused || !quick) break;
  }
  return r;
}

std::uint32_t Link::call(const std::string& path, const nlohmann::json& body,
                         std::uint32_t failWith, nlohmann::json* replyOut) {
  Reply r = post(path, body);
  if (!r.reached) return failWith;
  nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
  if (!j.is_object()) return failWith;
  if (replyOut) *replyOut = j;
  return j.value("error", failWith);
}

}  // namespace standin
