// EventStream: the body of GET /events, Server-Sent Events read from an
// EventLog. It starts after the client's Last-Event-ID (so a client that
// comes back gets what it missed that is still kept), sends each event with
// its id and type, and a comment line every kHeartbeat so proxies keep the
// connection open. It may follow one camera only: that camera's events and
// the server's own, and begin with a greeting (the rig's cameras as they are,
// so a client learns them in order with the events that change them).
// Thread-safe, as ReplyStream asks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/events/EventLog.h"
#include "server/http/HttpTypes.h"

class EventStream : public ReplyStream {
 public:
  static constexpr std::chrono::seconds kHeartbeat{15};
  // How soon a browser's EventSource retries after the stream ends.
  static constexpr int kRetryMs = 1000;

  // camera: the one camera followed; empty follows every camera. greeting:
  // SSE text sent first (may be empty).
  EventStream(EventLog& log, std::uint64_t lastEventId, std::string camera = "",
              std::string greeting = "");
  ~EventStream() override;

  void open(std::function<void()> wake) override;
  Next next(StreamChunk& out) override;
  void close() override;

  // The SSE text of one event.
  static std::string format(const ServerEvent& event);

 private:
  using Clock = std::chrono::steady_clock;

  EventLog& log_;
  const std::string camera_;
  const std::string greeting_;
  std::uint64_t sent_;  // id of the last event sent; next() runs on one thread
  bool greeted_ = false;
  Clock::time_point lastWrite_ = Clock::now();
  std::unique_ptr<WakeList::Subscription> subscription_;
};

// The reply of GET /events: the stream with its headers, following camera
// (empty: every camera). greeting, when given, is called once the stream's
// start in the log is fixed, so whatever it tells is no older than the first
// event the stream sends; its text goes first.
HttpReply eventStreamReply(EventLog& log, const std::string* lastEventIdHeader,
                           const std::string& camera = "",
                           const std::function<std::string()>& greeting = {});
