// DeviceCallback: the SDK's camera events, turned into atomic state and one
// printed line each, then passed to the observer. Runs on the SDK's threads,
// so it only stores, prints and tells.
#include "camera/DeviceCallback.h"

#include <cstdio>

bool DeviceCallback::connected() const { return connectedFlag.load(); }
bool DeviceCallback::disconnected() const { return disconnectedFlag.load(); }
std::uint32_t DeviceCallback::lastError() const { return lastErrorCode.load(); }
std::uint32_t DeviceCallback::downloadCount() const { return downloads.load(); }

void DeviceCallback::resetConnectionState() {
  connectedFlag.store(false);
  disconnectedFlag.store(false);
  lastErrorCode.store(0);
}

void DeviceCallback::clearError() { lastErrorCode.store(0); }

void DeviceCallback::OnConnected(VCSDK::DeviceConnectionVersion) {
  connectedFlag.store(true);
  std::printf("[callback] OnConnected\n");
  if (DeviceObserver* observer = observer_.load()) observer->onConnected();
}

void DeviceCallback::OnDisconnected(unsigned error) {
  disconnectedFlag.store(true);
  std::printf("[callback] OnDisconnected (error=0x%08X)\n", error);
  if (DeviceObserver* observer = observer_.load()) observer->onDisconnected(error);
}

void DeviceCallback::OnPropertyChanged() { std::printf("[callback] OnPropertyChanged\n"); }

void DeviceCallback::OnLvPropertyChanged() { std::printf("[callback] OnLvPropertyChanged\n"); }

std::string DeviceCallback::downloadPath(std::uint32_t n) const {
  MutexLock lock(pathsMutex_);
  const std::uint32_t count = downloads.load();
  if (n == 0 || n > count || count - n >= kPathsKept) return std::string();
  return paths_[n % kPathsKept];
}

void DeviceCallback::OnCompleteDownload(char* filename, unsigned) {
  // Counted before the line, so a waiter never sees the line without the
  // count; the path goes in with the count, so a waiter that sees the
  // count finds the path.
  {
    MutexLock lock(pathsMutex_);
    paths_[(downloads.load() + 1) % kPathsKept] = filename != nullptr ? filename : "";
    downloads.fetch_add(1);
  }
  std::printf("[callback] OnCompleteDownload: %s\n", filename != nullptr ? filename : "");
  if (DeviceObserver* observer = observer_.load()) {
    observer->onDownload(filename != nullptr ? filename : "");
  }
}

void DeviceCallback::OnWarning(unsigned warning) {
  std::printf("[callback] OnWarning (0x%08X)\n", warning);
}

void DeviceCallback::OnError(unsigned error) {
  lastErrorCode.store(error);
  std::printf("[callback] OnError (0x%08X)\n", error);
  if (DeviceObserver* observer = observer_.load()) observer->onError(error);
}
