// Clang's thread-safety annotations, and a mutex they understand. Under other
// compilers the annotations are empty; clang builds with -Wthread-safety check
// that every GUARDED_BY member is only touched with its mutex held.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KAMORA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define KAMORA_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) KAMORA_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY KAMORA_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) KAMORA_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) KAMORA_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) KAMORA_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KAMORA_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) KAMORA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) KAMORA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KAMORA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KAMORA_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KAMORA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS KAMORA_THREAD_ATTRIBUTE(no_thread_safety_analysis)

// std::mutex with the capability attribute, so members can name it.
class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // For std::condition_variable, which waits on the plain mutex.
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for a scope. wait() releases and retakes it around a
// condition variable's wait, as std::unique_lock does. Clang checks a lambda
// on its own, so a predicate that reads guarded members says so:
//   lock.wait(cv, [this]() REQUIRES(mutex_) { return !queue_.empty(); });
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.native()) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  template <typename Predicate>
  void wait(std::condition_variable& cv, Predicate ready) {
    cv.wait(lock_, ready);
  }
  template <typename Duration, typename Predicate>
  bool waitFor(std::condition_variable& cv, Duration timeout, Predicate ready) {
    return cv.wait_for(lock_, timeout, ready);
  }
  template <typename TimePoint, typename Predicate>
  bool waitUntil(std::condition_variable& cv, TimePoint deadline, Predicate ready) {
    return cv.wait_until(lock_, deadline, ready);
  }
  // One wake-up (or the deadline), for loops that test their condition
  // themselves with the lock held.
  template <typename TimePoint>
  std::cv_status waitUntil(std::condition_variable& cv, TimePoint deadline) {
    return cv.wait_until(lock_, deadline);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};
