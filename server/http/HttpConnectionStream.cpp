// A connection's streamed reply: the head, then whatever the stream has each
// time it is woken or the tick comes, never asking while a write is pending,
// so a slow client only makes the stream skip to its newest data.
#include <boost/asio/post.hpp>

#include "server/http/HttpConnection.h"

namespace asio = boost::asio;

// Turns a stream's wake, from any thread, into one pending call on the event
// loop. Thread-safe.
struct StreamWaker {
  StreamWaker(asio::io_context& io, std::weak_ptr<HttpConnection> connection)
      : io(io), connection(std::move(connection)) {}
  asio::io_context& io;
  std::weak_ptr<HttpConnection> connection;
  std::atomic<bool> pending{false};
};

void HttpConnection::startStream(std::shared_ptr<ReplyStream> body, std::string head) {
  phase = Phase::Streaming;
  source = std::move(body);
  waker = std::make_shared<StreamWaker>(host.io, weak_from_this());
  std::weak_ptr<StreamWaker> weakWaker = waker;
  source->open([weakWaker] {
    auto waker = weakWaker.lock();
    if (!waker || waker->pending.exchange(true)) return;
    asio::post(waker->io, [waker] {
      waker->pending.store(false);
      if (auto connection = waker->connection.lock()) connection->onWake();
    });
  });
  // The client sends nothing more; reading tells when it goes away.
  stream.expires_never();
  dropInput();
  outHead = std::move(head);
  outBody.clear();
  write({asio::buffer(outHead)});
}

void HttpConnection::pump() {
  if (phase != Phase::Streaming || writing) return;
  if (streamEnding) return lingerClose();
  outChunk = StreamChunk();
  const ReplyStream::Next next = source->next(outChunk);
  if (next == ReplyStream::Next::Idle) {
    waitingWake = true;
    tick.expires_after(host.timeouts.streamTick);
    tick.async_wait(
        [self = shared_from_this(), generation = ++tickGeneration](const error_code& ec) {
          if (ec || generation != self->tickGeneration || !self->waitingWake) return;
          self->waitingWake = false;
          self->pump();
        });
    return;
  }
  streamEnding = next == ReplyStream::Next::End;
  asio::const_buffer payload;
  if (outChunk.payload) payload = asio::buffer(*outChunk.payload);
  write({asio::buffer(outChunk.head), payload, asio::buffer(outChunk.tail)});
}

void HttpConnection::onWake() {
  if (phase != Phase::Streaming || !waitingWake) return;
  waitingWake = false;
  ++tickGeneration;
  tick.cancel();
  pump();
}

void HttpConnection::closeStream() {
  if (!source) return;
  waitingWake = false;
  ++tickGeneration;
  tick.cancel();
  // After close() returns the source wakes no more; the waker is dropped
  // with the connection.
  source->close();
  source.reset();
}
