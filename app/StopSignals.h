// StopSignals: the one place where SIGINT and SIGTERM reach the program.
// The handler only writes a byte to a pipe; a thread of its own reads it and
// calls onStop, where anything may be done. The first signal also restores
// the default action, so a second Ctrl+C ends the process at once, should
// the orderly stop hang on a camera that does not answer.
// Thread-bound: one instance at a time, made and destroyed on one thread.
#pragma once

#include <functional>
#include <thread>

class StopSignals {
 public:
  explicit StopSignals(std::function<void()> onStop);
  // Restores the default actions and joins the thread.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::thread waiter;
};
