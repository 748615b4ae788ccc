// Fuzzes the shutter text grammar shared by "--shutter" and the HTTP
// "shutter" parameter, checking each result against the standard
// conversion it is defined by.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera/Exposure.h"

namespace {

std::uint16_t expected(const char* text) {
  return static_cast<std::uint16_t>(std::strtol(text, nullptr, 10));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::uint16_t numerator = 0xBEEF, denominator = 0xBEEF;
  parseShutter(text.c_str(), numerator, denominator);

  const char* slash = std::strchr(text.c_str(), '/');
  if (numerator != expected(text.c_str())) std::abort();
  if (slash == nullptr ? denominator != 1 : denominator != expected(slash + 1)) std::abort();
  return 0;
}
