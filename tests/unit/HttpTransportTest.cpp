// The HTTP transport on a loopback address: the reply bytes clients have
// always seen, the limits and time-outs, and that slow or idle clients hold
// nothing another client needs.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "server/http/HttpTransport.h"
#include "tests/unit/HttpTestClient.h"

using namespace httptest;

namespace {

const char kTransportIp[] = "127.7.1.1";
const char kPowered[] = "X-Powered-By: Zef \xE2\x9A\xA1 pirwol\r\n";
const std::string kStatusReply = std::string(
                                     "HTTP/1.1 200 OK\r\nContent-Length: 19\r\n"
                                     "Content-Type: application/json\r\n"
                                     "Keep-Alive: timeout=2, max=5\r\n") +
                                 kPowered + "\r\n{\"status\":\"online\"}";
const std::string kLastStatusReply =
    std::string(
        "HTTP/1.1 200 OK\r\nConnection: close\r\n"
        "Content-Length: 19\r\nContent-Type: application/json\r\n") +
    kPowered + "\r\n{\"status\":\"online\"}";

// /status as the server answers it, /sleep blocks for ?ms=, anything else is
// the route table's 404 (no content type). Records every request it sees.
struct Routes {
  HttpReply operator()(const HttpRequest& request) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(request);
    }
    HttpReply reply;
    if (request.path == "/sleep") {
      std::this_thread::sleep_for(milliseconds(std::stoi(request.param("ms", "0"))));
    }
    if (request.path == "/status" || request.path == "/sleep") {
      reply.contentType = "application/json";
      reply.body = "{\"status\":\"online\"}";
    } else {
      reply.status = 404;
    }
    return reply;
  }
  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen.size();
  }
  std::mutex mutex;
  std::vector<HttpRequest> seen;
};

HttpHandler handlerOf(Routes& routes) {
  return [&routes](const HttpRequest& request) { return routes(request); };
}

std::string roundTrip(TestServer& server, const std::string& request) {
  const int fd = server.connect();
  sendAll(fd, request);
  std::string reply = readReply(fd);
  ::close(fd);
  return reply;
}

}  // namespace

TEST(HttpTransport, RepliesAreByteForByteWhatClientsAlwaysGot) {
  Routes routes;
  TestServer server(kTransportIp, handlerOf(routes));
  ASSERT_TRUE(server.bound) << server.transport.bindError();

  EXPECT_EQ(roundTrip(server, "GET /status HTTP/1.1\r\nHost: x\r\n\r\n"), kStatusReply);
  const std::string headReply =
      std::string(
          "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nContent-Length: 19\r\n"
          "Content-Type: application/json\r\nKeep-Alive: timeout=2, max=5\r\n") +
      kPowered + "\r\n";
  int fd = server.connect();
  sendAll(fd, "HEAD /status HTTP/1.1\r\n\r\n");
  EXPECT_EQ(readFor(fd, milliseconds(3000), headReply.size()).bytes, headReply);
  const Received after = readFor(fd, milliseconds(100));
  EXPECT_TRUE(after.bytes.empty());  // no body follows
  EXPECT_FALSE(after.closed);
  ::close(fd);
  EXPECT_EQ(roundTrip(server, "GET /nothing HTTP/1.1\r\n\r\n"),
            std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                        "Keep-Alive: timeout=2, max=5\r\n") +
                kPowered + "\r\n");
  const std::string badRequest = std::string(
                                     "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                                     "Keep-Alive: timeout=2, max=5\r\n") +
                                 kPowered + "\r\n";
  EXPECT_EQ(roundTrip(server, "nonsense\r\n\r\n"), badRequest);
  EXPECT_EQ(roundTrip(server, "BREW /status HTTP/1.1\r\n\r\n"), badRequest);
  EXPECT_EQ(roundTrip(server, "GET /status?a?b HTTP/1.1\r\n\r\n"), badRequest);
  // `curl -X POST` sends no Content-Length: an empty body, not a 400.
  EXPECT_EQ(roundTrip(server, "POST /status HTTP/1.1\r\n\r\n"), kStatusReply);

  // What the handler sees: decoded path, query then form parameters, a
  // chunked body put together, headers as sent.
  EXPECT_EQ(roundTrip(server,
                      "POST /st%61tus?shots=3&name=a+b HTTP/1.1\r\nX-Mixed-Case: v\r\n"
                      "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n"
                      "5\r\nshots\r\n7\r\n=9&iso=\r\n3\r\n400\r\n0\r\n\r\n"),
            kStatusReply);
  std::lock_guard<std::mutex> lock(routes.mutex);
  const HttpRequest& posted = routes.seen.back();
  EXPECT_EQ(posted.method, HttpMethod::Post);
  EXPECT_EQ(posted.path, "/status");
  EXPECT_EQ(posted.body, "shots=9&iso=400");
  const HttpFields params = {{"shots", "3"}, {"name", "a b"}, {"shots", "9"}, {"iso", "400"}};
  EXPECT_EQ(posted.params, params);
  EXPECT_EQ(posted.param("shots", "-"), "3");
  ASSERT_NE(posted.header("x-mixed-case"), nullptr);
  EXPECT_EQ(posted.headers.front().first, "X-Mixed-Case");
  EXPECT_EQ(posted.remoteAddress.rfind("127.", 0), 0u) << posted.remoteAddress;
}

TEST(HttpTransport, KeepsAliveForFiveRequestsOrUntilTheClientSaysClose) {
  Routes routes;
  TestServer server(kTransportIp, handlerOf(routes));
  ASSERT_TRUE(server.bound);

  int fd = server.connect();
  for (int i = 1; i <= 4; ++i) {
    sendAll(fd, "GET /status HTTP/1.1\r\n\r\n");
    EXPECT_EQ(readReply(fd), kStatusReply) << "request " << i;
  }
  sendAll(fd, "GET /status HTTP/1.1\r\n\r\n");
  Received last = readFor(fd, milliseconds(3000));
  EXPECT_EQ(last.bytes, kLastStatusReply);
  EXPECT_TRUE(last.closed);
  ::close(fd);

  fd = server.connect();
  sendAll(fd, "GET /status HTTP/1.1\r\n\r\nGET /status HTTP/1.1\r\nConnection: close\r\n\r\n");
  Received both = readFor(fd, milliseconds(3000));
  EXPECT_EQ(both.bytes, kStatusReply + kLastStatusReply);
  EXPECT_TRUE(both.closed);
  ::close(fd);
}

TEST(HttpTransport, RefusesLargeBodiesAndHeadersBeforeReadingThem) {
  Routes routes;
  TestServer server(kTransportIp, handlerOf(routes));
  ASSERT_TRUE(server.bound);
  const std::string tooLarge = std::string(
                                   "HTTP/1.1 413 Payload Too Large\r\nConnection: close\r\n"
                                   "Content-Length: 32\r\nContent-Type: application/json\r\n") +
                               kPowered + "\r\n{\"status\":\"corpo grande demais\"}";
  const std::string headersTooLarge =
      std::string(
          "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
          "Content-Length: 38\r\nContent-Type: application/json\r\n") +
      kPowered + "\r\n{\"status\":\"cabecalhos grandes demais\"}";

  // A gigabyte announced: the answer comes at once, with nothing read.
  int fd = server.connect();
  const auto start = Clock::now();
  sendAll(fd, "POST /status HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\nabc");
  Received got = readFor(fd, milliseconds(3000));
  EXPECT_LT(msSince(start), 1000.0);
  EXPECT_EQ(got.bytes, tooLarge);
  EXPECT_TRUE(got.closed);
  ::close(fd);

  // A chunked body is refused once it passes the limit, mid-upload.
  fd = server.connect();
  sendAll(fd, "POST /status HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
  const std::string chunk = "4000\r\n" + std::string(0x4000, 'x') + "\r\n";
  for (int i = 0; i < 4; ++i) sendAll(fd, chunk);  // exactly 64 KiB: still fine
  EXPECT_TRUE(readFor(fd, milliseconds(200)).bytes.empty());
  sendAll(fd, "1\r\nx\r\n");
  EXPECT_EQ(readFor(fd, milliseconds(3000)).bytes, tooLarge);
  ::close(fd);

  std::string fields;
  for (int i = 0; i < 100; ++i) fields += "X-Field-" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(roundTrip(server, "GET /status HTTP/1.1\r\n" + fields + "\r\n"), kStatusReply);
  EXPECT_EQ(roundTrip(server, "GET /status HTTP/1.1\r\n" + fields + "X-One-More: v\r\n\r\n"),
            headersTooLarge);
  // 16 KiB with the request line: the last byte that fits, then one more.
  const std::string line = "GET /status HTTP/1.1\r\n";
  const std::string filler = "X-Filler: ";
  const std::size_t fits = 16 * 1024 - line.size() - filler.size() - 4;
  EXPECT_EQ(roundTrip(server, line + filler + std::string(fits, 'v') + "\r\n\r\n"), kStatusReply);
  EXPECT_EQ(roundTrip(server, line + filler + std::string(fits + 1, 'v') + "\r\n\r\n"),
            headersTooLarge);
  EXPECT_EQ(routes.count(), 2u);  // only the two that fit reached the handler
}

TEST(HttpTransport, ClosesConnectionsThatSendNoRequestInTime) {
  Routes routes;
  httplimits::Timeouts timeouts;
  timeouts.request = milliseconds(1000);
  timeouts.keepAlive = milliseconds(200);
  TestServer server(kTransportIp, handlerOf(routes), timeouts);
  ASSERT_TRUE(server.bound);

  // Opened and silent.
  int fd = server.connect();
  auto start = Clock::now();
  Received silent = readFor(fd, milliseconds(3000));
  EXPECT_TRUE(silent.closed);
  EXPECT_TRUE(silent.bytes.empty());
  EXPECT_GT(msSince(start), 900.0);
  EXPECT_LT(msSince(start), 2000.0);
  ::close(fd);

  // Kept alive, then idle: the shorter keep-alive time-out applies.
  fd = server.connect();
  sendAll(fd, "GET /status HTTP/1.1\r\n\r\n");
  EXPECT_EQ(readReply(fd), kStatusReply);
  start = Clock::now();
  EXPECT_TRUE(readFor(fd, milliseconds(3000)).closed);
  EXPECT_LT(msSince(start), 700.0);
  ::close(fd);

  // Trickling a request a byte at a time does not buy more time.
  fd = server.connect();
  start = Clock::now();
  const std::string request = "GET /status HTTP/1.1\r\nX-Slow: " + std::string(60, 'v');
  bool closed = false;
  for (std::size_t i = 0; i < request.size() && !closed; ++i) {
    closed = !sendAll(fd, request.substr(i, 1)) || readFor(fd, milliseconds(50)).closed;
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(msSince(start), 2000.0);
  ::close(fd);
  EXPECT_EQ(routes.count(), 1u);
}

TEST(HttpTransport, SlowIdleAndBusyClientsDoNotDelayOthers) {
  Routes routes;
  TestServer server(kTransportIp, handlerOf(routes));
  ASSERT_TRUE(server.bound);

  std::vector<int> idle;
  for (int i = 0; i < 200; ++i) idle.push_back(server.connect());
  ASSERT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
  // A handler that blocks, and a client sending a byte every 100 ms.
  const int busy = server.connect();
  sendAll(busy, "GET /sleep?ms=1500 HTTP/1.1\r\n\r\n");
  const int slow = server.connect();
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    const std::string request = "GET /status HTTP/1.1\r\nX-Slow: vvvvvvvvvvvvvvvvvvvvvvvv";
    for (std::size_t i = 0; i < request.size() && !done; ++i) {
      sendAll(slow, request.substr(i, 1));
      std::this_thread::sleep_for(milliseconds(100));
    }
  });
  std::this_thread::sleep_for(milliseconds(300));

  double worst = 0;
  for (int i = 0; i < 20; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(roundTrip(server, "GET /status HTTP/1.1\r\n\r\n"), kStatusReply);
    worst = std::max(worst, msSince(start));
  }
  EXPECT_LT(worst, 1000.0) << "a normal request waited behind idle, slow or busy clients";
  done = true;
  trickle.join();
  for (int fd : idle) ::close(fd);
  ::close(busy);
  ::close(slow);
}

TEST(HttpTransport, StopAnswersRequestsUnderWayAndReturnsPromptly) {
  Routes routes;
  TestServer server(kTransportIp, handlerOf(routes));
  ASSERT_TRUE(server.bound);
  std::vector<int> idle;
  for (int i = 0; i < 20; ++i) idle.push_back(server.connect());
  const int busy = server.connect();
  sendAll(busy, "GET /sleep?ms=400 HTTP/1.1\r\n\r\n");
  while (routes.count() == 0) std::this_thread::sleep_for(milliseconds(5));

  const double took = server.stopAndJoin();
  EXPECT_LT(took, 1000.0);
  EXPECT_GT(took, 300.0);  // it waited for the handler
  Received reply = readFor(busy, milliseconds(1000));
  EXPECT_EQ(reply.bytes, kLastStatusReply);
  EXPECT_TRUE(reply.closed);
  for (int fd : idle) {
    EXPECT_TRUE(readFor(fd, milliseconds(1000)).closed);
    ::close(fd);
  }
  ::close(busy);
  EXPECT_EQ(server.connect(), -1);  // no longer listening

  // A stop that comes before run() makes run() return at once.
  HttpTransport early(handlerOf(routes));
  ASSERT_TRUE(early.bind(kTransportIp, 0));
  early.stop();
  const auto start = Clock::now();
  early.run();
  EXPECT_LT(msSince(start), 100.0);
}

TEST(HttpTransport, BindFailsOnABusyPortOrAForeignAddress) {
  Routes routes;
  HttpTransport first(handlerOf(routes));
  ASSERT_TRUE(first.bind(kTransportIp, 0));
  HttpTransport second(handlerOf(routes));
  EXPECT_FALSE(second.bind(kTransportIp, first.port()));
  EXPECT_FALSE(second.bindError().empty());
  // TEST-NET-1: never an address of this machine.
  HttpTransport foreign(handlerOf(routes));
  EXPECT_FALSE(foreign.bind("192.0.2.1", 0));
}
