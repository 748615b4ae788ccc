// Fuzzes the Host/Origin check that every request passes before routing.
// Besides not crashing, an Origin header may only ever narrow what is
// allowed: a request refused without one must stay refused with any.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "server/routes/RequestGuard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  // Host, Origin and the machine's own name, newline-separated.
  const std::vector<std::string> f = fuzzin::split(data + 1, size - 1, '\n', 3);
  const std::string host = f[0];
  const std::string origin = f.size() > 1 ? f[1] : std::string();
  const std::string machine = f.size() > 2 ? fuzzin::cText(f[2]) : std::string("studio-mac");
  const std::string* hostArg = (flags & 1) ? &host : nullptr;

  const bool withoutOrigin = isRequestAllowed(hostArg, nullptr, machine);
  const bool withOrigin = isRequestAllowed(hostArg, &origin, machine);
  if (withOrigin && !withoutOrigin) std::abort();
  // The answer depends on the texts alone.
  if (isRequestAllowed(hostArg, &origin, machine) != withOrigin) std::abort();
  return 0;
}
