// Live-view requests: the info call fetches the frame and keeps it for the
// image call that follows on the same thread.
#pragma once

#include "Session.h"
#include "vcsdk/VcObjects.h"

namespace standin {

// Bytes before the picture inside the caller's buffer, as a real SDK's
// frame header would take.
constexpr std::uint32_t kLiveViewHeader = 64;

VCSDK::VcStatus liveViewInfo(Session& session, VCSDK::VcImageInfo& info);
VCSDK::VcStatus liveViewImage(Session& session, VCSDK::VcImageDataBlock& block);

}  // namespace standin
