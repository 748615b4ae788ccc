// Fuzzes the EXIF summary reader with the head of a picture file, as the
// capture listing hands it over: it must stay within the bytes it is given,
// and every field it returns must have the shape the listing promises.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/ExifSummary.h"

namespace {

bool digits(const std::string& s, std::size_t from, std::size_t to) {
  if (from >= to || to > s.size()) return false;
  for (std::size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// "1/250", "2\"" or "13/10", with no zero on either side.
bool shutterShape(const std::string& s) {
  if (s.size() >= 2 && s.back() == '"') return digits(s, 0, s.size() - 1) && s[0] != '0';
  const std::size_t slash = s.find('/');
  return slash != std::string::npos && digits(s, 0, slash) && digits(s, slash + 1, s.size()) &&
         s[0] != '0' && s[slash + 1] != '0';
}

bool takenShape(const std::string& s) {
  static const char kShape[] = "dddd-dd-ddTdd:dd:dd";
  if (s.size() != 19) return false;
  for (std::size_t i = 0; i < 19; ++i)
    if (kShape[i] == 'd' ? !digits(s, i, i + 1) : s[i] != kShape[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool truncated = false;
  const ExifSummary s = readExifSummary(data, size, &truncated);
  if (s.shutter && !shutterShape(*s.shutter)) std::abort();
  if (s.taken && !takenShape(*s.taken)) std::abort();
  if (s.fnumber && !(std::isfinite(*s.fnumber) && *s.fnumber > 0)) std::abort();
  if (s.ev && !std::isfinite(*s.ev)) std::abort();
  if (s.iso && *s.iso == 0) std::abort();
  if (s.model) {
    if (s.model->empty() || s.model->size() > 128) std::abort();
    for (char c : *s.model)
      if (c < 0x20 || c > 0x7E) std::abort();
  }
  if (s.width.has_value() != s.height.has_value()) std::abort();
  if (s.width && (*s.width == 0 || *s.height == 0)) std::abort();
  return 0;
}
