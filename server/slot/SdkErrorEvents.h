// SdkErrorEvents: passes each "[error]" line the camera layer prints on to
// the event log as an "error" event, for as long as it lives. Thread-safe.
#pragma once

#include "camera/SdkStatus.h"
#include "server/events/EventLog.h"

class SdkErrorEvents : public SdkErrorListener {
 public:
  explicit SdkErrorEvents(EventLog& events);
  ~SdkErrorEvents() override;
  SdkErrorEvents(const SdkErrorEvents&) = delete;
  SdkErrorEvents& operator=(const SdkErrorEvents&) = delete;

  void sdkError(const char* line, const char* label, VCSDK::VcStatus status) noexcept override;

 private:
  EventLog& events_;
};
