// SdkErrorEvents: passes each "[error]" line of one camera's failed SDK calls
// on to the event log as that camera's "error" event. The camera's gate puts
// every call on the camera in its scope (see SdkErrorScope). Thread-safe.
#pragma once

#include "camera/SdkStatus.h"
#include "server/events/EventLog.h"

class SdkErrorEvents : public SdkErrorListener {
 public:
  explicit SdkErrorEvents(CameraEventLog events) : events_(std::move(events)) {}
  SdkErrorEvents(const SdkErrorEvents&) = delete;
  SdkErrorEvents& operator=(const SdkErrorEvents&) = delete;

  void sdkError(const char* line, const char* label, VCSDK::VcStatus status) noexcept override;

 private:
  const CameraEventLog events_;
};
