// The status line and header block of a reply, written as the server always
// wrote them: header names in case-insensitive alphabetical order, the
// default headers merged in, Content-Length always given for a whole body.
// Thread-safe (pure functions).
#pragma once

#include <string>

#include "server/http/HttpTypes.h"

namespace replyhead {

// How the connection goes on after a reply.
enum class Fate {
  KeepAlive,  // "Keep-Alive: timeout=2, max=5"
  Close,      // "Connection: close"
  // Closes, but the header says keep-alive as before: an HTTP/1.0 request
  // without "Connection: Keep-Alive", or a refused request line.
  CloseQuietly,
};

const char* reasonPhrase(int status);

// The head of a whole reply (its body follows, unless the request is HEAD).
std::string wholeReply(const HttpReply& reply, const HttpFields& defaults, Fate fate,
                       bool headRequest);

// The head of a streamed reply: no Content-Length, and "Connection: close"
// unless the reply names a Connection header itself.
std::string streamReply(const HttpReply& reply, const HttpFields& defaults);

}  // namespace replyhead
