// MjpegStream: the body of GET /liveview.mjpg, a multipart/x-mixed-replace
// stream of the feed's pictures that browsers, media players and ffmpeg
// play. Each part carries the picture's grab time (X-Timestamp, seconds with
// microseconds since the epoch) and sequence number (X-Frame). A viewer that
// falls behind gets the newest picture next, never a backlog. The stream
// ends with the closing boundary once the camera has gone. Thread-safe, as
// ReplyStream asks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/http/HttpTypes.h"
#include "server/slot/LiveFeed.h"

class MjpegStream : public ReplyStream {
 public:
  static constexpr const char* kBoundary = "kamoraframe";

  // cameraGone is asked before each part; true ends the stream.
  MjpegStream(LiveFeed& feed, std::function<bool()> cameraGone);
  ~MjpegStream() override;

  void open(std::function<void()> wake) override;
  Next next(StreamChunk& out) override;
  void close() override;

  // The text before a picture's bytes; `fields` (header lines, each ending
  // in CRLF) go after the standard ones.
  static std::string partHeader(const LiveFrame& frame, const std::string& fields = "");

 private:
  LiveFeed& feed_;
  const std::function<bool()> cameraGone_;
  std::unique_ptr<LiveFeed::Viewer> viewer_;
  std::uint64_t sent_ = 0;  // sequence of the last picture sent
};

// The reply of GET /liveview.mjpg: the stream with its headers.
HttpReply mjpegReply(LiveFeed& feed, std::function<bool()> cameraGone);
