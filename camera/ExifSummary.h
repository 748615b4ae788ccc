// What the capture listing shows of a picture: its exposure, camera and
// time from the EXIF block, and its pixel size, read from the first bytes
// of the file only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Every field is absent when the picture does not say it, or says it in a
// way that cannot be right (a zero denominator, a malformed date).
struct ExifSummary {
  std::optional<std::uint32_t> iso;
  std::optional<double> fnumber;       // 5.6
  std::optional<std::string> shutter;  // "1/250", "2\"" (whole seconds), "13/10"
  std::optional<double> ev;            // exposure bias in EV, -0.7
  std::optional<std::string> model;    // printable ASCII only
  // DateTimeOriginal as ISO 8601 without a zone ("2024-05-01T14:03:22"):
  // the camera's clock, local time, as it wrote it.
  std::optional<std::string> taken;
  // The picture's own size from its frame header; the EXIF pixel size only
  // when the frame header lies beyond the bytes given.
  std::optional<std::uint32_t> width, height;
};

// Enough for the EXIF block and frame header of our pictures; a picture
// whose head is longer is read again with more, up to kExifHeadMost.
constexpr std::size_t kExifHeadFirst = 16 * 1024;
constexpr std::size_t kExifHeadMost = 256 * 1024;

// Reads the summary from the first size bytes of a JPEG file. Never fails:
// anything missing, broken or cut off leaves its fields absent. When
// truncated is given it is set if the bytes ended before the frame header,
// so that a longer head could tell more. Thread-safe (no shared state).
ExifSummary readExifSummary(const std::uint8_t* data, std::size_t size, bool* truncated = nullptr);
