// One request per picture: the frame fetched for the size query is the one
// the image call delivers, so the size always fits. Kept per thread, so
// several threads may grab from one camera at once.
#include "LiveView.h"

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "Wire.h"

namespace standin {

using namespace VCSDK;

namespace {

struct Pending {
  bool valid = false;
  std::int64_t handle = 0;
  VcStatus imageError = 0;  // the image call will fail with this
  std::string jpeg;         // empty: no picture this time
  std::uint32_t frameNo = 0;
};
thread_local Pending t_pending;

VcStatus fetch(Session& session, Pending& p) {
  p = Pending();
  Reply r = session.link().get(std::string(vcwire::kLiveView) + "?session=" + session.id(), 3000);
  if (!r.reached) return VcError_ConnectionLost;
  if (r.status == vcwire::kRefused) {
    nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
    VcStatus code = j.is_object() ? j.value("error", VcStatus(VcError_LiveViewUnavailable))
                                  : VcStatus(VcError_LiveViewUnavailable);
    if (!j.is_object() || j.value("stage", std::string()) != "image") return code;
    p.imageError = code;
  } else if (r.status == 200) {
    p.jpeg = std::move(r.body);
    p.frameNo = static_cast<std::uint32_t>(std::strtoul(r.frameNo.c_str(), nullptr, 10));
  } else if (r.status != 204) {
    return VcError_LiveViewUnavailable;
  }
  p.valid = true;
  p.handle = session.handle();
  return VcError_None;
}

}  // namespace

VcStatus liveViewInfo(Session& session, VcImageInfo& info) {
  VcStatus status = fetch(session, t_pending);
  if (status != VcError_None) return status;
  info.SetBufferSize(kLiveViewHeader + static_cast<std::uint32_t>(t_pending.jpeg.size()));
  return VcError_None;
}

VcStatus liveViewImage(Session& session, VcImageDataBlock& block) {
  if (!t_pending.valid || t_pending.handle != session.handle()) {
    VcStatus status = fetch(session, t_pending);
    if (status != VcError_None) return status;
  }
  Pending& p = t_pending;
  if (p.imageError) {
    VcStatus code = p.imageError;
    p = Pending();
    return code;
  }
  std::uint8_t* data = block.GetData();
  std::uint32_t size = block.GetSize();
  // The frame stays pending, so a retry with a large enough buffer gets it.
  if (!data || size < kLiveViewHeader + p.jpeg.size()) return VcError_LiveViewBufferTooSmall;
  std::uint32_t length = static_cast<std::uint32_t>(p.jpeg.size());
  std::memset(data, 0, kLiveViewHeader);
  std::memcpy(data, "VCLV", 4);
  std::memcpy(data + 4, &length, sizeof length);
  std::memcpy(data + 8, &p.frameNo, sizeof p.frameNo);
  if (length) std::memcpy(data + kLiveViewHeader, p.jpeg.data(), length);
  block.SetImage(data + kLiveViewHeader, length, p.frameNo);
  p = Pending();
  return VcError_None;
}

}  // namespace standin
