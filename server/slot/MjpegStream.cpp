// Multipart JPEG parts from the live-view feed.
#include "server/slot/MjpegStream.h"

#include <cinttypes>
#include <cstdio>

MjpegStream::MjpegStream(LiveFeed& feed, std::function<bool()> cameraGone)
    : feed_(feed), cameraGone_(std::move(cameraGone)) {}

MjpegStream::~MjpegStream() { close(); }

void MjpegStream::open(std::function<void()> wake) { viewer_ = feed_.watch(std::move(wake)); }

std::string MjpegStream::partHeader(const LiveFrame& frame, const std::string& fields) {
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(frame.grabbedAt.time_since_epoch())
          .count();
  char text[256];
  std::snprintf(text, sizeof text,
                "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n"
                "X-Timestamp: %" PRId64 ".%06" PRId64 "\r\nX-Frame: %" PRIu64 "\r\n",
                kBoundary, frame.jpeg->size(), static_cast<std::int64_t>(micros / 1000000),
                static_cast<std::int64_t>(micros % 1000000), frame.sequence);
  return text + fields + "\r\n";
}

ReplyStream::Next MjpegStream::next(StreamChunk& out) {
  out = StreamChunk();
  if (cameraGone_ && cameraGone_()) {
    out.head = std::string("--") + kBoundary + "--\r\n";
    return Next::End;
  }
  const LiveFrame frame = feed_.latest();
  if (!frame.jpeg || frame.sequence <= sent_) return Next::Idle;
  sent_ = frame.sequence;
  out.head = partHeader(frame);
  out.payload = frame.jpeg;
  out.tail = "\r\n";
  return Next::Data;
}

void MjpegStream::close() { viewer_.reset(); }

HttpReply mjpegReply(LiveFeed& feed, std::function<bool()> cameraGone) {
  HttpReply reply;
  reply.contentType = std::string("multipart/x-mixed-replace; boundary=") + MjpegStream::kBoundary;
  reply.headers = {{"Cache-Control", "no-cache, no-store"}, {"Pragma", "no-cache"}};
  reply.stream = std::make_shared<MjpegStream>(feed, std::move(cameraGone));
  return reply;
}
