// The event log and its SSE stream: ids in order, the kept window, catching
// up after a gap with exactly what was missed, and wakes that stop when the
// stream closes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "server/events/EventLog.h"
#include "server/events/EventStream.h"

namespace {

// Everything the stream has to send now, as text.
std::string drain(ReplyStream& stream) {
  std::string text;
  StreamChunk chunk;
  while (stream.next(chunk) == ReplyStream::Next::Data) text += chunk.head;
  return text;
}

std::size_t eventsIn(const std::string& text) {
  std::size_t n = 0;
  for (std::size_t at = text.find("\nevent: "); at != std::string::npos;
       at = text.find("\nevent: ", at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace

TEST(EventLogTest, KeepsTheNewest256AndCatchesUpFromLastEventId) {
  EventLog log;
  for (int i = 1; i <= 300; ++i) log.publish("capture", "{\"n\":" + std::to_string(i) + "}");
  // The reach clients are promised: of 300 events, 45 to 300.
  struct Case {
    const char* lastEventId;
    int first;
  } cases[] = {
      {"297", 298}, {"100", 101}, {"44", 45},  // within: exactly what came after
      {"43", 45},   {"1", 45},                 // older: every event kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastEventId);
    const std::string header = c.lastEventId;
    HttpReply reply = eventStreamReply(log, &header);
    reply.stream->open([] {});
    const std::string text = drain(*reply.stream);
    std::string expected = "retry: 1000\n\n";
    for (int n = c.first; n <= 300; ++n) {
      const std::string id = std::to_string(n);
      expected += "id: " + id + "\nevent: capture\ndata: {\"n\":" + id + "}\n\n";
    }
    // The count first: a short replay reads as a number, not as 250 lines.
    ASSERT_EQ(eventsIn(text), std::size_t(301 - c.first));
    EXPECT_EQ(text, expected);
  }

  // A stream that caught up goes on with what comes next.
  const std::string seen = "300";
  HttpReply reply = eventStreamReply(log, &seen);
  reply.stream->open([] {});
  EXPECT_EQ(drain(*reply.stream), "retry: 1000\n\n");
  log.publish("ptz", "{\"command\":\"stop\"}");
  EXPECT_EQ(drain(*reply.stream), "id: 301\nevent: ptz\ndata: {\"command\":\"stop\"}\n\n");
  EXPECT_EQ(drain(*reply.stream), "");
}

TEST(EventLogTest, NewClientStartsFromNowAndWakesStopAtClose) {
  EventLog log;
  log.publish("camera", "{}");
  HttpReply reply = eventStreamReply(log, nullptr);
  EXPECT_EQ(reply.contentType, "text/event-stream");
  ASSERT_TRUE(reply.stream);
  std::atomic<int> wakes{0};
  reply.stream->open([&wakes] { ++wakes; });
  StreamChunk chunk;
  ASSERT_EQ(reply.stream->next(chunk), ReplyStream::Next::Data);
  EXPECT_EQ(chunk.head, "retry: 1000\n\n");  // the earlier event is not replayed
  EXPECT_EQ(reply.stream->next(chunk), ReplyStream::Next::Idle);

  // Publishers on other threads while the stream closes: no wake may come
  // after close() (ThreadSanitizer checks the hand-over).
  std::thread publisher([&log] {
    for (int i = 0; i < 2000; ++i) log.publish("error", "{}");
  });
  while (wakes.load() == 0) std::this_thread::yield();
  reply.stream->close();
  const int atClose = wakes.load();
  publisher.join();
  EXPECT_EQ(wakes.load(), atClose);
}

TEST(EventLogTest, AnIdFromAnEarlierRunOfTheServerGetsEverythingKept) {
  // A browser that followed the server before it restarted comes back with
  // its old number; the new run has numbered only three events so far.
  EventLog log;
  for (int i = 1; i <= 3; ++i) log.publish("camera", "{\"n\":" + std::to_string(i) + "}");
  const std::string old = "57";
  HttpReply reply = eventStreamReply(log, &old);
  reply.stream->open([] {});
  StreamChunk chunk;
  ASSERT_EQ(reply.stream->next(chunk), ReplyStream::Next::Data);
  EXPECT_EQ(chunk.head,
            "retry: 1000\n\n"
            "id: 1\nevent: camera\ndata: {\"n\":1}\n\n"
            "id: 2\nevent: camera\ndata: {\"n\":2}\n\n"
            "id: 3\nevent: camera\ndata: {\"n\":3}\n\n");
  // A number it did reach still means "after that one".
  const std::string seen = "2";
  HttpReply again = eventStreamReply(log, &seen);
  again.stream->open([] {});
  ASSERT_EQ(again.stream->next(chunk), ReplyStream::Next::Data);
  EXPECT_EQ(chunk.head, "retry: 1000\n\nid: 3\nevent: camera\ndata: {\"n\":3}\n\n");
}

TEST(EventLogTest, AGreetingGoesFirstAndIsNoOlderThanTheFirstEventSent) {
  EventLog log;
  log.publish("camera", "{\"state\":\"conectando\"}");
  // An event published while the greeting is made (after the stream's start
  // in the log was fixed) is sent after it, so the client ends up current.
  HttpReply reply = eventStreamReply(log, nullptr, "", [&log] {
    log.publish("camera", "{\"state\":\"conectada\"}");
    return std::string("event: cameras\ndata: {\"cameras\":[]}\n\n");
  });
  reply.stream->open([] {});
  EXPECT_EQ(drain(*reply.stream),
            "retry: 1000\n\nevent: cameras\ndata: {\"cameras\":[]}\n\n"
            "id: 2\nevent: camera\ndata: {\"state\":\"conectada\"}\n\n");
}
