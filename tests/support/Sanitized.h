// Whether this test binary was built with a sanitizer, for the checks that
// measure the server's memory or bound its time.
#pragma once

// Sanitizer builds hold freed memory back (quarantine, shadow memory), so
// their memory figures say nothing of what the server itself keeps.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Sanitized builds run the server and the virtual camera several times
// slower, most of all on a busy machine: a test's real-time bounds (a
// slowest answer, pictures per second) are widened by this factor there.
// The figures themselves are measured on the normal build, in bench/.
constexpr int kSlowdown = kSanitized ? 4 : 1;
