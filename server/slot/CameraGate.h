// CameraGate: how concurrent requests share the server's one camera.
//
// Three kinds of access, so that a long capture or connection never holds up
// the rest of the API:
//  - teardown (connect, disconnect): alone on the device handle, after any
//    command under way has ended;
//  - command (capture, setters, pan/tilt): one at a time among themselves,
//    beside readers;
//  - reader (live-view grab, settings read-out): beside commands; never
//    waits for a teardown but gives up at once, so polls cannot pile up on
//    workers while a connection is being made.
//  - urgent (pan/tilt stop): beside commands and readers, so a stop never
//    waits for a capture; it waits only while a teardown holds the handle.
// Thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "common/ThreadAnnotations.h"

class CameraGate {
 public:
  enum class Kind { Reader, Urgent, Command, Teardown };

  // Holds one kind of access for a scope.
  class Hold {
   public:
    Hold(CameraGate& gate, Kind kind);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // False only for a reader that gave up because a teardown holds or
    // awaits the handle; the caller must then answer as if there were no
    // camera.
    bool held() const { return holding; }

   private:
    CameraGate& gate;
    const Kind kind;
    std::unique_lock<std::mutex> command;  // commands and teardowns
    bool holding = false;
  };

  // The four kinds by name.
  struct Reader : Hold {
    explicit Reader(CameraGate& gate) : Hold(gate, Kind::Reader) {}
  };
  // Safe beside a command only for calls that read the device handle and
  // nothing a command changes (CameraController::ptzStop); callers keep such
  // calls from overtaking their own kind (see PtzDriver).
  struct Urgent : Hold {
    explicit Urgent(CameraGate& gate) : Hold(gate, Kind::Urgent) {}
  };
  struct Command : Hold {
    explicit Command(CameraGate& gate) : Hold(gate, Kind::Command) {}
  };
  struct Teardown : Hold {
    explicit Teardown(CameraGate& gate) : Hold(gate, Kind::Teardown) {}
  };

  // True while a connect or disconnect waits for its turn: a multi-shot
  // capture ends after the shot under way instead of keeping it waiting.
  bool teardownPending() const { return teardownsWaiting.load() > 0; }

 private:
  void lockExclusive() EXCLUDES(state);
  void unlockExclusive() EXCLUDES(state);
  void lockShared() EXCLUDES(state);
  bool tryLockShared() EXCLUDES(state);
  void unlockShared() EXCLUDES(state);

  // Keeps commands one at a time; it guards no member of its own. Taken
  // before state, never after.
  std::mutex commandMutex;
  Mutex state;
  std::condition_variable changed;
  int sharedHolders GUARDED_BY(state) = 0;
  bool exclusive GUARDED_BY(state) = false;
  std::atomic<int> teardownsWaiting{0};
};
