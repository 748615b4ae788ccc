// Reporting a failed SDK call in one printed line.
#include "camera/SdkStatus.h"

#include <cstdarg>
#include <cstdio>

bool okOrError(VCSDK::VcStatus status, const char* labelFormat, ...) {
  if (sdkOk(status)) return true;
  // Labels are an operation's name and one or two numbers; a longer one
  // would be cut, never overrun.
  char label[128];
  std::va_list args;
  va_start(args, labelFormat);
  std::vsnprintf(label, sizeof label, labelFormat, args);
  va_end(args);
  std::printf("[error] %s: 0x%08X\n", label, status);
  return false;
}

bool okOrWarn(VCSDK::VcStatus status, const char* label) {
  if (sdkOk(status)) return true;
  std::printf("[warn] %s: 0x%08X\n", label, status);
  return false;
}
