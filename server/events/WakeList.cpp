// Registration and calling of wake functions, under one lock so that a
// subscription's end waits for a call of it under way.
#include "server/events/WakeList.h"

WakeList::Subscription::~Subscription() {
  MutexLock lock(list_.mutex_);
  list_.wakes_.erase(entry_);
}

std::unique_ptr<WakeList::Subscription> WakeList::subscribe(std::function<void()> wake) {
  MutexLock lock(mutex_);
  wakes_.push_back(std::move(wake));
  return std::unique_ptr<Subscription>(new Subscription(*this, std::prev(wakes_.end())));
}

void WakeList::notifyAll() {
  MutexLock lock(mutex_);
  for (const auto& wake : wakes_) wake();
}

bool WakeList::empty() const {
  MutexLock lock(mutex_);
  return wakes_.empty();
}
