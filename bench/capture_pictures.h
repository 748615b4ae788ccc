// Pictures for the capture review benchmarks: the EXIF fields of the i-th
// picture of a shoot, and writing a picture to a file.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "vcam/StillExif.h"

namespace benchpictures {

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Each picture of its own time and ISO, as a shoot would have them.
inline vcam::StillExif fieldsFor(int i) {
  vcam::StillExif f;
  f.model = "SB_A4";
  f.taken = 1714572202 + i;
  f.iso = 100u << (i % 6);
  f.shutter = 0x100FA;
  f.ev = -700;
  return f;
}

}  // namespace benchpictures
