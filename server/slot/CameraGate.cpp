// Locking for the shared camera: a command mutex plus a handle lock that
// readers only ever try.
#include "server/slot/CameraGate.h"

CameraGate::Hold::Hold(CameraGate& g, Kind k) : gate(g), kind(k) {
  switch (kind) {
    case Kind::Reader:
      holding = gate.tryLockShared();
      return;
    case Kind::Urgent:
      // Shares the handle like a command but skips the command mutex;
      // unlike a reader it does not give up for a waiting teardown, which
      // would drop a stop.
      gate.lockShared();
      break;
    case Kind::Command:
      command = std::unique_lock<std::mutex>(gate.commandMutex);
      gate.lockShared();
      break;
    case Kind::Teardown:
      ++gate.teardownsWaiting;
      command = std::unique_lock<std::mutex>(gate.commandMutex);
      gate.lockExclusive();
      --gate.teardownsWaiting;
      break;
  }
  holding = true;
}

CameraGate::Hold::~Hold() {
  if (!holding) return;
  if (kind == Kind::Teardown) {
    gate.unlockExclusive();
  } else {
    gate.unlockShared();
  }
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
