// LiveViewSink: each live-view picture as its own numbered file on disk.
#include "camera/LiveViewSink.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

LiveViewSink::LiveViewSink(std::string directory) : directory(std::move(directory)) {
  // A directory that cannot be made shows later as failing pushes.
  std::error_code ignored;
  std::filesystem::create_directories(this->directory, ignored);
}

bool LiveViewSink::push(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr || length == 0) return false;
  char name[64];
  std::snprintf(name, sizeof name, "frame_%05u.jpg", count);
  const std::string path = (std::filesystem::path(directory) / name).string();

  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return false;
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  file.close();
  if (file.fail()) return false;

  std::printf("[liveview] %s (%u bytes)\n", path.c_str(), length);
  ++count;
  return true;
}

std::uint32_t LiveViewSink::frameCount() const { return count; }
