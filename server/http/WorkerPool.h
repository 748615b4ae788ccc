// Threads that run request handlers, which may block. Started on demand while
// every thread is busy, up to a bound; a thread idle for a while exits, so an
// idle server holds few. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

class WorkerPool {
 public:
  WorkerPool(std::size_t maxThreads, std::chrono::milliseconds idleExit);
  // Runs the jobs already given, then joins every thread.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs job on a worker: an idle one, a new one, or the first to come free
  // when the bound is reached. The job must not throw.
  void submit(std::function<void()> job);
  // Threads alive now (for tests and figures).
  std::size_t threadCount() const;

 private:
  void work(std::list<std::thread>::iterator self);
  void joinFinished(std::unique_lock<std::mutex>& lock);

  const std::size_t maxThreads;
  const std::chrono::milliseconds idleExit;
  mutable std::mutex mutex;
  std::condition_variable jobReady;
  std::deque<std::function<void()>> jobs;
  std::list<std::thread> running;
  // Threads that have exited their loop, to be joined by the next caller.
  std::list<std::thread> finished;
  std::size_t idle = 0;
  bool closing = false;
};
