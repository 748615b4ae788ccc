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
std::string drain(EventStream& stream) {
  std::string text;
  StreamChunk chunk;
  while (stream.next(chunk) == ReplyStream::Next::Data) text += chunk.head;
  return text;
}

}  // namespace

TEST(EventLogTest, KeepsTheNewestAndCatchesUpFromLastEventId) {
  EventLog log;
  for (int i = 1; i <= 300; ++i) log.publish("capture", "{\"n\":" + std::to_string(i) + "}");
  const auto kept = log.since(0);
  ASSERT_EQ(kept.size(), EventLog::kKept);
  EXPECT_EQ(kept.front().id, 300u - EventLog::kKept + 1);
  EXPECT_EQ(kept.back().id, 300u);

  // A client that saw event 297 and comes back gets 298, 299, 300, in order.
  EventStream stream(log, 297);
  stream.open([] {});
  EXPECT_EQ(drain(stream),
            "retry: 1000\n\n"
            "id: 298\nevent: capture\ndata: {\"n\":298}\n\n"
            "id: 299\nevent: capture\ndata: {\"n\":299}\n\n"
            "id: 300\nevent: capture\ndata: {\"n\":300}\n\n");
  log.publish("ptz", "{\"command\":\"stop\"}");
  EXPECT_EQ(drain(stream), "id: 301\nevent: ptz\ndata: {\"command\":\"stop\"}\n\n");
  EXPECT_EQ(drain(stream), "");
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
