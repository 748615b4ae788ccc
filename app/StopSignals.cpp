// The self-pipe behind StopSignals.
#include "app/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace {

// Written by the handler, read by the waiting thread; -1 when not installed.
int pipeFds[2] = {-1, -1};

const char kSignalled = 's';
const char kQuit = 'q';

extern "C" void onStopSignal(int sig) {
  const int saved = errno;
  std::signal(sig, SIG_DFL);
  const ssize_t ignored = write(pipeFds[1], &kSignalled, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) {
  if (pipe(pipeFds) != 0) return;
  fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);  // a handler never blocks
  waiter = std::thread([onStop = std::move(onStop), readEnd = pipeFds[0]] {
    char byte = 0;
    while (true) {
      const ssize_t n = read(readEnd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || byte == kQuit) return;
      onStop();
      return;
    }
  });
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
}

StopSignals::~StopSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (pipeFds[1] < 0) return;
  const ssize_t ignored = write(pipeFds[1], &kQuit, 1);
  (void)ignored;
  if (waiter.joinable()) waiter.join();
  close(pipeFds[0]);
  close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}
