// The fake SDK's callback thread: events are queued with a due time and
// delivered one at a time, off the caller's thread, as the real SDK does.
#include <algorithm>
#include <cstdio>

#include "FakeSdk.h"

namespace fake {

void FakeSdk::fire(std::int64_t handle, std::function<void(VCSDK::IDeviceCallback&)> fn,
                   int delayMs) {
  std::lock_guard<std::mutex> lock(mu_);
  enqueueFn(handle, std::move(fn), delayMs);
}

void FakeSdk::fire(std::function<void(VCSDK::IDeviceCallback&)> fn, int delayMs) {
  std::lock_guard<std::mutex> lock(mu_);
  enqueueFn(lastHandle_, std::move(fn), delayMs);
}

void FakeSdk::fire(std::int64_t handle, const Event& event) {
  std::lock_guard<std::mutex> lock(mu_);
  enqueue(handle, event);
}

bool FakeSdk::drain(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return pending_.empty() && !busy_; });
}

void FakeSdk::enqueue(std::int64_t handle, const Event& event) {
  switch (event.kind) {
    case Event::Kind::None:
      return;
    case Event::Kind::Connected:
      enqueueFn(
          handle,
          [](VCSDK::IDeviceCallback& cb) { cb.OnConnected(VCSDK::VcDeviceConnectionVersion_V2); },
          event.delayMs);
      return;
    case Event::Kind::Disconnected: {
      std::uint32_t code = event.code;
      enqueueFn(
          handle, [code](VCSDK::IDeviceCallback& cb) { cb.OnDisconnected(code); }, event.delayMs);
      return;
    }
    case Event::Kind::Error: {
      std::uint32_t code = event.code;
      enqueueFn(
          handle, [code](VCSDK::IDeviceCallback& cb) { cb.OnError(code); }, event.delayMs);
      return;
    }
    case Event::Kind::Warning: {
      std::uint32_t code = event.code;
      enqueueFn(
          handle, [code](VCSDK::IDeviceCallback& cb) { cb.OnWarning(code); }, event.delayMs);
      return;
    }
    case Event::Kind::Download: {
      std::optional<std::string> file = event.file;
      if (file && file->empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "fake_%05u.jpg", ++downloadNo_);
        file = name;
      }
      std::uint32_t type = event.fileType;
      enqueueFn(
          handle,
          [file, type](VCSDK::IDeviceCallback& cb) {
            // The SDK hands out a writable buffer; the callee must not keep it.
            std::string copy = file ? *file : std::string();
            cb.OnCompleteDownload(file ? &copy[0] : nullptr, type);
          },
          event.delayMs);
      return;
    }
  }
}

void FakeSdk::enqueueFn(std::int64_t handle, std::function<void(VCSDK::IDeviceCallback&)> fn,
                        int delayMs) {
  Pending p;
  p.seq = ++seq_;
  p.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(delayMs, 0));
  p.handle = handle;
  p.fn = std::move(fn);
  pending_.push_back(std::move(p));
  if (!worker_.joinable()) {
    stopping_ = false;
    worker_ = std::thread([this] { workerLoop(); });
  }
  cv_.notify_all();
}

void FakeSdk::stopWorker(std::unique_lock<std::mutex>& lock) {
  pending_.clear();
  if (!worker_.joinable()) return;
  stopping_ = true;
  cv_.notify_all();
  std::thread t = std::move(worker_);
  lock.unlock();
  t.join();
  lock.lock();
  stopping_ = false;
}

void FakeSdk::workerLoop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!stopping_) {
    if (pending_.empty()) {
      cv_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
      continue;
    }
    auto next =
        std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
          return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
    if (next->due > std::chrono::steady_clock::now()) {
      // A copy: wait_until reads the time again after waking, when the
      // vector may have moved. Woken early by a new event, a release or a
      // stop: look again.
      const auto due = next->due;
      cv_.wait_until(lock, due);
      continue;
    }
    Pending event = std::move(*next);
    pending_.erase(next);
    auto cb = callbacks_.find(event.handle);
    if (cb == callbacks_.end() || cb->second == nullptr) {
      ++life_.droppedEvents;
      cv_.notify_all();
      continue;
    }
    VCSDK::IDeviceCallback* callback = cb->second;
    busy_ = true;
    runningHandle_ = event.handle;
    runningSeq_ = event.seq;
    lock.unlock();
    event.fn(*callback);
    lock.lock();
    busy_ = false;
    runningHandle_ = 0;
    runningSeq_ = 0;
    cv_.notify_all();
  }
}

}  // namespace fake
