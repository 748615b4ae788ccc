// Server-Sent Events over the event log.
#include "server/events/EventStream.h"

#include <cstdlib>
#include <utility>

EventStream::EventStream(EventLog& log, std::uint64_t lastEventId, std::string camera,
                         std::string greeting)
    : log_(log), camera_(std::move(camera)), greeting_(std::move(greeting)), sent_(lastEventId) {}

EventStream::~EventStream() { close(); }

void EventStream::open(std::function<void()> wake) {
  subscription_ = log_.subscribe(std::move(wake));
}

std::string EventStream::format(const ServerEvent& event) {
  return "id: " + std::to_string(event.id) + "\nevent: " + event.type + "\ndata: " + event.data +
         "\n\n";
}

ReplyStream::Next EventStream::next(StreamChunk& out) {
  out = StreamChunk();
  if (!greeted_) {
    greeted_ = true;
    out.head = "retry: " + std::to_string(kRetryMs) + "\n\n" + greeting_;
  }
  for (const ServerEvent& event : log_.since(sent_)) {
    sent_ = event.id;
    if (camera_.empty() || event.camera.empty() || event.camera == camera_) {
      out.head += format(event);
    }
  }
  const Clock::time_point now = Clock::now();
  if (out.head.empty() && now - lastWrite_ >= kHeartbeat) out.head = ": ainda aqui\n\n";
  if (out.head.empty()) return Next::Idle;
  lastWrite_ = now;
  return Next::Data;
}

void EventStream::close() { subscription_.reset(); }

HttpReply eventStreamReply(EventLog& log, const std::string* lastEventIdHeader,
                           const std::string& camera,
                           const std::function<std::string()>& greeting) {
  // Without the header a new client starts from now, not from the kept past.
  // A number this log has not reached yet was given by an earlier run of the
  // server (numbers start again at 1): none of this run's events were seen.
  const std::uint64_t last = log.lastId();
  std::uint64_t after = last;
  if (lastEventIdHeader != nullptr) {
    after = std::strtoull(lastEventIdHeader->c_str(), nullptr, 10);
    if (after > last) after = 0;
  }
  HttpReply reply;
  reply.contentType = "text/event-stream";
  reply.headers = {{"Cache-Control", "no-cache"}};
  reply.stream = std::make_shared<EventStream>(log, after, camera, greeting ? greeting() : "");
  return reply;
}
