// Finds the EXIF segment and frame header among a JPEG's first markers and
// reads the summary fields with libexif, checking each value's type first.
#include "camera/ExifSummary.h"

#include <libexif/exif-data.h>

#include <cstdio>
#include <cstring>

namespace {

struct Head {
  const std::uint8_t* exif = nullptr;  // the APP1 payload, "Exif\0\0" first
  std::size_t exifSize = 0;
  std::optional<std::uint32_t> width, height;
  bool truncated = false;
};

std::size_t be16(const std::uint8_t* p) { return (std::size_t(p[0]) << 8) | p[1]; }

bool isFrameHeader(std::uint8_t m) {
  return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Walks the markers up to the frame header (or the image data).
Head walkMarkers(const std::uint8_t* data, std::size_t size) {
  Head head;
  if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return head;
  std::size_t pos = 2;
  for (;;) {
    while (pos + 1 < size && data[pos] == 0xFF && data[pos + 1] == 0xFF) ++pos;  // fill bytes
    if (pos + 4 > size) {
      head.truncated = true;
      return head;
    }
    if (data[pos] != 0xFF) return head;  // not a marker: the stream is broken
    const std::uint8_t m = data[pos + 1];
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {  // markers without a length
      pos += 2;
      continue;
    }
    if (m == 0xD9 || m == 0xDA) return head;  // end, or image data with no frame header
    const std::size_t len = be16(data + pos + 2);
    if (len < 2) return head;
    const std::size_t end = pos + 2 + len;
    if (isFrameHeader(m)) {
      if (pos + 9 > size) {
        head.truncated = true;
      } else if (len >= 7 && be16(data + pos + 5) != 0 && be16(data + pos + 7) != 0) {
        head.height = static_cast<std::uint32_t>(be16(data + pos + 5));
        head.width = static_cast<std::uint32_t>(be16(data + pos + 7));
      }
      return head;
    }
    if (m == 0xE1 && head.exif == nullptr && len >= 8 &&
        (pos + 10 > size || std::memcmp(data + pos + 4, "Exif\0\0", 6) == 0)) {
      if (end > size) {
        head.truncated = true;
        return head;
      }
      head.exif = data + pos + 4;
      head.exifSize = len - 2;
    }
    pos = end;
  }
}

// The entry's value bytes when it holds at least one value of one of the
// formats; null otherwise.
const unsigned char* value(ExifData* d, ExifIfd ifd, ExifTag tag, ExifFormat format,
                           ExifFormat alt = static_cast<ExifFormat>(0)) {
  ExifEntry* e = exif_content_get_entry(d->ifd[ifd], tag);
  if (e == nullptr || e->data == nullptr || e->components == 0) return nullptr;
  if (e->format != format && e->format != alt) return nullptr;
  if (e->size < exif_format_get_size(e->format)) return nullptr;
  return e->data;
}

std::optional<std::uint32_t> unsignedValue(ExifData* d, ExifIfd ifd, ExifTag tag) {
  ExifEntry* e = exif_content_get_entry(d->ifd[ifd], tag);
  const unsigned char* b = value(d, ifd, tag, EXIF_FORMAT_SHORT, EXIF_FORMAT_LONG);
  if (b == nullptr) return std::nullopt;
  const ExifByteOrder order = exif_data_get_byte_order(d);
  return e->format == EXIF_FORMAT_SHORT ? exif_get_short(b, order) : exif_get_long(b, order);
}

std::optional<std::string> text(ExifData* d, ExifIfd ifd, ExifTag tag) {
  ExifEntry* e = exif_content_get_entry(d->ifd[ifd], tag);
  if (value(d, ifd, tag, EXIF_FORMAT_ASCII) == nullptr) return std::nullopt;
  std::string out;
  for (unsigned i = 0; i < e->size && e->data[i] != 0 && out.size() < 128; ++i) {
    const char c = static_cast<char>(e->data[i]);
    out.push_back(c >= 0x20 && c <= 0x7E ? c : '?');  // keeps the listing valid UTF-8
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.empty()) return std::nullopt;
  return out;
}

// Reads as the console shows exposure times; 10/2500 reads 1/250.
std::optional<std::string> shutterText(ExifData* d) {
  const unsigned char* b = value(d, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_TIME, EXIF_FORMAT_RATIONAL);
  if (b == nullptr) return std::nullopt;
  ExifRational r = exif_get_rational(b, exif_data_get_byte_order(d));
  if (r.numerator == 0 || r.denominator == 0) return std::nullopt;
  if (r.denominator % r.numerator == 0) {
    r = {1, r.denominator / r.numerator};
  } else if (r.numerator % r.denominator == 0) {
    r = {r.numerator / r.denominator, 1};
  }
  char out[32];
  if (r.numerator == 1) {
    std::snprintf(out, sizeof out, "1/%u", static_cast<unsigned>(r.denominator));
  } else if (r.denominator == 1) {
    std::snprintf(out, sizeof out, "%u\"", static_cast<unsigned>(r.numerator));
  } else {
    std::snprintf(out, sizeof out, "%u/%u", static_cast<unsigned>(r.numerator),
                  static_cast<unsigned>(r.denominator));
  }
  return std::string(out);
}

std::optional<double> fnumber(ExifData* d) {
  const unsigned char* b = value(d, EXIF_IFD_EXIF, EXIF_TAG_FNUMBER, EXIF_FORMAT_RATIONAL);
  if (b == nullptr) return std::nullopt;
  const ExifRational r = exif_get_rational(b, exif_data_get_byte_order(d));
  if (r.numerator == 0 || r.denominator == 0) return std::nullopt;
  return double(r.numerator) / double(r.denominator);
}

std::optional<double> exposureBias(ExifData* d) {
  const unsigned char* b =
      value(d, EXIF_IFD_EXIF, EXIF_TAG_EXPOSURE_BIAS_VALUE, EXIF_FORMAT_SRATIONAL);
  if (b == nullptr) return std::nullopt;
  const ExifSRational r = exif_get_srational(b, exif_data_get_byte_order(d));
  if (r.denominator == 0) return std::nullopt;
  return double(r.numerator) / double(r.denominator);
}

// ISOSpeedRatings tops out at 65535; beyond, the full value is in ISOSpeed.
std::optional<std::uint32_t> iso(ExifData* d) {
  std::optional<std::uint32_t> v = unsignedValue(d, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED_RATINGS);
  if (!v || *v == 65535) {
    std::optional<std::uint32_t> full = unsignedValue(d, EXIF_IFD_EXIF, EXIF_TAG_ISO_SPEED);
    if (full) v = full;
  }
  if (v && *v == 0) return std::nullopt;
  return v;
}

// "YYYY:MM:DD HH:MM:SS" becomes "YYYY-MM-DDTHH:MM:SS"; anything else, and
// the all-zero "unknown" date, is absent.
std::optional<std::string> takenAt(ExifData* d) {
  std::optional<std::string> t = text(d, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
  if (!t || t->size() != 19) return std::nullopt;
  std::string s = *t;
  static const char kShape[] = "dddd:dd:dd dd:dd:dd";
  for (std::size_t i = 0; i < 19; ++i) {
    const bool digit = s[i] >= '0' && s[i] <= '9';
    if (kShape[i] == 'd' ? !digit : s[i] != kShape[i]) return std::nullopt;
  }
  if (s.compare(0, 10, "0000:00:00") == 0) return std::nullopt;
  s[4] = s[7] = '-';
  s[10] = 'T';
  return s;
}

}  // namespace

ExifSummary readExifSummary(const std::uint8_t* data, std::size_t size, bool* truncated) {
  ExifSummary out;
  const Head head = data ? walkMarkers(data, size) : Head{};
  if (truncated) *truncated = head.truncated;
  out.width = head.width;
  out.height = head.height;
  if (head.exif == nullptr) return out;

  ExifData* d = exif_data_new();
  if (d == nullptr) return out;
  // As written, never "fixed": fixing would invent defaults for missing tags.
  exif_data_unset_option(d, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(d, head.exif, static_cast<unsigned>(head.exifSize));
  out.iso = iso(d);
  out.fnumber = fnumber(d);
  out.shutter = shutterText(d);
  out.ev = exposureBias(d);
  out.model = text(d, EXIF_IFD_0, EXIF_TAG_MODEL);
  out.taken = takenAt(d);
  if (!out.width || !out.height) {
    out.width = unsignedValue(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION);
    out.height = unsignedValue(d, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION);
    if (!out.width || !out.height || *out.width == 0 || *out.height == 0)
      out.width = out.height = std::nullopt;
  }
  exif_data_unref(d);
  return out;
}
