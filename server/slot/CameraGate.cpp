// Locking for the shared camera: a turn for commands and teardowns plus a
// handle lock that readers only ever try, all under one mutex, so a command
// can give up after a deadline.
#include "server/slot/CameraGate.h"

CameraGate::Hold::Hold(CameraGate& g, Kind k,
                       std::optional<std::chrono::steady_clock::time_point> deadline)
    : errors(g.errors_), gate(g), kind(k) {
  switch (kind) {
    case Kind::Reader:
      holding = gate.tryLockShared();
      return;
    case Kind::Urgent:
      // Shares the handle like a command but skips the turn;
      // unlike a reader it does not give up for a waiting teardown, which
      // would drop a stop.
      gate.lockShared();
      break;
    case Kind::Command:
      holding = gate.lockCommand(deadline);
      return;
    case Kind::Teardown:
      ++gate.teardownsWaiting;
      gate.lockTeardown();
      --gate.teardownsWaiting;
      break;
  }
  holding = true;
}

CameraGate::Hold::~Hold() {
  if (!holding) return;
  switch (kind) {
    case Kind::Command:
      gate.unlockCommand();
      break;
    case Kind::Teardown:
      gate.unlockTeardown();
      break;
    default:
      gate.unlockShared();
  }
}

bool CameraGate::lockCommand(Deadline deadline) {
  MutexLock lock(state);
  const auto free = [this]() REQUIRES(state) { return !turnTaken; };
  if (!deadline) {
    lock.wait(changed, free);
  } else if (!lock.waitUntil(changed, *deadline, free)) {
    return false;
  }
  turnTaken = true;
  ++sharedHolders;
  return true;
}

void CameraGate::unlockCommand() {
  {
    MutexLock lock(state);
    turnTaken = false;
    --sharedHolders;
  }
  changed.notify_all();
}

void CameraGate::lockTeardown() {
  MutexLock lock(state);
  lock.wait(changed, [this]() REQUIRES(state) { return !turnTaken; });
  turnTaken = true;
  lock.wait(changed, [this]() REQUIRES(state) { return sharedHolders == 0 && !exclusive; });
  exclusive = true;
}

void CameraGate::unlockTeardown() {
  {
    MutexLock lock(state);
    exclusive = false;
    turnTaken = false;
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
