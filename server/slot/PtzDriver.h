// PtzDriver: the one way the server drives a camera's pan/tilt head. It keeps
// the head's commands in the order their requests reached the server (a stop
// is never overtaken by a move sent before it, though the stop skips the
// queue of commands), runs the lease on continuous moves, remembers the
// presets the server stored on each head and reports every command it sends
// to the event log as a "ptz" event. As a part of its slot it stops a leased
// move when the camera changes hands, is lost, leaves or the server stops,
// and stops a head that comes back after a loss. Thread-safe; each call says
// which camera access its caller must hold.
#pragma once

#include <cstdint>
#include <string>

#include "camera/PtzActions.h"
#include "common/ThreadAnnotations.h"
#include "server/events/EventLog.h"
#include "server/slot/PtzLease.h"
#include "server/slot/PtzPresets.h"
#include "server/slot/SlotObserver.h"

class CameraController;
class CameraGate;

class PtzDriver : public SlotObserver {
 public:
  PtzDriver(CameraController& controller, CameraGate& gate, CameraEventLog events);

  // Any action but the stop, with the camera held as a command. arrival is
  // the request's place in the order requests reached the camera; holdMs > 0
  // puts a lease of that many milliseconds (clamped) on a continuous move,
  // and the same move again under its lease only renews it.
  void command(const PtzAction& action, const PtzValues& values, std::uint64_t arrival, int holdMs)
      EXCLUDES(mutex_);
  // The stop, with the camera held as urgent (or more). automatic: sent by
  // the server itself (after a reconnection), not asked for.
  void stop(std::uint64_t arrival, bool automatic = false) EXCLUDES(mutex_);
  // Renews the running lease, if any. Needs no camera access.
  void renew() { lease_.renew(); }
  // Ends the lease; with stopHead, a leased move under way gets a stop. The
  // caller holds the camera (any access) when stopHead is true.
  void endLease(bool stopHead) EXCLUDES(mutex_);
  // The presets stored on the connected head as a JSON array; "[]" without
  // a camera. The caller holds the camera (any access).
  std::string presetsJson() EXCLUDES(mutex_);

  // A leased move stops at once (even beside a capture), and again once the
  // connect or disconnect holds the camera, in case one began meanwhile.
  void beforeHandover(CameraSlot&) override { endLeaseNow(); }
  void handover(CameraSlot&) override { endLease(true); }
  // A leased move has no head to stop now; the head gets its stop once the
  // camera is back.
  void lost(CameraSlot&) override { endLease(false); }
  // A head that was moving when the link went keeps moving on its own; it
  // must not carry on with a command from before the loss.
  void reconnected(CameraSlot& slot) override;
  void removed(CameraSlot&) override { endLeaseNow(); }
  void shutdown(CameraSlot&) override { endLeaseNow(); }

 private:
  // Lease thread: a lease ran out.
  void expired(std::uint64_t generation) EXCLUDES(mutex_);
  // automatic: sent by the server itself (lease, teardown, shutdown).
  void sendStop(bool automatic) REQUIRES(mutex_);
  // endLease(true) with the camera taken as urgent: not from a thread that
  // holds the camera's teardown access.
  void endLeaseNow() EXCLUDES(mutex_);

  CameraController& controller_;
  CameraGate& gate_;
  const CameraEventLog events_;
  // Orders the head's commands; taken after the camera gate, before the
  // lease's own lock. Captures never take it.
  Mutex mutex_;
  std::uint64_t lastStopArrival_ GUARDED_BY(mutex_) = 0;
  PtzPresets presets_ GUARDED_BY(mutex_);
  PtzLease lease_;  // last: its thread calls expired() and goes first
};
