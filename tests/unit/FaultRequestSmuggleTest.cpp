// A request refused by the origin guard must not smuggle a second request in
// its body: on a kept-alive link, a body the server never read would be
// parsed as the next request, and that one carries no Origin to refuse.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "FakeSdk.h"
#include "ServerTestHarness.h"

namespace {

const char* kHost = "127.0.70.2";

// Sends head, then (after a pause, so it arrives as a separate segment)
// body, and returns everything the server wrote within a second.
std::string exchange(const std::string& head, const std::string& body) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(8080);
  inet_pton(AF_INET, kHost, &addr.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return "connect failed";
  }
  send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  send(fd, body.data(), body.size(), MSG_NOSIGNAL);
  timeval timeout{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) out.append(buffer, n);
  close(fd);
  return out;
}

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(FaultRequestSmuggleTest, RefusedRequestBodyIsNeverRunAsARequest) {
  fake::sdk().reset();
  RunningServer server(kHost);
  ASSERT_TRUE(server.up());
  auto client = server.client();
  ASSERT_EQ(client.Post("/connect?ip=127.0.0.1&mac=aa:bb:cc:dd:ee:ff")->status, 200);
  fake::sdk().clearCalls();

  const std::string hidden =
      "POST /ptz/home HTTP/1.1\r\nHost: 127.0.70.2:8080\r\nContent-Length: 0\r\n\r\n";
  struct Case {
    const char* what;
    std::string head;
  };
  const Case cases[] = {
      {"form body",
       "POST /disconnect HTTP/1.1\r\nHost: 127.0.70.2:8080\r\n"
       "Origin: http://evil.example\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(hidden.size()) + "\r\n\r\n"},
      {"text body",
       "POST /ptz/stop HTTP/1.1\r\nHost: 127.0.70.2:8080\r\n"
       "Origin: null\r\nContent-Type: text/plain\r\nContent-Length: " +
           std::to_string(hidden.size()) + "\r\n\r\n"},
      {"rebinding host",
       "POST /capture HTTP/1.1\r\nHost: evil.example:8080\r\n"
       "Content-Type: text/plain\r\nContent-Length: " +
           std::to_string(hidden.size()) + "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    const std::string reply = exchange(c.head, hidden);
    EXPECT_EQ(count(reply, "HTTP/1.1 "), 1) << c.what << ":\n" << reply;
    EXPECT_EQ(count(reply, "HTTP/1.1 403"), 1) << c.what << ":\n" << reply;
  }
  // Neither the refused routes nor the hidden one reached the camera.
  EXPECT_EQ(fake::sdk().count("ControlPTZF"), 0) << fake::sdk().transcript();
  EXPECT_EQ(fake::sdk().count("Disconnect"), 0) << fake::sdk().transcript();
  EXPECT_EQ(fake::sdk().count("SendCommand"), 0) << fake::sdk().transcript();
  // And the server still answers an allowed request with a body.
  auto res = client.Post("/ptz/move", "pan=30&tilt=0", "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

}  // namespace
