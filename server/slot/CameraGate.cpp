// Locking for the shared camera: a command mutex plus a handle lock that
// readers only ever try.
#include "server/slot/CameraGate.h"

CameraGate::Teardown::Teardown(CameraGate& g) : gate(g) {
  ++gate.teardownsWaiting;
  command = std::unique_lock<std::mutex>(gate.commandMutex);
  gate.lockExclusive();
  --gate.teardownsWaiting;
}

CameraGate::Teardown::~Teardown() { gate.unlockExclusive(); }

CameraGate::Command::Command(CameraGate& g) : gate(g), command(g.commandMutex) {
  gate.lockShared();
}

CameraGate::Command::~Command() { gate.unlockShared(); }

CameraGate::Reader::Reader(CameraGate& g) : gate(g), holding(g.tryLockShared()) {}

CameraGate::Reader::~Reader() {
  if (holding) gate.unlockShared();
}

void CameraGate::lockExclusive() {
  MutexLock lock(state);
  lock.wait(changed, [this]() REQUIRES(state) { return sharedHolders == 0 && !exclusive; });
  exclusive = true;
}

void CameraGate::unlockExclusive() {
  {
    MutexLock lock(state);
    exclusive = false;
  }
  changed.notify_all();
}

void CameraGate::lockShared() {
  MutexLock lock(state);
  lock.wait(changed, [this]() REQUIRES(state) { return !exclusive; });
  ++sharedHolders;
}

bool CameraGate::tryLockShared() {
  MutexLock lock(state);
  // A waiting teardown goes first, so a steady stream of grabs cannot keep
  // a connect out.
  if (exclusive || teardownsWaiting.load() > 0) return false;
  ++sharedHolders;
  return true;
}

void CameraGate::unlockShared() {
  {
    MutexLock lock(state);
    --sharedHolders;
  }
  changed.notify_all();
}
