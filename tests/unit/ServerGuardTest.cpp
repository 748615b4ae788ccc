// The origin/host rule on its own: which Host and Origin pairs pass.
#include <gtest/gtest.h>

#include <string>

#include "server/routes/RequestGuard.h"

namespace {

struct GuardCase {
  const char* host;    // nullptr: no Host header
  const char* origin;  // nullptr: no Origin header
  const char* machine;
  bool allowed;
};

TEST(ServerGuardTest, HostAndOriginTable) {
  const GuardCase cases[] = {
      // Host names
      {"localhost:8080", nullptr, "atelier", true},
      {"LOCALHOST:8080", nullptr, "atelier", true},
      {"atelier:8080", nullptr, "atelier", true},
      {"atelier.local:8080", nullptr, "atelier", true},
      {"Atelier.Local:8080", nullptr, "atelier", true},
      {"atelier:8080", nullptr, "atelier.local", true},
      {"atelier.local", nullptr, "atelier.local", true},
      {"127.0.0.1:8080", nullptr, "atelier", true},
      {"10.1.2.3", nullptr, "atelier", true},
      {"[::1]:8080", nullptr, "atelier", true},
      {"[fe80::1]", nullptr, "atelier", true},
      {nullptr, nullptr, "atelier", true},  // HTTP/1.0 without Host
      {"evil.example:8080", nullptr, "atelier", false},
      {"atelier.evil.example:8080", nullptr, "atelier", false},
      {"localhost.evil.example", nullptr, "atelier", false},
      {"other:8080", nullptr, "", false},
      {"127.0.0.1.evil.example", nullptr, "atelier", false},
      {"[nonsense]:8080", nullptr, "atelier", false},
      {"::1", nullptr, "atelier", false},  // IPv6 only in brackets
      {"", nullptr, "atelier", false},
      {"localhost:80x", nullptr, "atelier", false},
      // Origins
      {"127.0.0.1:8080", "http://127.0.0.1:8080", "atelier", true},
      {"localhost:8080", "HTTP://LocalHost:8080", "atelier", true},
      {"127.0.0.1", "http://127.0.0.1", "atelier", true},     // both port 80
      {"127.0.0.1:80", "http://127.0.0.1", "atelier", true},  // both port 80
      {"[::1]:8080", "http://[::1]:8080", "atelier", true},
      {"127.0.0.1:8080", "http://localhost:8080", "atelier", false},
      {"127.0.0.1:8080", "http://127.0.0.1:8081", "atelier", false},
      {"127.0.0.1:8080", "http://127.0.0.1", "atelier", false},
      {"127.0.0.1", "https://127.0.0.1", "atelier", false},  // 80 against 443
      // Another scheme is another origin, even on the same host and port.
      {"127.0.0.1:8080", "https://127.0.0.1:8080", "atelier", false},
      {"127.0.0.1:443", "https://127.0.0.1", "atelier", false},
      {"127.0.0.1:8080", "ws://127.0.0.1:8080", "atelier", false},
      {"127.0.0.1:8080", "null", "atelier", false},
      {"127.0.0.1:8080", "", "atelier", false},
      {"127.0.0.1:8080", "file://", "atelier", false},
      {"127.0.0.1:8080", "http://127.0.0.1:8080/path", "atelier", false},
      {"127.0.0.1:8080", "http://x@127.0.0.1:8080", "atelier", false},
      {"evil.example:8080", "http://evil.example:8080", "atelier", false},
      {nullptr, "http://127.0.0.1:8080", "atelier", false},
  };
  for (const GuardCase& c : cases) {
    const std::string host = c.host ? c.host : "";
    const std::string origin = c.origin ? c.origin : "";
    EXPECT_EQ(isRequestAllowed(c.host ? &host : nullptr, c.origin ? &origin : nullptr, c.machine),
              c.allowed)
        << "host=" << (c.host ? c.host : "(none)") << " origin=" << (c.origin ? c.origin : "(none)")
        << " machine=" << c.machine;
  }
}

}  // namespace
