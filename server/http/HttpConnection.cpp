// A connection's requests: reading with the limits and time-outs, handing
// complete requests to a worker, writing replies, keeping alive or closing.
#include "server/http/HttpConnection.h"

#include <boost/asio/post.hpp>
#include <utility>

#include "server/http/HttpText.h"

namespace asio = boost::asio;
using Refusal = RequestParser::Refusal;

namespace {

// Room to read a header up to the limit plus the start of a body.
constexpr std::size_t kBufferLimit = httplimits::kMaxHeaderBytes + 16 * 1024;
// Waiting connections read in small steps, so a thousand idle ones hold
// little memory.
constexpr std::size_t kFirstRead = 2048;
constexpr std::size_t kNextRead = 16 * 1024;
// Before closing after a reply, what the client still sends (the rest of a
// refused body, a pipelined request) is read and dropped for up to this
// long: closing with unread data resets the connection, and the reset can
// destroy the reply before the client has read it.
constexpr std::chrono::milliseconds kLinger{1000};

const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

bool headerIs(const HttpRequest& request, const char* name, const char* value) {
  const std::string* found = request.header(name);
  return found != nullptr && *found == value;
}

}  // namespace

HttpConnection::HttpConnection(asio::ip::tcp::socket socket, ConnectionHost& host)
    : stream(std::move(socket)), host(host), buffer(kBufferLimit), tick(host.io) {}

void HttpConnection::start() {
  error_code ec;
  const auto peer = stream.socket().remote_endpoint(ec);
  if (!ec) remoteAddress = peer.address().to_string(ec);
  requestDeadline = std::chrono::steady_clock::now() + host.timeouts.request;
  parser = std::make_unique<RequestParser>();
  readMore();
}

void HttpConnection::stop() {
  if (phase == Phase::Reading || phase == Phase::Lingering || phase == Phase::Streaming) {
    closeNow();
  }
  // Handling and Writing finish; the reply then says "Connection: close".
}

void HttpConnection::forceClose() {
  if (phase != Phase::Handling) closeNow();
}

void HttpConnection::readMore() {
  const std::size_t room = buffer.max_size() - buffer.size();
  if (room == 0) return refuse(Refusal::HeadersTooLarge);
  stream.expires_at(awaitingFirstByte ? std::min(idleDeadline, requestDeadline) : requestDeadline);
  const std::size_t want = buffer.size() == 0 ? kFirstRead : kNextRead;
  stream.async_read_some(
      buffer.prepare(std::min(want, room)),
      [self = shared_from_this()](const error_code& ec, std::size_t n) { self->onRead(ec, n); });
}

void HttpConnection::onRead(const error_code& ec, std::size_t n) {
  if (phase != Phase::Reading) return;
  if (ec) {
    // A time-out or a hang-up: nothing is answered, as before.
    return closeNow();
  }
  buffer.commit(n);
  awaitingFirstByte = false;
  parseBuffered();
}

void HttpConnection::parseBuffered() {
  const auto data = buffer.data();
  const std::size_t used = parser->feed(static_cast<const char*>(data.data()), data.size());
  buffer.consume(used);
  if (parser->refusal() != Refusal::None) return refuse(parser->refusal());
  if (parser->done()) return dispatch();
  if (parser->headerDone() && !continueSent &&
      headerIs(parser->request(), "Expect", "100-continue")) {
    // The client waits for this before it sends a body within the limit.
    continueSent = true;
    phase = Phase::Writing;
    closeAfterWrite = false;
    write({asio::buffer(kContinue, sizeof kContinue - 1)});
    return;
  }
  readMore();
}

void HttpConnection::refuse(Refusal why) {
  HttpReply reply;
  fate = replyhead::Fate::CloseQuietly;
  switch (why) {
    case Refusal::BodyTooLarge:
      reply = statusReply(413, "corpo grande demais");
      fate = replyhead::Fate::Close;
      break;
    case Refusal::HeadersTooLarge:
      reply = statusReply(431, "cabecalhos grandes demais");
      fate = replyhead::Fate::Close;
      break;
    case Refusal::UriTooLong:
      reply.status = 414;
      break;
    default:
      reply.status = 400;
      break;
  }
  headRequest = false;
  parser.reset();
  outHead = replyhead::wholeReply(reply, host.defaultHeaders, fate, false);
  outBody = std::move(reply.body);
  phase = Phase::Writing;
  closeAfterWrite = true;
  write({asio::buffer(outHead), asio::buffer(outBody)});
}

void HttpConnection::dispatch() {
  phase = Phase::Handling;
  HttpRequest request = std::move(parser->request());
  request.remoteAddress = remoteAddress;
  headRequest = request.method == HttpMethod::Head;
  const bool last = served + 1 >= httplimits::kMaxRequestsPerConnection;
  if (last || host.stopping || headerIs(request, "Connection", "close")) {
    fate = replyhead::Fate::Close;
  } else if (parser->http10() && !headerIs(request, "Connection", "Keep-Alive")) {
    fate = replyhead::Fate::CloseQuietly;
  } else {
    fate = replyhead::Fate::KeepAlive;
  }
  parser.reset();
  if (host.quick) {
    std::optional<HttpReply> now;
    try {
      now = host.quick(request);
    } catch (...) {
      // Declined: the worker's handler answers it as usual.
    }
    if (now) return onReply(std::move(*now));
  }
  // The guard keeps the event loop running until the reply is back.
  auto work = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
      host.io.get_executor());
  host.workers.submit([self = shared_from_this(), request = std::move(request), work]() mutable {
    HttpReply reply;
    try {
      reply = self->host.handler(request);
    } catch (...) {
      // Handlers answer their own failures; this is the last resort.
      reply = statusReply(500, "erro interno");
    }
    // The connection goes with the reply, so that it ends on the event loop.
    asio::io_context& io = self->host.io;
    asio::post(io, [self = std::move(self), reply = std::move(reply)]() mutable {
      self->onReply(std::move(reply));
    });
  });
}

void HttpConnection::onReply(HttpReply reply) {
  if (phase != Phase::Handling) {
    if (reply.stream) {
      reply.stream->open([] {});
      reply.stream->close();
    }
    return;
  }
  if (host.stopping) fate = replyhead::Fate::Close;
  if (reply.stream && !headRequest && !host.stopping) {
    ++served;
    return startStream(std::move(reply.stream), replyhead::streamReply(reply, host.defaultHeaders));
  }
  if (reply.stream) {
    reply.stream->open([] {});
    reply.stream->close();
    outHead = replyhead::streamReply(reply, host.defaultHeaders);
    outBody.clear();
    closeAfterWrite = true;
  } else {
    for (const auto& field : reply.headers) {
      if (httptext::sameName(field.first, "Connection") && field.second == "close") {
        fate = replyhead::Fate::Close;
      }
    }
    outHead = replyhead::wholeReply(reply, host.defaultHeaders, fate, headRequest);
    outBody = headRequest ? std::string() : std::move(reply.body);
    if (!headRequest) outShared = std::move(reply.sharedBody);
    closeAfterWrite = fate != replyhead::Fate::KeepAlive;
  }
  ++served;
  phase = Phase::Writing;
  if (outShared) {
    return write({asio::buffer(outHead), asio::buffer(outShared->data(), outShared->size())});
  }
  write({asio::buffer(outHead), asio::buffer(outBody)});
}

void HttpConnection::onReplyWritten() {
  if (closeAfterWrite || host.stopping) return lingerClose();
  if (parser) {
    // The interim 100 Continue went out; the body follows.
    phase = Phase::Reading;
    return readMore();
  }
  nextRequest();
}

void HttpConnection::nextRequest() {
  phase = Phase::Reading;
  const auto now = std::chrono::steady_clock::now();
  requestDeadline = now + host.timeouts.request;
  idleDeadline = now + host.timeouts.keepAlive;
  awaitingFirstByte = buffer.size() == 0;
  continueSent = false;
  outHead.clear();
  outBody.clear();
  outBody.shrink_to_fit();
  outShared.reset();
  if (awaitingFirstByte) buffer.shrink_to_fit();
  parser = std::make_unique<RequestParser>();
  // A pipelined request may already be here.
  if (buffer.size() > 0) return parseBuffered();
  readMore();
}

void HttpConnection::write(Buffers buffers) {
  outPending = boost::beast::buffers_suffix<Buffers>(buffers);
  writing = true;
  if (closeAfterWrite && writeAtOnce()) return onReplyWritten();
  writeSome();
}

// A last reply goes out and the connection shuts in one step when the socket
// takes it all: a client that reads the reply and opens its next connection
// finds this one already closing, not still held while the loop comes round.
bool HttpConnection::writeAtOnce() {
  error_code ec;
  auto& socket = stream.socket();
  socket.non_blocking(true, ec);
  if (ec) return false;
  const std::size_t n = socket.write_some(outPending, ec);
  if (ec) return false;  // would block, or failed: the ordinary write finds out which
  outPending.consume(n);
  if (asio::buffer_size(outPending) > 0) return false;
  writing = false;
  return true;
}

void HttpConnection::writeSome() {
  // The time-out restarts with every bit of progress: a slow reader is
  // fine, one that stopped reading is not.
  stream.expires_after(host.stopping ? host.timeouts.stopGrace : host.timeouts.writeStall);
  stream.async_write_some(
      outPending,
      [self = shared_from_this()](const error_code& ec, std::size_t n) { self->onWrote(ec, n); });
}

void HttpConnection::onWrote(const error_code& ec, std::size_t n) {
  if (phase == Phase::Closed) return;
  if (ec) return closeNow();
  outPending.consume(n);
  if (asio::buffer_size(outPending) > 0) return writeSome();
  writing = false;
  if (phase == Phase::Streaming) return pump();
  onReplyWritten();
}

void HttpConnection::lingerClose() {
  if (host.stopping) return closeNow();
  closeStream();
  phase = Phase::Lingering;
  error_code ec;
  stream.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ec);
  if (ec) return closeNow();
  buffer.clear();
  tick.expires_after(kLinger);
  tick.async_wait([self = shared_from_this(), generation = ++tickGeneration](const error_code& ec) {
    if (!ec && generation == self->tickGeneration) self->closeNow();
  });
  if (!dropping) dropInput();
}

void HttpConnection::dropInput() {
  dropping = true;
  stream.async_read_some(asio::buffer(peerScratch),
                         [self = shared_from_this()](const error_code& ec, std::size_t) {
                           if (self->phase == Phase::Closed) return;
                           // An end or error: the client went away, or has
                           // read all it wanted after a refusal.
                           if (ec) return self->closeNow();
                           self->dropInput();
                         });
}

void HttpConnection::closeNow() {
  if (phase == Phase::Closed) return;
  phase = Phase::Closed;
  closeStream();
  ++tickGeneration;
  tick.cancel();
  stream.close();
  parser.reset();
  auto self = shared_from_this();
  host.open.erase(this);
  if (host.open.empty() && host.onEmpty) host.onEmpty();
}
