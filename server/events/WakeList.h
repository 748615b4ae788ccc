// WakeList: the functions to call when something new is ready for readers
// who wait without a thread of their own (streams). A subscription keeps its
// function registered while it lives; no call of it is under way once the
// subscription is destroyed. Thread-safe.
#pragma once

#include <functional>
#include <list>
#include <memory>

#include "common/ThreadAnnotations.h"

class WakeList {
 public:
  class Subscription {
   public:
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

   private:
    friend class WakeList;
    Subscription(WakeList& list, std::list<std::function<void()>>::iterator entry)
        : list_(list), entry_(entry) {}
    WakeList& list_;
    std::list<std::function<void()>>::iterator entry_;
  };

  // wake must be quick, must not block and must not subscribe or notify.
  std::unique_ptr<Subscription> subscribe(std::function<void()> wake) EXCLUDES(mutex_);
  // Calls every registered function on this thread.
  void notifyAll() EXCLUDES(mutex_);
  bool empty() const EXCLUDES(mutex_);

 private:
  mutable Mutex mutex_;
  std::list<std::function<void()>> wakes_ GUARDED_BY(mutex_);
};
