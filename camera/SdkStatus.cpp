// Reporting a failed SDK call in one printed line, and to the listener.
#include "camera/SdkStatus.h"

#include <cstdarg>
#include <cstdio>

namespace {

// The listener of the scope this thread is in. The scope outlives every
// call made inside it, so no lock is needed to reach it.
thread_local SdkErrorListener* t_listener = nullptr;

}  // namespace

SdkErrorScope::SdkErrorScope(SdkErrorListener* listener) : previous_(t_listener) {
  t_listener = listener;
}

SdkErrorScope::~SdkErrorScope() { t_listener = previous_; }

bool okOrError(VCSDK::VcStatus status, const char* labelFormat, ...) {
  if (sdkOk(status)) return true;
  // Labels are an operation's name and one or two numbers; a longer one
  // would be cut, never overrun.
  char label[128];
  std::va_list args;
  va_start(args, labelFormat);
  std::vsnprintf(label, sizeof label, labelFormat, args);
  va_end(args);
  char line[160];
  std::snprintf(line, sizeof line, "[error] %s: 0x%08X", label, status);
  std::printf("%s\n", line);
  if (t_listener != nullptr) t_listener->sdkError(line, label, status);
  return false;
}

bool okOrWarn(VCSDK::VcStatus status, const char* label) {
  if (sdkOk(status)) return true;
  std::printf("[warn] %s: 0x%08X\n", label, status);
  return false;
}
