// An HttpServer run in-process on a loopback address of its own, over the
// fake SDK, with an HTTP client aimed at it. Stopped and joined on the way
// out, whatever the test did.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "FakeSdk.h"
#include "server/HttpServer.h"
#include "tests/support/StatusReply.h"

class RunningServer {
 public:
  explicit RunningServer(const std::string& host, int port = 8080,
                         ServerOptions options = ServerOptions())
      : host_(host),
        port_(port),
        server_(std::make_unique<HttpServer>(host, port, std::move(options))) {
    thread_ = std::thread([this] {
      server_->run();
      done_ = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      httplib::Client probe(host_, port_);
      probe.set_connection_timeout(0, 200000);
      if (auto res = probe.Get("/status")) {
        up_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~RunningServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
  }
  bool up() const { return up_; }
  HttpServer& server() { return *server_; }
  // Joins run() after stop(); true when it returned within timeoutMs.
  bool stopAndJoin(int timeoutMs) {
    server_->stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!finished() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!finished()) return false;
    thread_.join();
    return true;
  }
  httplib::Client client() const {
    httplib::Client c(host_, port_);
    c.set_read_timeout(60, 0);
    return c;
  }

 private:
  bool finished() const { return done_.load(); }

  std::string host_;
  int port_;
  std::unique_ptr<HttpServer> server_;
  std::thread thread_;
  bool up_ = false;
  std::atomic<bool> done_{false};
};
