// EventStream: the body of GET /events, Server-Sent Events read from an
// EventLog. It starts after the client's Last-Event-ID (so a client that
// comes back gets what it missed that is still kept), sends each event with
// its id and type, and a comment line every kHeartbeat so proxies keep the
// connection open. Thread-safe, as ReplyStream asks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "server/events/EventLog.h"
#include "server/http/HttpTypes.h"

class EventStream : public ReplyStream {
 public:
  static constexpr std::chrono::seconds kHeartbeat{15};
  // How soon a browser's EventSource retries after the stream ends.
  static constexpr int kRetryMs = 1000;

  EventStream(EventLog& log, std::uint64_t lastEventId);
  ~EventStream() override;

  void open(std::function<void()> wake) override;
  Next next(StreamChunk& out) override;
  void close() override;

  // The SSE text of one event.
  static std::string format(const ServerEvent& event);

 private:
  using Clock = std::chrono::steady_clock;

  EventLog& log_;
  std::uint64_t sent_;  // id of the last event sent; next() runs on one thread
  bool greeted_ = false;
  Clock::time_point lastWrite_ = Clock::now();
  std::unique_ptr<WakeList::Subscription> subscription_;
};

// The reply of GET /events: the stream with its headers.
HttpReply eventStreamReply(EventLog& log, const std::string* lastEventIdHeader);
