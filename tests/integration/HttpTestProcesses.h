// Real processes for the HTTP API's end-to-end tests: a virtual camera and
// `kamora --server`, each on a loopback address of its own, started and
// polled against a deadline, failing fast when the process died.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"

namespace httptest {

const int kVcamPort = 15740;

// True once GET path answers 200 at host:port; false when the deadline
// passes or the process ends first.
inline bool waitForRoute(Subprocess& process, const std::string& host, int port,
                         const std::string& path, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process.running()) return false;
    httplib::Client c(host, port);
    c.set_connection_timeout(0, 200000);
    auto r = c.Get(path.c_str());
    if (r && r->status == 200) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  return false;
}

struct Vcam {
  std::string ip;
  std::string mac;
  std::unique_ptr<Subprocess> process;

  nlohmann::json state() const {
    httplib::Client c(ip, kVcamPort);
    auto r = c.Get("/vcam/state");
    if (!r || r->status != 200) return nlohmann::json();
    return nlohmann::json::parse(r->body, nullptr, false);
  }
  // Arms a fault (see kamora-vcam): name, and its optional numbers.
  bool fault(const std::string& query) const {
    httplib::Client c(ip, kVcamPort);
    auto r = c.Post(("/vcam/fault?" + query).c_str());
    return r && r->status == 200;
  }
};

inline std::unique_ptr<Vcam> startVcam(const std::string& ip, const std::string& mac,
                                       const std::string& model,
                                       const std::vector<std::string>& extra = {}) {
  auto v = std::make_unique<Vcam>();
  v->ip = ip;
  v->mac = mac;
  std::vector<std::string> argv = {
      binaryPath("kamora-vcam"), "--ip", ip, "--mac", mac, "--model", model};
  argv.insert(argv.end(), extra.begin(), extra.end());
  v->process = Subprocess::start(argv);
  if (!v->process || !waitForRoute(*v->process, ip, kVcamPort, "/vcam/state", 10000)) {
    ADD_FAILURE() << "kamora-vcam did not start on " << ip << ": "
                  << (v->process ? v->process->output() + v->process->errorOutput() : "");
    return nullptr;
  }
  return v;
}

struct Kamora {
  std::string host;
  int port = 8080;
  std::string workDir;
  std::unique_ptr<Subprocess> process;

  httplib::Client client() const {
    httplib::Client c(host, port);
    c.set_read_timeout(60, 0);
    return c;
  }
};

inline std::unique_ptr<Kamora> startKamora(const std::string& host, int port = 8080) {
  auto k = std::make_unique<Kamora>();
  k->host = host;
  k->port = port;
  k->workDir = makeTempDir("http");
  k->process = Subprocess::start(
      {binaryPath("kamora"), "--server", "--host", host, "--port", std::to_string(port)},
      k->workDir);
  if (!k->process || !waitForRoute(*k->process, host, port, "/status", 10000)) {
    ADD_FAILURE() << "kamora --server did not start on " << host << ":" << port << ": "
                  << (k->process ? k->process->output() : "");
    return nullptr;
  }
  return k;
}

inline std::string statusBody(const std::string& text) { return "{\"status\":\"" + text + "\"}"; }

}  // namespace httptest
