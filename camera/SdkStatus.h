// The one test of an SDK status code, and the one line that reports a failed
// call: "[error] <label>: 0x<code>" (or "[warn] ..."), printed in a single
// write so a line from an SDK thread cannot cut into it; the listener of the
// thread's scope may hear each error line (the server passes them on to the
// clients of the camera whose call failed). Thread-safe.
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
// thread that printed it. The listener must be quick, must take several
// threads at once and must not report SDK errors itself.
class SdkErrorListener {
 public:
  virtual ~SdkErrorListener() = default;
  // line: the printed text without its line break; label as formatted.
  virtual void sdkError(const char* line, const char* label, VCSDK::VcStatus status) noexcept = 0;
};

// While a scope lives, the error lines its thread prints go to its listener
// (null: to none), and to no other thread's. A server sets the scope of the
// camera whose call runs, so one camera's errors never reach another's
// clients. Scopes nest; each ends on the thread it began on. Thread-bound.
class SdkErrorScope {
 public:
  explicit SdkErrorScope(SdkErrorListener* listener);
  ~SdkErrorScope();
  SdkErrorScope(const SdkErrorScope&) = delete;
  SdkErrorScope& operator=(const SdkErrorScope&) = delete;

 private:
  SdkErrorListener* previous_;
};
