// One client connection of the HTTP transport: reads requests, hands each to
// a worker, writes the reply or pumps its stream, and enforces the limits and
// time-outs. Thread-bound: everything runs on the transport's event loop;
// only the handler runs on a worker, and stream wakes may come from any
// thread.
#pragma once

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/buffers_suffix.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <memory>
#include <string>
#include <unordered_map>

#include "server/http/HttpLimits.h"
#include "server/http/HttpTypes.h"
#include "server/http/ReplyHead.h"
#include "server/http/RequestParser.h"
#include "server/http/WorkerPool.h"

class HttpConnection;
struct StreamWaker;

// What every connection shares with the transport. Event-loop thread only,
// except the handler and the pool, which are thread-safe.
struct ConnectionHost {
  ConnectionHost(boost::asio::io_context& io, HttpHandler handler, HttpFields defaultHeaders,
                 httplimits::Timeouts timeouts)
      : io(io),
        handler(std::move(handler)),
        defaultHeaders(std::move(defaultHeaders)),
        timeouts(timeouts) {}

  boost::asio::io_context& io;
  HttpHandler handler;
  HttpQuickHandler quick;  // may be empty
  HttpFields defaultHeaders;
  httplimits::Timeouts timeouts;
  WorkerPool workers{httplimits::kMaxWorkers, httplimits::kWorkerIdleExit};
  bool stopping = false;
  // Every open connection, so that a stop reaches them all.
  std::unordered_map<HttpConnection*, std::shared_ptr<HttpConnection>> open;
  // Called when the last connection leaves `open`.
  std::function<void()> onEmpty;
};

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(boost::asio::ip::tcp::socket socket, ConnectionHost& host);
  void start();
  // The server stops: a connection waiting for a request closes, a stream
  // ends; a request being handled is answered, then the connection closes.
  void stop();
  // The stop's grace period is over: close unless a handler still runs.
  void forceClose();

 private:
  enum class Phase { Reading, Handling, Writing, Streaming, Lingering, Closed };
  using error_code = boost::beast::error_code;
  using Buffers = std::array<boost::asio::const_buffer, 3>;

  // Requests (HttpConnection.cpp).
  void readMore();
  void onRead(const error_code& ec, std::size_t n);
  void parseBuffered();
  void refuse(RequestParser::Refusal why);
  void dispatch();
  void onReply(HttpReply reply);
  void onReplyWritten();
  void nextRequest();

  // Writing and closing (HttpConnection.cpp).
  void write(Buffers buffers);
  bool writeAtOnce();
  void writeSome();
  void onWrote(const error_code& ec, std::size_t n);
  void lingerClose();
  // Reads and drops what the client sends, closing when it goes away.
  void dropInput();
  void closeNow();

  // Streams (HttpConnectionStream.cpp).
  void startStream(std::shared_ptr<ReplyStream> body, std::string head);
  void pump();
  void onWake();
  void closeStream();

  boost::beast::tcp_stream stream;
  ConnectionHost& host;
  std::string remoteAddress;
  boost::beast::flat_buffer buffer;
  std::unique_ptr<RequestParser> parser;
  Phase phase = Phase::Reading;
  int served = 0;
  // A kept-alive connection has not yet had a byte of its next request.
  bool awaitingFirstByte = false;
  std::chrono::steady_clock::time_point idleDeadline;
  std::chrono::steady_clock::time_point requestDeadline;
  bool continueSent = false;
  // How the reply to the request being handled is framed.
  bool headRequest = false;
  replyhead::Fate fate = replyhead::Fate::KeepAlive;

  // The write in progress and what follows it.
  std::string outHead;
  std::string outBody;
  std::shared_ptr<const std::vector<std::uint8_t>> outShared;  // instead of outBody
  StreamChunk outChunk;
  boost::beast::buffers_suffix<Buffers> outPending;
  bool writing = false;
  bool closeAfterWrite = false;

  // The stream being sent, if any.
  std::shared_ptr<ReplyStream> source;
  std::shared_ptr<StreamWaker> waker;
  // Ticks an idle stream; times the linger before a close.
  boost::asio::steady_timer tick;
  unsigned tickGeneration = 0;
  bool waitingWake = false;
  bool streamEnding = false;
  bool dropping = false;
  std::array<char, 512> peerScratch{};
};
