// Picture files: a hard link publishes the finished file under its final
// name atomically and fails instead of replacing a file that exists, even
// when another camera writes with the same prefix at the same moment.
#include "Downloads.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace standin {

namespace fs = std::filesystem;

unsigned long nextPictureNumber(const std::string& folder, const std::string& prefix) {
  unsigned long highest = 0;
  std::error_code ec;
  const std::string head = prefix + "_";
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() <= head.size() + 4 || name.compare(0, head.size(), head) != 0) continue;
    std::string ext = name.substr(name.size() - 4);
    if (ext != ".JPG" && ext != ".jpg") continue;
    std::string digits = name.substr(head.size(), name.size() - head.size() - 4);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    unsigned long n = std::strtoul(digits.c_str(), nullptr, 10);
    if (n > highest) highest = n;
  }
  return highest + 1;
}

bool savePicture(const std::string& folder, const std::string& prefix, const std::string& bytes,
                 std::string& path) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::error_code ec;
  fs::create_directories(folder, ec);
  char tmpName[64];
  std::snprintf(tmpName, sizeof tmpName, ".vcdl-%016llx.part",
                static_cast<unsigned long long>(rng()));
  std::string tmp = (fs::path(folder) / tmpName).string();
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::remove(tmp.c_str());
      return false;
    }
  }
  unsigned long n = nextPictureNumber(folder, prefix);
  for (int attempt = 0; attempt < 1000; ++attempt, ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "_%05lu.JPG", n);
    std::string final = (fs::path(folder) / (prefix + name)).string();
    if (::link(tmp.c_str(), final.c_str()) == 0) {
      ::unlink(tmp.c_str());
      path = final;
      return true;
    }
    if (errno != EEXIST) break;
  }
  ::unlink(tmp.c_str());
  return false;
}

}  // namespace standin
