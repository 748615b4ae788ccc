// Origin and Host checks against cross-site requests and DNS rebinding.
#include "server/routes/RequestGuard.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Splits "name", "name:port", "[v6]" or "[v6]:port" into the name (brackets
// kept) and the port text (empty when none). False when malformed.
bool splitHostPort(const std::string& text, std::string& name, std::string& port) {
  if (text.empty()) return false;
  if (text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    name = text.substr(0, close + 1);
    if (close + 1 == text.size()) {
      port.clear();
      return true;
    }
    if (text[close + 1] != ':') return false;
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
      name = text;
      port.clear();
      return true;
    }
    name = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (port.empty() || port.size() > 5) return false;
  for (char c : port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return !name.empty();
}

bool isAddressLiteral(const std::string& name) {
  unsigned char buffer[16];
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    const std::string inside = name.substr(1, name.size() - 2);
    return inet_pton(AF_INET6, inside.c_str(), buffer) == 1;
  }
  return inet_pton(AF_INET, name.c_str(), buffer) == 1;
}

bool isOwnName(const std::string& name, const std::string& machineName) {
  if (name == "localhost") return true;
  std::string own = lower(machineName);
  if (own.empty()) return false;
  if (endsWith(own, ".local")) own.resize(own.size() - 6);
  return !own.empty() && (name == own || name == own + ".local");
}

// Port numbers compare as numbers ("08080" is 8080); an absent port is the
// scheme's default.
long portNumber(const std::string& port, long fallback) {
  return port.empty() ? fallback : std::strtol(port.c_str(), nullptr, 10);
}

// The server speaks plain HTTP, so its own pages have an http origin; any
// other scheme (https, file, "null", ...) is a different origin.
bool sameOrigin(const std::string& origin, const std::string& host) {
  const std::string scheme = "http://";
  const std::string o = lower(origin);
  if (o.compare(0, scheme.size(), scheme) != 0) return false;
  const std::string authority = o.substr(scheme.size());
  if (authority.find('/') != std::string::npos || authority.find('@') != std::string::npos) {
    return false;
  }
  std::string originName, originPort, hostName, hostPort;
  if (!splitHostPort(authority, originName, originPort)) return false;
  if (!splitHostPort(lower(host), hostName, hostPort)) return false;
  // A Host or Origin without a port means port 80.
  return originName == hostName && portNumber(originPort, 80) == portNumber(hostPort, 80);
}

}  // namespace

bool isRequestAllowed(const std::string* host, const std::string* origin,
                      const std::string& machineName) {
  if (host != nullptr) {
    std::string name, port;
    if (!splitHostPort(lower(*host), name, port)) return false;
    if (!isOwnName(name, machineName) && !isAddressLiteral(name)) return false;
  }
  if (origin != nullptr) {
    if (host == nullptr) return false;  // nothing to be the same origin as
    if (!sameOrigin(*origin, *host)) return false;
  }
  return true;
}

std::string localMachineName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}
