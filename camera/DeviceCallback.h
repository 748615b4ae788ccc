// DeviceCallback: turns the SDK's camera events into atomic flags and
// counters that the controller polls, and tells an observer, if one is set.
// Thread-safe: the SDK calls it from its own threads while the controller
// reads it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "common/ThreadAnnotations.h"
#include "vcsdk/VcSDK.h"

// Hears the events a poller would otherwise miss or see late: the link's
// outcome, its loss and each download. Called on the SDK's threads after the
// event's flags are stored and its line printed; an implementation only
// records and wakes whoever waits, never blocks on the camera, never throws.
class DeviceObserver {
 public:
  virtual ~DeviceObserver() = default;
  virtual void onConnected() noexcept = 0;
  virtual void onDisconnected(std::uint32_t error) noexcept = 0;
  virtual void onError(std::uint32_t error) noexcept = 0;
  // path as the SDK named it; valid only during the call (may be empty).
  virtual void onDownload(const char* path) noexcept = 0;
};

class DeviceCallback : public VCSDK::IDeviceCallback {
 public:
  DeviceCallback() = default;

  // observer (or null) hears every later event. It must outlive the events
  // of the device this callback serves (until its disconnect returned).
  void setObserver(DeviceObserver* observer) { observer_.store(observer); }

  bool connected() const;
  bool disconnected() const;
  std::uint32_t lastError() const;
  std::uint32_t downloadCount() const;
  // Where download number n (1, 2, ... as downloadCount counts them) was
  // saved; empty once kPathsKept later downloads have come.
  static constexpr std::uint32_t kPathsKept = 16;
  std::string downloadPath(std::uint32_t n) const EXCLUDES(pathsMutex_);

  // Forgets the outcome of an earlier connection request (flags and error
  // code); the download counter keeps counting.
  void resetConnectionState();
  // Forgets an error reported before a new capture.
  void clearError();

  void OnConnected(VCSDK::DeviceConnectionVersion version) override;
  void OnDisconnected(unsigned error) override;
  void OnPropertyChanged() override;
  void OnLvPropertyChanged() override;
  void OnCompleteDownload(char* filename, unsigned type) override EXCLUDES(pathsMutex_);
  void OnWarning(unsigned warning) override;
  void OnError(unsigned error) override;

 private:
  std::atomic<bool> connectedFlag{false};
  std::atomic<bool> disconnectedFlag{false};
  std::atomic<std::uint32_t> lastErrorCode{0};
  std::atomic<std::uint32_t> downloads{0};
  std::atomic<DeviceObserver*> observer_{nullptr};
  // Held only to copy a path in or out.
  mutable Mutex pathsMutex_;
  std::array<std::string, kPathsKept> paths_ GUARDED_BY(pathsMutex_);
};
