// DeviceCallback: turns the SDK's camera events into atomic flags and
// counters that the controller polls. Thread-safe: the SDK calls it from its
// own threads while the controller reads it.
#pragma once

#include <atomic>
#include <cstdint>

#include "vcsdk/VcSDK.h"

class DeviceCallback : public VCSDK::IDeviceCallback {
 public:
  DeviceCallback() = default;

  bool connected() const;
  bool disconnected() const;
  std::uint32_t lastError() const;
  std::uint32_t downloadCount() const;

  // Forgets the outcome of an earlier connection request (flags and error
  // code); the download counter keeps counting.
  void resetConnectionState();
  // Forgets an error reported before a new capture.
  void clearError();

  void OnConnected(VCSDK::DeviceConnectionVersion version) override;
  void OnDisconnected(unsigned error) override;
  void OnPropertyChanged() override;
  void OnLvPropertyChanged() override;
  void OnCompleteDownload(char* filename, unsigned type) override;
  void OnWarning(unsigned warning) override;
  void OnError(unsigned error) override;

 private:
  std::atomic<bool> connectedFlag{false};
  std::atomic<bool> disconnectedFlag{false};
  std::atomic<std::uint32_t> lastErrorCode{0};
  std::atomic<std::uint32_t> downloads{0};
};
