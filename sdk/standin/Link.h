// Requests to one virtual camera over loopback, on a small pool of
// keep-alive connections so that calls from several threads run side by side.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"

namespace httplib {
class Client;
}

namespace standin {

struct Reply {
  bool reached = false;  // false: no answer (nothing listens, reset, time-out)
  int status = 0;
  std::string body;
  std::string frameNo;  // the live-view frame header, when present
};

// Thread-safe.
class Link {
 public:
  explicit Link(std::string ip);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  Reply get(const std::string& pathAndQuery, int timeoutMs = 3000);
  Reply post(const std::string& path, const nlohmann::json& body, int timeoutMs = 3000);
  // A JSON POST whose reply carries {"error": code}; transport failures map
  // to failWith.
  std::uint32_t call(const std::string& path, const nlohmann::json& body, std::uint32_t failWith,
                     nlohmann::json* replyOut = nullptr);

  const std::string& ip() const { return ip_; }

 private:
  // A kept connection unless fresh; *reused tells which it is.
  std::unique_ptr<httplib::Client> acquire(int timeoutMs, bool fresh, bool* reused)
      EXCLUDES(mutex_);
  // Runs one exchange, once more on a new connection when a kept one failed
  // at once (closed by the camera).
  Reply send(int timeoutMs, const std::function<bool(httplib::Client&, Reply&)>& exchange);
  void release(std::unique_ptr<httplib::Client> client) EXCLUDES(mutex_);

  const std::string ip_;
  Mutex mutex_;
  std::vector<std::unique_ptr<httplib::Client>> idle_ GUARDED_BY(mutex_);
};

// True for a dotted IPv4 text in 127.0.0.0/8.
bool isLoopbackText(const std::string& ip);
std::string ipText(std::uint32_t address);  // first octet in bits 31-24

}  // namespace standin
