// Recording callback and picture helpers for SDK-level tests.
#include "tests/support/SdkRecorder.h"

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void RecordingCallback::add(const char* kind, unsigned code, std::string file) {
  Event e;
  e.kind = kind;
  e.code = code;
  e.file = std::move(file);
  e.thread = std::this_thread::get_id();
  e.at = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(e));
  }
  changed_.notify_all();
}

bool RecordingCallback::waitFor(const std::string& kind, int timeoutMs, std::size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    std::size_t n = 0;
    for (const Event& e : events_) n += e.kind == kind;
    return n >= count;
  });
}

std::size_t RecordingCallback::count(const std::string& kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const Event& e : events_) n += e.kind == kind;
  return n;
}

std::vector<RecordingCallback::Event> RecordingCallback::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool RecordingCallback::waitOutcome(int timeoutMs, Event& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  bool found = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const Event& e : events_)
      if (e.kind == "connected" || e.kind == "error" || e.kind == "disconnected") {
        out = e;
        return true;
      }
    return false;
  });
  return found;
}

VCSDK::VcStatus SdkLink::request(const std::string& ip, const std::string& mac,
                                 VCSDK::VcCameraDeviceModelList model, bool ssh, const char* user,
                                 const char* pass, bool withFingerprint,
                                 const char* forcedFingerprint) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(ip.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  unsigned m[6] = {0, 0, 0, 0, 0, 0};
  std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
  std::uint8_t bytes[6];
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(m[i]);
  VCSDK::VcStatus status = VCSDK::CreateCameraObjectInfoEthernetConnection(
      &info, model, (a << 24) | (b << 16) | (c << 8) | d, bytes, ssh ? 1 : 0);
  if (status != VCSDK::VcError_None) return status;
  char fp[512] = {0};
  std::uint32_t fpSize = 0;
  if (withFingerprint && VCSDK::GetFingerprint(info, fp, &fpSize) != VCSDK::VcError_None)
    fpSize = 0;
  if (forcedFingerprint) {
    std::snprintf(fp, sizeof fp, "%s", forcedFingerprint);
    fpSize = static_cast<std::uint32_t>(std::strlen(fp));
  }
  return VCSDK::Connect(info, &callback, &handle, VCSDK::VcSdkControlMode_Remote,
                        VCSDK::VcReconnecting_ON, user, pass, fpSize ? fp : nullptr, fpSize, 0);
}

bool SdkLink::open(const std::string& ip, const std::string& mac,
                   VCSDK::VcCameraDeviceModelList model, int timeoutMs) {
  return request(ip, mac, model) == VCSDK::VcError_None && callback.waitFor("connected", timeoutMs);
}

void SdkLink::close() {
  if (handle) {
    VCSDK::Disconnect(handle);
    VCSDK::ReleaseDevice(handle);
    handle = 0;
  }
  if (info) {
    info->Release();
    info = nullptr;
  }
}

VCSDK::VcStatus setProperty(std::int64_t handle, std::uint32_t code, VCSDK::VcDataType type,
                            std::uint64_t value) {
  VCSDK::VcDeviceProperty p;
  p.SetCode(code);
  p.SetValueType(type);
  p.SetCurrentValue(value);
  return VCSDK::SetDeviceProperty(handle, &p);
}

VCSDK::VcStatus grabFrame(std::int64_t handle, std::string& jpeg) {
  jpeg.clear();
  VCSDK::VcImageInfo info;
  VCSDK::VcStatus status = VCSDK::GetLiveViewImageInfo(handle, &info);
  if (status != VCSDK::VcError_None) return status;
  std::vector<std::uint8_t> buffer(info.GetBufferSize());
  VCSDK::VcImageDataBlock block;
  block.SetSize(static_cast<std::uint32_t>(buffer.size()));
  block.SetData(buffer.data());
  status = VCSDK::GetLiveViewImage(handle, &block);
  if (status != VCSDK::VcError_None) return status;
  if (block.GetImageSize())
    jpeg.assign(reinterpret_cast<const char*>(block.GetImageData()), block.GetImageSize());
  return VCSDK::VcError_None;
}

bool decodeJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& rgb, int& w,
                int& h) {
  tjhandle tj = tjInitDecompress();
  if (!tj) return false;
  int sub = 0, cs = 0;
  bool ok = tjDecompressHeader3(tj, data, static_cast<unsigned long>(size), &w, &h, &sub, &cs) == 0;
  if (ok) {
    rgb.resize(static_cast<std::size_t>(w) * h * 3);
    ok = tjDecompress2(tj, data, static_cast<unsigned long>(size), rgb.data(), w, 0, h, TJPF_RGB,
                       0) == 0;
  }
  tjDestroy(tj);
  return ok;
}

bool decodeJpeg(const std::string& jpeg, std::vector<std::uint8_t>& rgb, int& w, int& h) {
  return decodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), rgb, w, h);
}

void meanRgb(const std::vector<std::uint8_t>& rgb, double mean[3]) {
  double sum[3] = {0, 0, 0};
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    for (int c = 0; c < 3; ++c) sum[c] += rgb[i + c];
  double n = rgb.size() / 3.0;
  for (int c = 0; c < 3; ++c) mean[c] = n > 0 ? sum[c] / n : 0;
}

double meanAbsDiff(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / a.size();
}
