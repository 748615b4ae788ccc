// What the HTTP transport accepts from a client and how long it waits for
// one. Each limit is there because a client (careless or hostile) could
// otherwise hold memory, descriptors or threads that other clients need.
#pragma once

#include <chrono>
#include <cstddef>

namespace httplimits {

// Request bodies are small forms and JSON; a larger declared body is refused
// with 413 before any of it is read, and a chunked body as soon as it grows
// past this.
constexpr std::size_t kMaxBodyBytes = 64 * 1024;
// Browsers send about twenty header fields in well under 8 KiB; beyond these
// a request is refused with 431. The byte count includes the request line.
constexpr std::size_t kMaxHeaderFields = 100;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
// A request target longer than this is answered 414, as always.
constexpr std::size_t kMaxTargetBytes = 8192;
// A kept-alive connection serves at most this many requests, then closes;
// replies announce it with the keep-alive time-out below in
// "Keep-Alive: timeout=2, max=5".
constexpr int kMaxRequestsPerConnection = 5;
constexpr int kKeepAliveSeconds = 2;

// Parallel handlers: workers are started while all are busy (a capture may
// block one for seconds) up to this bound; further requests queue.
constexpr std::size_t kMaxWorkers = 256;
constexpr std::chrono::seconds kWorkerIdleExit{10};

// How long the transport waits for a client. Injectable so tests need not
// wait ten seconds; the defaults are what the server uses.
struct Timeouts {
  // A connection must send a complete request within this of being opened,
  // or, when kept alive, of the previous reply.
  std::chrono::milliseconds request{10000};
  // A kept-alive connection that does not begin its next request within
  // this is closed (announced as "timeout=2").
  std::chrono::milliseconds keepAlive{std::chrono::seconds(kKeepAliveSeconds)};
  // A client that takes nothing of a pending reply or stream chunk for this
  // long is dropped.
  std::chrono::milliseconds writeStall{10000};
  // An idle stream is asked for data at least this often.
  std::chrono::milliseconds streamTick{1000};
  // After stop(), replies and streams still being written get this long.
  std::chrono::milliseconds stopGrace{1000};
};

}  // namespace httplimits
