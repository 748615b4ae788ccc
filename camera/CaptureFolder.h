// The folder downloads land in, as the capture review sees it: the finished
// pictures newest first with their EXIF summary, and the one safe way to
// open a picture by a name that came from outside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "camera/ExifSummary.h"
#include "common/ThreadAnnotations.h"

// A picture opened by CaptureFolder::resolve: an open read-only descriptor
// on a regular file, with the size and time it had when opened. Move-only;
// thread-bound (one reader at a time).
class CaptureFile {
 public:
  CaptureFile(CaptureFile&& other) noexcept;
  CaptureFile& operator=(CaptureFile&& other) noexcept;
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;
  ~CaptureFile();

  const std::string& name() const { return name_; }
  std::uint64_t bytes() const { return bytes_; }
  std::int64_t mtimeNs() const { return mtimeNs_; }  // since 1970, UTC
  int fd() const { return fd_; }                     // owned: do not close

  // Up to n bytes from offset (fewer at the end of the file).
  bool read(std::uint64_t offset, std::size_t n, std::string& out) const;
  bool readAll(std::string& out) const { return read(0, bytes_, out); }

 private:
  friend class CaptureFolder;
  CaptureFile(int fd, std::string name, std::uint64_t bytes, std::int64_t mtimeNs);

  int fd_ = -1;
  std::string name_;
  std::uint64_t bytes_ = 0;
  std::int64_t mtimeNs_ = 0;
};

struct CaptureEntry {
  std::string name;
  std::uint64_t bytes = 0;
  std::int64_t mtimeNs = 0;  // since 1970, UTC
  ExifSummary exif;
};

struct CapturePage {
  std::vector<CaptureEntry> entries;  // newest first
  std::size_t total = 0;              // finished pictures in the folder now
  bool more = false;                  // entries follow this page
};

// Thread-safe. Lists scan the folder each time (so new pictures show at
// once) and read a picture's EXIF once: the summary is kept by (name, size,
// modification time) and read again only when one of them changes.
class CaptureFolder {
 public:
  static constexpr long long kDefaultLimit = 50;
  static constexpr long long kMaxLimit = 500;

  explicit CaptureFolder(std::string path);  // "captures" in the server
  const std::string& path() const { return path_; }

  // A page of pictures, newest first: by modification time, and by name
  // (descending) between pictures of the same time. limit <= 0 means the
  // default, above kMaxLimit it is cut to kMaxLimit. before: the page
  // starts after this picture; a name not in the folder (nor seen lately)
  // gives an empty page. A picture that turns up while the folder is read
  // is listed whole or not at all.
  CapturePage list(long long limit = kDefaultLimit, const std::string& before = "")
      EXCLUDES(mutex_);

  // Opens a picture by a name from a URL. Only finished pictures' names
  // (see isPictureName), only regular files, never through a symbolic link:
  // nothing outside the folder is ever opened. nullopt: "not found".
  std::optional<CaptureFile> resolve(const std::string& name) const;

  // A finished download's name: ^[A-Za-z0-9_]+_[0-9]{5,}\.(JPG|jpg)$, at
  // most 255 characters. The downloads' temporary names never match.
  static bool isPictureName(const std::string& name);

 private:
  struct Known {
    std::uint64_t bytes;
    std::int64_t mtimeNs;
    ExifSummary exif;
  };

  const std::string path_;
  Mutex mutex_;
  std::unordered_map<std::string, Known> known_ GUARDED_BY(mutex_);
};
