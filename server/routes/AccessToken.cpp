// The token check: where a client may show it, and a comparison whose time
// does not depend on how much of a guess was right.
#include "server/routes/AccessToken.h"

namespace {

// The value of one cookie in a Cookie header ("a=1; kamora_token=x").
std::string cookieValue(const std::string& header, const std::string& name) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string::npos) end = header.size();
    std::size_t start = header.find_first_not_of(' ', at);
    if (start != std::string::npos && start < end) {
      const std::string pair = header.substr(start, end - start);
      if (pair.compare(0, name.size() + 1, name + "=") == 0) return pair.substr(name.size() + 1);
    }
    at = end + 1;
  }
  return std::string();
}

}  // namespace

bool AccessToken::isLoopback(const std::string& address) {
  return address.compare(0, 4, "127.") == 0 || address == "::1" ||
         address.compare(0, 11, "::ffff:127.") == 0;
}

bool AccessToken::matches(const std::string& candidate) const {
  if (candidate.size() != token_.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < token_.size(); ++i) {
    difference |= static_cast<unsigned char>(candidate[i] ^ token_[i]);
  }
  return difference == 0;
}

bool AccessToken::presented(const HttpRequest& request) const {
  if (const std::string* authorization = request.header("Authorization")) {
    const std::string bearer = "Bearer ";
    if (authorization->compare(0, bearer.size(), bearer) == 0 &&
        matches(authorization->substr(bearer.size()))) {
      return true;
    }
  }
  if (const std::string* cookie = request.header("Cookie")) {
    if (matches(cookieValue(*cookie, kCookie))) return true;
  }
  return cookieFor(request).has_value();
}

bool AccessToken::admits(const HttpRequest& request) const {
  return !enabled() || isLoopback(request.remoteAddress) || presented(request);
}

std::optional<std::string> AccessToken::cookieFor(const HttpRequest& request) const {
  if (!enabled() || request.path != "/" || !request.hasParam("token") ||
      !matches(request.param("token", ""))) {
    return std::nullopt;
  }
  return std::string(kCookie) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}
