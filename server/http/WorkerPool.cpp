// The handler threads: on demand, bounded, reaped when idle.
#include "server/http/WorkerPool.h"

#include <utility>

WorkerPool::WorkerPool(std::size_t maxThreads, std::chrono::milliseconds idleExit)
    : maxThreads(maxThreads), idleExit(idleExit) {}

WorkerPool::~WorkerPool() {
  std::unique_lock<std::mutex> lock(mutex);
  closing = true;
  jobReady.notify_all();
  // Once closing, no thread moves its own handle any more.
  finished.splice(finished.end(), running);
  joinFinished(lock);
}

void WorkerPool::submit(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mutex);
  joinFinished(lock);
  jobs.push_back(std::move(job));
  if (idle >= jobs.size() || running.size() >= maxThreads) {
    jobReady.notify_one();
    return;
  }
  running.emplace_back();
  auto self = std::prev(running.end());
  *self = std::thread([this, self] { work(self); });
}

std::size_t WorkerPool::threadCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return running.size();
}

void WorkerPool::work(std::list<std::thread>::iterator self) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    if (jobs.empty()) {
      if (closing) return;  // the destructor joins this thread
      ++idle;
      const bool woken =
          jobReady.wait_for(lock, idleExit, [this] { return !jobs.empty() || closing; });
      --idle;
      if (!woken) break;
      continue;
    }
    std::function<void()> job = std::move(jobs.front());
    jobs.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what the job holds goes before the next wait
    lock.lock();
  }
  // Idle too long: hand this thread's handle over to be joined.
  finished.splice(finished.end(), running, self);
}

void WorkerPool::joinFinished(std::unique_lock<std::mutex>& lock) {
  while (!finished.empty()) {
    std::thread thread = std::move(finished.front());
    finished.pop_front();
    lock.unlock();
    thread.join();
    lock.lock();
  }
}
