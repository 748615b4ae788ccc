// Pictures and folders for the capture review tests: JPEGs of any size made
// with libjpeg-turbo, with or without the virtual camera's EXIF block, in a
// fresh folder that goes away with the test.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/JpegScale.h"
#include "vcam/StillExif.h"

namespace capturetest {

// A diagonal gradient, so that every scaled copy still has detail.
inline std::vector<std::uint8_t> plainJpeg(int w, int h) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = static_cast<std::uint8_t>(x * 255 / w);
      p[1] = static_cast<std::uint8_t>(y * 255 / h);
      p[2] = static_cast<std::uint8_t>((x + y) & 0xFF);
    }
  std::vector<std::uint8_t> jpeg;
  jpegscale::encodeRgb(rgb.data(), w, h, 85, TJSAMP_420, jpeg);
  return jpeg;
}

inline std::vector<std::uint8_t> stillWithExif(const vcam::StillExif& fields, int w = 64,
                                               int h = 48) {
  std::vector<std::uint8_t> jpeg = plainJpeg(w, h);
  if (!vcam::addStillExif(jpeg, fields)) jpeg.clear();
  return jpeg;
}

inline void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline void setMtime(const std::string& path, long long seconds, long nanoseconds = 0) {
  struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

class TempFolder {
 public:
  TempFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "kamora-capture-XXXXXX").string();
    if (::mkdtemp(&templ[0]) != nullptr) path_ = templ;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace capturetest
