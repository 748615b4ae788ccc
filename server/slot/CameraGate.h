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
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "camera/SdkStatus.h"
#include "common/ThreadAnnotations.h"

class CameraGate {
 public:
  enum class Kind { Reader, Urgent, Command, Teardown };

  // errors hears the SDK errors of calls made under this gate's holds; it
  // must outlive them (null: no one).
  explicit CameraGate(SdkErrorListener* errors = nullptr) : errors_(errors) {}

  // Holds one kind of access for a scope.
  class Hold {
   public:
    // With a deadline (commands only), gives up when the commands before
    // it have not ended by then.
    Hold(CameraGate& gate, Kind kind,
         std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    // False only for a reader that gave up because a teardown holds or
    // awaits the handle (the caller must then answer as if there were no
    // camera), or a command whose deadline passed.
    bool held() const { return holding; }

   private:
    SdkErrorScope errors;
    CameraGate& gate;
    const Kind kind;
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
    // Waits for the command under way until deadline at most (see held()).
    Command(CameraGate& gate, std::chrono::steady_clock::time_point deadline)
        : Hold(gate, Kind::Command, deadline) {}
  };
  struct Teardown : Hold {
    explicit Teardown(CameraGate& gate) : Hold(gate, Kind::Teardown) {}
  };

  // True while a connect or disconnect waits for its turn: a multi-shot
  // capture ends after the shot under way instead of keeping it waiting.
  bool teardownPending() const { return teardownsWaiting.load() > 0; }

 private:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;
  // A command: the turn among commands and teardowns, then the handle
  // beside readers. False when the deadline passed first.
  bool lockCommand(Deadline deadline) EXCLUDES(state);
  void unlockCommand() EXCLUDES(state);
  // A teardown: the turn, then the handle alone once every sharer is gone.
  void lockTeardown() EXCLUDES(state);
  void unlockTeardown() EXCLUDES(state);
  void lockShared() EXCLUDES(state);
  bool tryLockShared() EXCLUDES(state);
  void unlockShared() EXCLUDES(state);

  SdkErrorListener* const errors_;
  Mutex state;
  std::condition_variable changed;
  // Commands and teardowns take turns: one holds it at a time. A teardown
  // keeps its turn while it holds the handle alone, so a command that has
  // the turn finds the handle free.
  bool turnTaken GUARDED_BY(state) = false;
  int sharedHolders GUARDED_BY(state) = 0;
  bool exclusive GUARDED_BY(state) = false;
  std::atomic<int> teardownsWaiting{0};
};
