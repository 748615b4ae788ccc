// Builds a still's EXIF block with libexif and splices it into the JPEG the
// renderer made; the thumbnail comes from the shared JPEG scaler.
#include "vcam/StillExif.h"

#include <libexif/exif-data.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/JpegScale.h"

namespace vcam {

namespace {

constexpr int kThumbWidth = 160;
constexpr int kThumbQuality = 80;
constexpr std::size_t kMaxSegment = 65533;  // an APP1 payload's limit

// One libexif block and the allocator every part of it comes from; both are
// let go together.
class ExifBlock {
 public:
  ExifBlock() : mem_(exif_mem_new_default()), data_(mem_ ? exif_data_new_mem(mem_) : nullptr) {
    if (data_) {
      exif_data_set_data_type(data_, EXIF_DATA_TYPE_COMPRESSED);
      exif_data_set_byte_order(data_, EXIF_BYTE_ORDER_INTEL);
    }
  }
  ~ExifBlock() {
    if (data_) exif_data_unref(data_);
    if (mem_) exif_mem_unref(mem_);
  }
  ExifBlock(const ExifBlock&) = delete;
  ExifBlock& operator=(const ExifBlock&) = delete;

  bool ok() const { return data_ != nullptr && !failed_; }

  // The value bytes of a new entry of n components, or null (and the block
  // marked failed) when memory ran out.
  unsigned char* put(ExifIfd ifd, ExifTag tag, ExifFormat format, unsigned long n) {
    if (!data_) return nullptr;
    ExifEntry* e = exif_entry_new_mem(mem_);
    const unsigned size = exif_format_get_size(format) * static_cast<unsigned>(n);
    unsigned char* bytes = e ? static_cast<unsigned char*>(exif_mem_alloc(mem_, size)) : nullptr;
    if (bytes == nullptr) {
      if (e) exif_entry_unref(e);
      failed_ = true;
      return nullptr;
    }
    e->data = bytes;
    e->size = size;
    e->tag = tag;
    e->format = format;
    e->components = n;
    exif_content_add_entry(data_->ifd[ifd], e);
    exif_entry_unref(e);
    return bytes;
  }
  void putShort(ExifIfd ifd, ExifTag tag, ExifShort v) {
    if (unsigned char* b = put(ifd, tag, EXIF_FORMAT_SHORT, 1)) exif_set_short(b, order(), v);
  }
  void putLong(ExifIfd ifd, ExifTag tag, ExifLong v) {
    if (unsigned char* b = put(ifd, tag, EXIF_FORMAT_LONG, 1)) exif_set_long(b, order(), v);
  }
  void putRational(ExifIfd ifd, ExifTag tag, ExifLong num, ExifLong den) {
    if (unsigned char* b = put(ifd, tag, EXIF_FORMAT_RATIONAL, 1))
      exif_set_rational(b, order(), ExifRational{num, den});
  }
  void putSRational(ExifIfd ifd, ExifTag tag, ExifSLong num, ExifSLong den) {
    if (unsigned char* b = put(ifd, tag, EXIF_FORMAT_SRATIONAL, 1))
      exif_set_srational(b, order(), ExifSRational{num, den});
  }
  // ASCII with its terminating NUL; UNDEFINED takes the bytes as they are.
  void putBytes(ExifIfd ifd, ExifTag tag, ExifFormat format, const char* text, std::size_t n) {
    if (unsigned char* b = put(ifd, tag, format, n)) std::memcpy(b, text, n);
  }
  void putText(ExifIfd ifd, ExifTag tag, const std::string& text) {
    putBytes(ifd, tag, EXIF_FORMAT_ASCII, text.c_str(), text.size() + 1);
  }
  bool setThumbnail(const std::vector<std::uint8_t>& jpeg) {
    auto* bytes = static_cast<unsigned char*>(exif_mem_alloc(mem_, jpeg.size()));
    if (bytes == nullptr) return false;
    std::memcpy(bytes, jpeg.data(), jpeg.size());
    data_->data = bytes;  // the block frees it
    data_->size = static_cast<unsigned>(jpeg.size());
    return true;
  }
  // The APP1 payload ("Exif\0\0" and the TIFF structure); false when it
  // could not be made.
  bool save(std::vector<std::uint8_t>& payload) {
    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data_, &bytes, &size);
    if (bytes == nullptr) return false;
    payload.assign(bytes, bytes + size);
    exif_mem_free(mem_, bytes);
    return size > 0;
  }

 private:
  ExifByteOrder order() const { return exif_data_get_byte_order(data_); }

  ExifMem* mem_;
  ExifData* data_;
  bool failed_ = false;
};

std::string exifTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
  return text;
}

// Skips the APP0/APP1 segments right after the start of the picture: the
// new EXIF segment takes their place. 0 when this is no JPEG.
std::size_t headerEnd(const std::vector<std::uint8_t>& jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return 0;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF &&
         (jpeg[pos + 1] == 0xE0 || jpeg[pos + 1] == 0xE1)) {
    const std::size_t len = (std::size_t(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
    if (len < 2 || pos + 2 + len > jpeg.size()) return 0;
    pos += 2 + len;
  }
  return pos;
}

void writeFields(ExifBlock& b, const StillExif& f, int width, int height) {
  const std::string when = exifTime(f.taken);
  b.putText(EXIF_IFD_0, EXIF_TAG_MAKE, "KAMORA");
  b.putText(EXIF_IFD_0, EXIF_TAG_MODEL, f.model);
  b.putShort(EXIF_IFD_0, EXIF_TAG_ORIENTATION, 1);
  for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_1}) {
    b.putRational(ifd, EXIF_TAG_X_RESOLUTION, 72, 1);
    b.putRational(ifd, EXIF_TAG_Y_RESOLUTION, 72, 1);
    b.putShort(ifd, EXIF_TAG_RESOLUTION_UNIT, 2);  // inches
  }
  b.putText(EXIF_IFD_0, EXIF_TAG_DATE_TIME, when);
  b.putShort(EXIF_IFD_0, EXIF_TAG_YCBCR_POSITIONING, 1);
  b.putShort(EXIF_IFD_1, EXIF_TAG_COMPRESSION, 6);  // the thumbnail is a JPEG

  const ExifIfd x = EXIF_IFD_EXIF;
  const std::uint32_t num = f.shutter >> 16, den = f.shutter & 0xFFFF;
  if (num != 0 && den != 0) b.putRational(x, EXIF_TAG_EXPOSURE_TIME, num, den);
  // Tenths where they suffice, as cameras write them: f/5.6 is 56/10.
  if (f.fnumber != 0) {
    if (f.fnumber % 10 == 0) {
      b.putRational(x, EXIF_TAG_FNUMBER, f.fnumber / 10, 10);
    } else {
      b.putRational(x, EXIF_TAG_FNUMBER, f.fnumber, 100);
    }
  }
  if (f.iso != 0) {
    // The old 16-bit field tops out at 65535; ISOSpeed holds the full value.
    b.putShort(x, EXIF_TAG_ISO_SPEED_RATINGS, static_cast<ExifShort>(std::min(f.iso, 65535u)));
    b.putShort(x, EXIF_TAG_SENSITIVITY_TYPE, 3);  // ISO speed
    b.putLong(x, EXIF_TAG_ISO_SPEED, f.iso);
  }
  b.putBytes(x, EXIF_TAG_EXIF_VERSION, EXIF_FORMAT_UNDEFINED, "0230", 4);
  b.putText(x, EXIF_TAG_DATE_TIME_ORIGINAL, when);
  b.putText(x, EXIF_TAG_DATE_TIME_DIGITIZED, when);
  b.putBytes(x, EXIF_TAG_COMPONENTS_CONFIGURATION, EXIF_FORMAT_UNDEFINED, "\1\2\3\0", 4);
  if (f.ev % 100 == 0) {
    b.putSRational(x, EXIF_TAG_EXPOSURE_BIAS_VALUE, f.ev / 100, 10);
  } else {
    b.putSRational(x, EXIF_TAG_EXPOSURE_BIAS_VALUE, f.ev, 1000);
  }
  b.putBytes(x, EXIF_TAG_FLASH_PIX_VERSION, EXIF_FORMAT_UNDEFINED, "0100", 4);
  b.putShort(x, EXIF_TAG_COLOR_SPACE, 1);  // sRGB
  b.putLong(x, EXIF_TAG_PIXEL_X_DIMENSION, static_cast<ExifLong>(width));
  b.putLong(x, EXIF_TAG_PIXEL_Y_DIMENSION, static_cast<ExifLong>(height));
  b.putShort(x, EXIF_TAG_WHITE_BALANCE, f.autoWhiteBalance ? 0 : 1);
}

bool pictureSize(const std::vector<std::uint8_t>& jpeg, int& width, int& height) {
  tjhandle tj = tjInitDecompress();
  if (tj == nullptr) return false;
  int subsamp = 0, colorspace = 0;
  const bool ok = tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                      &width, &height, &subsamp, &colorspace) == 0;
  tjDestroy(tj);
  return ok;
}

}  // namespace

StillExif stillExifFor(const Settings& settings, const std::string& model, std::time_t taken) {
  StillExif f;
  f.model = model;
  f.taken = taken;
  f.iso = settings.iso;
  f.fnumber = settings.fnumber;
  f.shutter = settings.shutter;
  f.ev = settings.ev;
  f.autoWhiteBalance = settings.wb == 0;
  if (settings.iso == VCSDK::VcIsoAuto) {
    // What auto ISO added to the exposure is the ISO it chose.
    Settings base = settings;
    base.iso = 100;
    const double metered =
        100.0 * std::exp2(exposureOffsetStops(settings) - exposureOffsetStops(base));
    double best = 1e9;
    for (std::uint32_t iso : isoValues()) {
      const double off = std::fabs(std::log2(iso / metered));
      if (off < best) best = off, f.iso = iso;
    }
  }
  return f;
}

bool addStillExif(std::vector<std::uint8_t>& jpeg, const StillExif& fields) {
  const std::size_t rest = headerEnd(jpeg);
  int width = 0, height = 0;
  if (rest == 0 || !pictureSize(jpeg, width, height)) return false;
  std::vector<std::uint8_t> thumb;
  if (!jpegscale::scaleJpeg(jpeg.data(), jpeg.size(), kThumbWidth, kThumbQuality, thumb))
    return false;

  ExifBlock block;
  if (!block.ok() || !block.setThumbnail(thumb)) return false;
  writeFields(block, fields, width, height);
  if (!block.ok()) return false;
  std::vector<std::uint8_t> payload;
  if (!block.save(payload) || payload.size() > kMaxSegment) return false;
  std::vector<std::uint8_t> out;
  out.reserve(jpeg.size() + payload.size() + 4);
  const std::size_t len = payload.size() + 2;
  out.insert(out.end(), {0xFF, 0xD8, 0xFF, 0xE1, static_cast<std::uint8_t>(len >> 8),
                         static_cast<std::uint8_t>(len & 0xFF)});
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(rest), jpeg.end());
  jpeg.swap(out);
  return true;
}

}  // namespace vcam
