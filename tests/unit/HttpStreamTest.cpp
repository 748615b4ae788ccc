// Streamed replies on the HTTP transport: woken chunks arrive in order and
// complete, an idle stream is still polled, a client that goes away or stops
// reading ends its stream, and a stop ends them all at once.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "server/http/HttpTransport.h"
#include "tests/unit/HttpTestClient.h"

using namespace httptest;

namespace {

const char kStreamIp[] = "127.7.2.1";

// A stream fed by the test. Thread-safe.
class QueueStream : public ReplyStream {
 public:
  // Queues a piece; wakes the transport unless told not to.
  void push(StreamChunk chunk, bool wake = true) {
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back(std::move(chunk));
    // Under the lock, so that no wake follows close().
    if (wake && wakeUp) wakeUp();
  }
  // From now on, next() always has this payload.
  void sendForever(std::shared_ptr<const std::vector<std::uint8_t>> payload) {
    std::lock_guard<std::mutex> lock(mutex);
    endless = std::move(payload);
  }
  void end() {
    std::lock_guard<std::mutex> lock(mutex);
    ended = true;
    if (wakeUp) wakeUp();
  }
  void open(std::function<void()> wake) override {
    std::lock_guard<std::mutex> lock(mutex);
    wakeUp = std::move(wake);
  }
  Next next(StreamChunk& out) override {
    ++nextCalls;
    std::lock_guard<std::mutex> lock(mutex);
    if (endless) {
      out.payload = endless;
      return Next::Data;
    }
    if (!queue.empty()) {
      out = std::move(queue.front());
      queue.pop_front();
      return Next::Data;
    }
    return ended ? Next::End : Next::Idle;
  }
  void close() override {
    std::lock_guard<std::mutex> lock(mutex);
    wakeUp = nullptr;
    ++closes;
  }

  std::atomic<int> nextCalls{0};
  std::atomic<int> closes{0};

 private:
  std::mutex mutex;
  std::function<void()> wakeUp;
  std::deque<StreamChunk> queue;
  std::shared_ptr<const std::vector<std::uint8_t>> endless;
  bool ended = false;
};

// /stream answers with the next of the prepared streams; /status as usual.
struct StreamRoutes {
  HttpReply operator()(const HttpRequest& request) {
    HttpReply reply;
    if (request.path != "/stream") {
      reply.contentType = "application/json";
      reply.body = "{\"status\":\"online\"}";
      return reply;
    }
    reply.contentType = "multipart/x-mixed-replace; boundary=frame";
    reply.headers = {{"Cache-Control", "no-cache"}};
    reply.stream = streams.at(handed++);
    return reply;
  }
  std::vector<std::shared_ptr<QueueStream>> streams;
  std::atomic<std::size_t> handed{0};
};

const std::string kStreamHead = std::string(
    "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\n"
    "Connection: close\r\n"
    "Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
    "X-Powered-By: Zef \xE2\x9A\xA1 pirwol\r\n\r\n");

bool waitFor(const std::function<bool()>& condition, milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

int openStream(TestServer& server) {
  const int fd = server.connect();
  sendAll(fd, "GET /stream HTTP/1.1\r\n\r\n");
  return fd;
}

}  // namespace

TEST(HttpStream, SendsEveryWokenChunkInOrderAndPollsIdleStreams) {
  StreamRoutes routes;
  routes.streams = {std::make_shared<QueueStream>()};
  httplimits::Timeouts timeouts;
  timeouts.streamTick = milliseconds(200);
  TestServer server(
      kStreamIp, [&](const HttpRequest& r) { return routes(r); }, timeouts);
  ASSERT_TRUE(server.bound);
  QueueStream& stream = *routes.streams[0];

  const int fd = openStream(server);
  EXPECT_EQ(readFor(fd, milliseconds(2000), kStreamHead.size()).bytes, kStreamHead);

  // Bursts and pauses; text and shared bytes around each other.
  std::string expected;
  auto picture = std::make_shared<const std::vector<std::uint8_t>>(100000, 0xAB);
  for (int i = 0; i < 60; ++i) {
    StreamChunk chunk;
    chunk.head = "--frame " + std::to_string(i) + "\r\n";
    if (i % 3 == 0) chunk.payload = picture;
    chunk.tail = "\r\n";
    expected += chunk.head + (chunk.payload ? std::string(100000, '\xAB') : "") + chunk.tail;
    stream.push(std::move(chunk));
    if (i % 10 == 0) std::this_thread::sleep_for(milliseconds(20));
  }
  Received body = readFor(fd, milliseconds(3000), expected.size());
  EXPECT_EQ(body.bytes.size(), expected.size());
  EXPECT_TRUE(body.bytes == expected) << "chunks lost, repeated or out of order";

  // Data that comes without a wake goes out on the next tick.
  const auto start = Clock::now();
  stream.push({"quiet\n", nullptr, ""}, false);
  EXPECT_EQ(readFor(fd, milliseconds(2000), 6).bytes, "quiet\n");
  EXPECT_LT(msSince(start), 900.0);

  stream.push({"last\n", nullptr, ""}, false);
  stream.end();
  Received tail = readFor(fd, milliseconds(2000));
  EXPECT_EQ(tail.bytes, "last\n");
  EXPECT_TRUE(tail.closed);
  EXPECT_TRUE(waitFor([&] { return stream.closes == 1; }, milliseconds(1000)));
  ::close(fd);
}

TEST(HttpStream, EndsWhenTheClientLeavesOrStopsReading) {
  StreamRoutes routes;
  routes.streams = {std::make_shared<QueueStream>(), std::make_shared<QueueStream>()};
  httplimits::Timeouts timeouts;
  timeouts.writeStall = milliseconds(500);
  TestServer server(
      kStreamIp, [&](const HttpRequest& r) { return routes(r); }, timeouts);
  ASSERT_TRUE(server.bound);

  // An idle stream whose client hangs up is closed, though nothing is sent.
  int fd = openStream(server);
  EXPECT_EQ(readFor(fd, milliseconds(2000), kStreamHead.size()).bytes, kStreamHead);
  ::close(fd);
  EXPECT_TRUE(waitFor([&] { return routes.streams[0]->closes == 1; }, milliseconds(1000)));

  // A stream that always has data, to a client that reads nothing: the
  // stream is not asked again while a write is pending...
  QueueStream& endless = *routes.streams[1];
  endless.sendForever(std::make_shared<const std::vector<std::uint8_t>>(1 << 20, 0));
  fd = openStream(server);
  std::this_thread::sleep_for(milliseconds(200));
  const int asked = endless.nextCalls;
  EXPECT_LT(asked, 50);
  // ...others are served meanwhile...
  const int other = server.connect();
  const auto start = Clock::now();
  sendAll(other, "GET /status HTTP/1.1\r\n\r\n");
  EXPECT_NE(readReply(other).find("{\"status\":\"online\"}"), std::string::npos);
  EXPECT_LT(msSince(start), 1000.0);
  ::close(other);
  // ...and without progress the client is dropped.
  EXPECT_TRUE(waitFor([&] { return endless.closes == 1; }, milliseconds(2000)));
  EXPECT_EQ(endless.nextCalls, asked);
  ::close(fd);
}

TEST(HttpStream, StopEndsOpenStreamsWithinASecond) {
  StreamRoutes routes;
  for (int i = 0; i < 20; ++i) routes.streams.push_back(std::make_shared<QueueStream>());
  TestServer server(kStreamIp, [&](const HttpRequest& r) { return routes(r); });
  ASSERT_TRUE(server.bound);
  std::vector<int> clients;
  for (int i = 0; i < 20; ++i) {
    clients.push_back(openStream(server));
    readFor(clients.back(), milliseconds(2000), kStreamHead.size());
  }
  ASSERT_EQ(routes.handed, 20u);

  EXPECT_LT(server.stopAndJoin(), 1000.0);
  for (std::size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(routes.streams[i]->closes, 1) << "stream " << i;
    EXPECT_TRUE(readFor(clients[i], milliseconds(1000)).closed);
    ::close(clients[i]);
  }
}
