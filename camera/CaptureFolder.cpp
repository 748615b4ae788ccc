// Reads the capture folder with POSIX calls (the same on Linux and macOS,
// but for where a file's time keeps its nanoseconds) and keeps each
// picture's EXIF summary while the file stays the same.
#include "camera/CaptureFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_set>
#include <utility>

namespace {

std::int64_t mtimeNsOf(const struct stat& st) {
#if defined(__APPLE__)
  return std::int64_t(st.st_mtimespec.tv_sec) * 1000000000 + st.st_mtimespec.tv_nsec;
#else
  return std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
}

struct Scanned {
  std::string name;
  std::uint64_t bytes;
  std::int64_t mtimeNs;
};

bool newerFirst(const Scanned& a, const Scanned& b) {
  if (a.mtimeNs != b.mtimeNs) return a.mtimeNs > b.mtimeNs;
  return a.name > b.name;
}

// The finished pictures as the folder holds them this moment. A name is
// published by a hard link to a file already written, so a picture seen
// here is whole.
std::vector<Scanned> scan(const std::string& path) {
  std::vector<Scanned> all;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return all;
  const int dfd = ::dirfd(dir);
  while (const dirent* ent = ::readdir(dir)) {
    const std::string name = ent->d_name;
    if (!CaptureFolder::isPictureName(name)) continue;
    struct stat st;
    if (::fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    all.push_back(Scanned{name, static_cast<std::uint64_t>(st.st_size), mtimeNsOf(st)});
  }
  ::closedir(dir);
  std::sort(all.begin(), all.end(), newerFirst);
  return all;
}

// Reads a little of the head, more only when the EXIF block or the frame
// header lies further in.
ExifSummary summaryOf(const CaptureFile& file) {
  std::string head;
  std::size_t want = kExifHeadFirst;
  for (;;) {
    if (!file.read(0, want, head)) return ExifSummary{};
    bool truncated = false;
    ExifSummary s = readExifSummary(reinterpret_cast<const std::uint8_t*>(head.data()), head.size(),
                                    &truncated);
    if (!truncated || head.size() < want || want >= kExifHeadMost) return s;
    want = std::min(want * 4, kExifHeadMost);
  }
}

}  // namespace

CaptureFile::CaptureFile(int fd, std::string name, std::uint64_t bytes, std::int64_t mtimeNs)
    : fd_(fd), name_(std::move(name)), bytes_(bytes), mtimeNs_(mtimeNs) {}

CaptureFile::CaptureFile(CaptureFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      name_(std::move(other.name_)),
      bytes_(other.bytes_),
      mtimeNs_(other.mtimeNs_) {}

CaptureFile& CaptureFile::operator=(CaptureFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
    bytes_ = other.bytes_;
    mtimeNs_ = other.mtimeNs_;
  }
  return *this;
}

CaptureFile::~CaptureFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool CaptureFile::read(std::uint64_t offset, std::size_t n, std::string& out) const {
  out.resize(n);
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd_, &out[got], n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      out.clear();
      return false;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  out.resize(got);
  return true;
}

CaptureFolder::CaptureFolder(std::string path) : path_(std::move(path)) {}

bool CaptureFolder::isPictureName(const std::string& name) {
  if (name.size() > 255 || name.size() < 11) return false;  // "A_00000.JPG"
  const std::string ext = name.substr(name.size() - 4);
  if (ext != ".JPG" && ext != ".jpg") return false;
  const std::size_t stem = name.size() - 4;
  const std::size_t underscore = name.rfind('_', stem - 1);
  if (underscore == std::string::npos || underscore == 0 || stem - underscore - 1 < 5) return false;
  for (std::size_t i = 0; i < stem; ++i) {
    const char c = name[i];
    const bool digit = c >= '0' && c <= '9';
    const bool word = digit || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (i > underscore ? !digit : !word) return false;
  }
  return true;
}

std::optional<CaptureFile> CaptureFolder::resolve(const std::string& name) const {
  // The name rule already shuts out '/', '\\', ".." and absolute paths;
  // O_NOFOLLOW refuses a link in the folder, O_NONBLOCK keeps a planted
  // FIFO from blocking the open until fstat turns it away.
  if (!isPictureName(name)) return std::nullopt;
  const std::string full = path_ + "/" + name;
  const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  return CaptureFile(fd, name, static_cast<std::uint64_t>(st.st_size), mtimeNsOf(st));
}

CapturePage CaptureFolder::list(long long limit, const std::string& before) {
  if (limit <= 0) limit = kDefaultLimit;
  limit = std::min(limit, kMaxLimit);
  const std::vector<Scanned> all = scan(path_);

  std::size_t start = 0;
  if (!before.empty()) {
    auto it =
        std::find_if(all.begin(), all.end(), [&](const Scanned& s) { return s.name == before; });
    if (it != all.end()) {
      start = static_cast<std::size_t>(it - all.begin()) + 1;
    } else {
      // Gone since the last page: carry on from where it stood.
      MutexLock lock(mutex_);
      auto k = known_.find(before);
      start = k == known_.end()
                  ? all.size()
                  : static_cast<std::size_t>(std::upper_bound(all.begin(), all.end(),
                                                              Scanned{before, 0, k->second.mtimeNs},
                                                              newerFirst) -
                                             all.begin());
    }
  }

  CapturePage page;
  page.total = all.size();
  std::size_t i = start;
  for (; i < all.size() && page.entries.size() < static_cast<std::size_t>(limit); ++i) {
    const Scanned& s = all[i];
    CaptureEntry e{s.name, s.bytes, s.mtimeNs, ExifSummary{}};
    bool cached = false;
    {
      MutexLock lock(mutex_);
      auto k = known_.find(s.name);
      if (k != known_.end() && k->second.bytes == s.bytes && k->second.mtimeNs == s.mtimeNs) {
        e.exif = k->second.exif;
        cached = true;
      }
    }
    if (!cached) {
      std::optional<CaptureFile> file = resolve(s.name);
      if (!file) continue;  // removed since the scan
      // Size and time of the very file the summary was read from.
      e.bytes = file->bytes();
      e.mtimeNs = file->mtimeNs();
      e.exif = summaryOf(*file);
      MutexLock lock(mutex_);
      known_[s.name] = Known{e.bytes, e.mtimeNs, e.exif};
    }
    page.entries.push_back(std::move(e));
  }
  page.more = i < all.size();

  // Summaries of removed pictures stay a while (they place "before"), but
  // not without bound.
  MutexLock lock(mutex_);
  if (known_.size() > 2 * all.size() + 64) {
    std::unordered_set<std::string> live;
    for (const Scanned& s : all) live.insert(s.name);
    for (auto k = known_.begin(); k != known_.end();)
      k = live.count(k->first) ? std::next(k) : known_.erase(k);
  }
  return page;
}
