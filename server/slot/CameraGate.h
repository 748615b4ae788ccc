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
// Thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "common/ThreadAnnotations.h"

class CameraGate {
 public:
  class Teardown {
   public:
    explicit Teardown(CameraGate& gate);
    ~Teardown();
    Teardown(const Teardown&) = delete;
    Teardown& operator=(const Teardown&) = delete;

   private:
    CameraGate& gate;
    std::unique_lock<std::mutex> command;
  };

  class Command {
   public:
    explicit Command(CameraGate& gate);
    ~Command();
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

   private:
    CameraGate& gate;
    std::unique_lock<std::mutex> command;
  };

  class Reader {
   public:
    explicit Reader(CameraGate& gate);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // False when a teardown holds or awaits the handle; the caller must then
    // answer as if there were no camera.
    bool held() const { return holding; }

   private:
    CameraGate& gate;
    bool holding = false;
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
