// AccessToken: the optional secret that requests from other machines must
// carry (`--token T` or KAMORA_TOKEN). Loopback clients are never asked. A
// remote client shows it as `Authorization: Bearer T`, or as the cookie that
// visiting `/?token=T` once sets (HttpOnly, SameSite=Strict), as notebook
// servers do. Without a token every client is let in, as before.
// Immutable after construction: safe from any thread.
#pragma once

#include <optional>
#include <string>

#include "server/http/HttpTypes.h"

class AccessToken {
 public:
  static constexpr const char* kCookie = "kamora_token";

  explicit AccessToken(std::string token) : token_(std::move(token)) {}

  bool enabled() const { return !token_.empty(); }
  // True when the request may go on: no token set, a loopback peer, or the
  // right token in the header, the cookie or (for "/") the query.
  bool admits(const HttpRequest& request) const;
  // The cookie to set when a request brought the token in its query (the
  // console's first visit from another machine); nullopt otherwise.
  std::optional<std::string> cookieFor(const HttpRequest& request) const;

  static bool isLoopback(const std::string& address);

 private:
  bool matches(const std::string& candidate) const;
  bool presented(const HttpRequest& request) const;

  const std::string token_;
};
