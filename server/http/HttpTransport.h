// The HTTP server's transport: accepts connections on one event-loop thread,
// reads and writes them all asynchronously, runs the handler for each
// complete request on a worker, and sends its reply or stream. Idle, slow
// and streaming connections hold no thread. Thread-safe: bind() then run()
// on one thread; stop() from any thread at any time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "server/http/HttpLimits.h"
#include "server/http/HttpTypes.h"

class HttpTransport {
 public:
  // defaultHeaders go into every reply that does not name them itself.
  explicit HttpTransport(HttpHandler handler, HttpFields defaultHeaders = {},
                         httplimits::Timeouts timeouts = {});
  ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // Requests it answers go out from the event loop without a worker's turn;
  // set before run().
  void answerAtOnce(HttpQuickHandler quick);

  // Listens on host:port (port 0: any free port). False, with the reason in
  // bindError(), when the address is in use or not one of this machine's.
  // Also raises the process's open-file limit, which many clients need.
  bool bind(const std::string& host, int port);
  const std::string& bindError() const;
  // The port bound, or 0 before a successful bind().
  int port() const;

  // Serves on the calling thread until stop(); returns at once when not
  // bound or when stop() came first.
  void run();
  // Stops accepting, ends every stream, lets requests being handled send
  // their replies (a second of grace for writing them), then run() returns.
  void stop();

  // Handler threads alive now, for figures and tests.
  std::size_t workerThreads() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};
