// Locking for the shared camera: a command mutex plus a handle lock that
// readers only ever try.
#include "server/slot/CameraGate.h"

CameraGate::Teardown::Teardown(CameraGate& g) : gate(g) {
  ++gate.teardownsWaiting;
  command = std::unique_lock<std::mutex>(gate.commandMutex);
  std::unique_lock<std::mutex> lock(gate.state);
  gate.changed.wait(lock, [this] { return gate.sharedHolders == 0 && !gate.exclusive; });
  gate.exclusive = true;
  --gate.teardownsWaiting;
}

CameraGate::Teardown::~Teardown() {
  {
    std::lock_guard<std::mutex> lock(gate.state);
    gate.exclusive = false;
  }
  gate.changed.notify_all();
}

CameraGate::Command::Command(CameraGate& g) : gate(g), command(g.commandMutex) {
  gate.lockShared();
}

CameraGate::Command::~Command() { gate.unlockShared(); }

CameraGate::Reader::Reader(CameraGate& g) : gate(g), holding(g.tryLockShared()) {}

CameraGate::Reader::~Reader() {
  if (holding) gate.unlockShared();
}

// Shares the handle like a command but skips the command mutex; unlike a
// reader it does not give up for a waiting teardown, which would drop a stop.
CameraGate::Urgent::Urgent(CameraGate& g) : gate(g) { gate.lockShared(); }

CameraGate::Urgent::~Urgent() { gate.unlockShared(); }

void CameraGate::lockShared() {
  std::unique_lock<std::mutex> lock(state);
  changed.wait(lock, [this] { return !exclusive; });
  ++sharedHolders;
}

bool CameraGate::tryLockShared() {
  std::lock_guard<std::mutex> lock(state);
  // A waiting teardown goes first, so a steady stream of grabs cannot keep
  // a connect out.
  if (exclusive || teardownsWaiting.load() > 0) return false;
  ++sharedHolders;
  return true;
}

void CameraGate::unlockShared() {
  {
    std::lock_guard<std::mutex> lock(state);
    --sharedHolders;
  }
  changed.notify_all();
}
