// The server's own view of HTTP, free of any HTTP library: a request as the
// routes see it, the reply they give, and the long-lived reply bodies of the
// streams (live view, events).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class HttpMethod { Get, Head, Post, Delete, Other };

using HttpFields = std::vector<std::pair<std::string, std::string>>;

// One complete request. Thread-bound.
struct HttpRequest {
  HttpMethod method = HttpMethod::Get;
  std::string methodText;  // as sent: "GET", "POST", ...
  std::string path;        // percent-decoded, without the query string
  // Query-string parameters, then those of an application/x-www-form-urlencoded
  // body, each percent-decoded with '+' read as a space, in the order sent.
  HttpFields params;
  HttpFields headers;         // names as sent
  std::string body;           // at most the transport's body limit
  std::string remoteAddress;  // the peer's address as text: "127.0.0.1", "::1"

  // First value of a header, by case-insensitive name; null when absent.
  const std::string* header(const std::string& name) const;
  bool hasParam(const std::string& name) const;
  // First value of a parameter, or the fallback when the name does not occur.
  std::string param(const std::string& name, const std::string& fallback) const;
};

// A piece of a streamed body: text, then shared bytes (a picture that many
// viewers send without copying), then more text. Any part may be empty.
struct StreamChunk {
  std::string head;
  std::shared_ptr<const std::vector<std::uint8_t>> payload;
  std::string tail;
};

// A body that is produced while it is sent (multipart pictures, server-sent
// events). The transport owns it for the life of the connection; it never
// holds a worker thread while it waits. Thread-safe: wake may be called from
// any thread.
class ReplyStream {
 public:
  virtual ~ReplyStream() = default;

  enum class Next {
    Data,  // send the chunk, then ask again
    Idle,  // nothing now: ask again after a wake, or within about a second
    End,   // send the chunk (may be empty), then close the connection
  };

  // Called once before the first next(); wake tells the transport that next()
  // may have something. It may be called at any time until close() returns.
  virtual void open(std::function<void()> wake) = 0;
  // Never blocks. Called on the transport's thread, one call at a time.
  virtual Next next(StreamChunk& out) = 0;
  // The client went away or the server stops. No wake after it returns.
  virtual void close() = 0;
};

// The reply to one request. An empty content type sends no Content-Type
// header. With a stream the body is the stream's, without Content-Length, and
// the connection closes when it ends.
struct HttpReply {
  int status = 200;
  std::string contentType;
  std::string body;
  // Bytes many replies send without a copy (a live-view picture); when set
  // they are the body in place of `body`.
  std::shared_ptr<const std::vector<std::uint8_t>> sharedBody;
  HttpFields headers;  // further headers: ETag, Cache-Control, Set-Cookie, ...
  std::shared_ptr<ReplyStream> stream;
};

// The status reply, the answer shape of every command and refusal:
// {"status":"<text>"} as application/json. The text must need no JSON
// escaping (every text the API sends is plain Portuguese without quotes,
// backslashes or control characters).
HttpReply statusReply(int status, const std::string& text);
inline HttpReply statusReply(const std::string& text) { return statusReply(200, text); }

// Answers a request on the transport's event loop when it can do so without
// waiting for anything (a fixed page, a picture the feed already holds);
// nullopt hands the request to a worker and the HttpHandler. Never blocks.
using HttpQuickHandler = std::function<std::optional<HttpReply>(const HttpRequest&)>;

// Turns a request into its reply. May block (a capture waits for downloads);
// runs on a worker thread of the transport, never on its event loop.
using HttpHandler = std::function<HttpReply(const HttpRequest&)>;
