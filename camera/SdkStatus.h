// The one test of an SDK status code, and the one line that reports a failed
// call: "[error] <label>: 0x<code>" (or "[warn] ..."), printed in a single
// write so a line from an SDK thread cannot cut into it; a listener may hear
// each error line (the server passes them on to its clients). Thread-safe.
#pragma once

#include "vcsdk/VcTypes.h"

// Lets the compiler check a printf-style pattern against its arguments.
#if defined(__GNUC__) || defined(__clang__)
#define KAMORA_PRINTF(pattern, first) __attribute__((format(printf, pattern, first)))
#else
#define KAMORA_PRINTF(pattern, first)
#endif

inline bool sdkOk(VCSDK::VcStatus status) { return status == VCSDK::VcError_None; }

// True when status is success. Otherwise prints the error line, its label
// formatted printf-style from labelFormat and the rest, and returns false.
bool okOrError(VCSDK::VcStatus status, const char* labelFormat, ...) KAMORA_PRINTF(2, 3);

// The same with a "[warn]" line and a fixed label, for a failure the
// operation goes on after.
bool okOrWarn(VCSDK::VcStatus status, const char* label);

// Hears each "[error]" line okOrError prints, after it is printed, on the
// thread that printed it. Calls are one at a time; the listener must be quick
// and must not report SDK errors itself.
class SdkErrorListener {
 public:
  virtual ~SdkErrorListener() = default;
  // line: the printed text without its line break; label as formatted.
  virtual void sdkError(const char* line, const char* label, VCSDK::VcStatus status) noexcept = 0;
};

// One listener for the process (null: none). Once it returns, no call of the
// listener it replaced is under way. clearSdkErrorListener ends only its own.
void setSdkErrorListener(SdkErrorListener* listener);
void clearSdkErrorListener(SdkErrorListener* listener);
