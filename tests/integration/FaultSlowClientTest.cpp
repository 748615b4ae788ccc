// Ten slow clients hold connections open, five sending nothing and five
// dribbling a request one byte at a time, while a console keeps polling:
// the console's answers must keep coming, promptly.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using Clock = std::chrono::steady_clock;

int openSlowConnection(const std::string& host, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(FaultSlowClientTest, TenSlowClientsDoNotStallTheConsole) {
  VcamOptions o;
  o.ip = "127.0.79.1";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  auto k = KamoraServer::start("127.0.79.2");
  ASSERT_TRUE(k) << KamoraServer::lastError();
  auto console = k->client();
  console.set_keep_alive(true);
  console.set_read_timeout(5, 0);
  auto r = console.Post(("/connect?ip=127.0.79.1&mac=" + cam->mac()).c_str());
  ASSERT_TRUE(r);
  ASSERT_EQ(r->body, statusBody("conectado"));

  std::vector<int> slow;
  for (int i = 0; i < 10; ++i) {
    const int fd = openSlowConnection(k->host(), k->port());
    ASSERT_GE(fd, 0);
    slow.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread dribbler([&] {
    const std::string request = "GET /status HTTP/1.1\r\nHost: 127.0.79.2:8080\r\n";
    for (std::size_t at = 0; !stop && at < request.size(); ++at) {
      for (int i = 5; i < 10; ++i) send(slow[i], &request[at], 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });

  // Six seconds of console polling, past the server's read time-out for
  // the silent ones.
  int answered = 0;
  double worstMs = 0;
  const char* routes[] = {"/liveview.jpg", "/status", "/liveview.jpg", "/properties"};
  const Clock::time_point end = Clock::now() + std::chrono::seconds(6);
  for (int i = 0; Clock::now() < end; ++i) {
    const char* route = routes[i % 4];
    const Clock::time_point start = Clock::now();
    auto res = console.Get(route);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ASSERT_TRUE(res) << route << " got no answer after " << ms << " ms";
    EXPECT_EQ(res->status, 200) << route;
    worstMs = std::max(worstMs, ms);
    ++answered;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  dribbler.join();
  for (int fd : slow) close(fd);

  // Polls kept coming the whole time (a sanitizer build answers each more
  // slowly, so the count is a floor, not a rate); none waited, below.
  EXPECT_GT(answered, 25);
  EXPECT_LT(worstMs, 1000) << "a console poll waited behind the slow clients";
  EXPECT_TRUE(k->running()) << k->output();
  auto after = k->client().Get("/status");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->body, statusBody("online"));
}

}  // namespace
