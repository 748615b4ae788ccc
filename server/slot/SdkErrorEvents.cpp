// "error" events: {"line":"[error] setIso(0x000064): 0x00008201",
// "label":"setIso(0x000064)","code":"0x00008201"}.
#include "server/slot/SdkErrorEvents.h"

#include <nlohmann/json.hpp>

#include "server/slot/CameraHealth.h"

void SdkErrorEvents::sdkError(const char* line, const char* label,
                              VCSDK::VcStatus status) noexcept {
  try {
    nlohmann::ordered_json data;
    data["line"] = line;
    data["label"] = label;
    data["code"] = sdkCodeText(status);
    events_.publish("error", data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  } catch (...) {
    // Out of memory: the line was printed; only its event is lost.
  }
}
