// One device handle: the link to its camera and the thread that turns the
// camera's events into callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Link.h"
#include "common/ThreadAnnotations.h"
#include "vcsdk/IDeviceCallback.h"

namespace httplib {
class Client;
}

namespace standin {

struct ConnectRequest {
  std::string ip, mac;  // mac as "AA:BB:..."
  bool ssh = false;
  std::string user, pass, fingerprint;
};

// Thread-safe. Callbacks run only on the session's own thread, never while
// a lock of the session is held, and never after stop() has returned.
class Session : public std::enable_shared_from_this<Session> {
 public:
  enum State { Connecting, Ready, Failed, Lost, Closed };

  Session(std::int64_t handle, ConnectRequest request, VCSDK::IDeviceCallback* callback);
  ~Session();

  void start() EXCLUDES(mutex_);
  // Ends the link and joins the event thread (unless called from it).
  void stop() EXCLUDES(mutex_);

  State state() const { return state_.load(); }
  // The camera's name for this link; empty until it answered the connection.
  std::string id() const EXCLUDES(mutex_);
  Link& link() { return link_; }
  std::int64_t handle() const { return handle_; }

  // Where downloads go (absolute folder) and under which prefix.
  void setSaveInfo(const std::string& folder, const std::string& prefix) EXCLUDES(mutex_);

 private:
  void run() EXCLUDES(mutex_);
  bool poll() EXCLUDES(mutex_);  // false: the thread ends
  void download(std::uint64_t pictureId) EXCLUDES(mutex_);
  void lose();

  const std::int64_t handle_;
  const ConnectRequest request_;
  VCSDK::IDeviceCallback* const callback_;
  Link link_;
  std::atomic<State> state_{Connecting};
  std::atomic<bool> stopping_{false};

  // Held by a stop() that joins the event thread, so that a second stop()
  // from another thread returns only once the thread has ended too. Taken
  // before mutex_; never taken on this session's own event thread.
  std::mutex joinMutex_;
  mutable Mutex mutex_;
  std::thread thread_ GUARDED_BY(mutex_);
  std::thread::id eventThread_ GUARDED_BY(mutex_);  // kept after thread_ is joined
  std::string id_ GUARDED_BY(mutex_);
  std::string folder_ GUARDED_BY(mutex_);
  std::string prefix_ GUARDED_BY(mutex_);
  httplib::Client* pollClient_ GUARDED_BY(mutex_) = nullptr;  // the request in flight, for stop()
};

}  // namespace standin
