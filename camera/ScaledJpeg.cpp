// Scaled copies come from the shared JPEG scaler: a scaled decode (the
// library skips most of the work for small copies), then an area-average
// shrink to the exact width.
#include "camera/ScaledJpeg.h"

#include <vector>

#include "common/JpegScale.h"

namespace {

constexpr int kThumbQuality = 80;
constexpr int kScreenQuality = 85;

std::string keyOf(const CaptureFile& file, ScaledKind kind) {
  return file.name() + '\n' + std::to_string(file.bytes()) + '\n' + std::to_string(file.mtimeNs()) +
         (kind == ScaledKind::Thumb ? "\nthumb" : "\nscreen");
}

}  // namespace

int scaledWidth(ScaledKind kind) { return kind == ScaledKind::Thumb ? 320 : 1600; }

ScaledJpegCache::ScaledJpegCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

std::shared_ptr<const std::string> ScaledJpegCache::get(const CaptureFile& file, ScaledKind kind) {
  const std::string key = keyOf(file, kind);
  {
    MutexLock lock(mutex_);
    auto it = index_.find(key);
    if (it != index_.end()) {
      order_.splice(order_.begin(), order_, it->second);
      return it->second->jpeg;
    }
  }

  std::string original;
  if (!file.readAll(original)) return nullptr;
  std::vector<std::uint8_t> scaled;
  const int quality = kind == ScaledKind::Thumb ? kThumbQuality : kScreenQuality;
  if (!jpegscale::scaleJpeg(reinterpret_cast<const std::uint8_t*>(original.data()), original.size(),
                            scaledWidth(kind), quality, scaled))
    return nullptr;
  auto jpeg = std::make_shared<const std::string>(scaled.begin(), scaled.end());

  MutexLock lock(mutex_);
  auto it = index_.find(key);
  if (it != index_.end()) return it->second->jpeg;  // made meanwhile by another request
  if (jpeg->size() > budget_) return jpeg;          // served, never kept
  order_.push_front(Slot{key, jpeg});
  index_[key] = order_.begin();
  bytes_ += jpeg->size();
  while (bytes_ > budget_) {
    bytes_ -= order_.back().jpeg->size();
    index_.erase(order_.back().key);
    order_.pop_back();
  }
  return jpeg;
}

std::size_t ScaledJpegCache::keptBytes() const {
  MutexLock lock(mutex_);
  return bytes_;
}

std::size_t ScaledJpegCache::keptCopies() const {
  MutexLock lock(mutex_);
  return order_.size();
}
