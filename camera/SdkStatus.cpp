// Reporting a failed SDK call in one printed line, and to the listener.
#include "camera/SdkStatus.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

// Calls run under the lock, so a listener being replaced is never mid-call.
std::mutex g_listenerLock;
SdkErrorListener* g_listener = nullptr;

}  // namespace

void setSdkErrorListener(SdkErrorListener* listener) {
  std::lock_guard<std::mutex> lock(g_listenerLock);
  g_listener = listener;
}

void clearSdkErrorListener(SdkErrorListener* listener) {
  std::lock_guard<std::mutex> lock(g_listenerLock);
  if (g_listener == listener) g_listener = nullptr;
}

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
  std::lock_guard<std::mutex> lock(g_listenerLock);
  if (g_listener != nullptr) g_listener->sdkError(line, label, status);
  return false;
}

bool okOrWarn(VCSDK::VcStatus status, const char* label) {
  if (sdkOk(status)) return true;
  std::printf("[warn] %s: 0x%08X\n", label, status);
  return false;
}
