// Placeholder until the device callback lands.
#include "camera/DeviceCallback.h"

bool DeviceCallback::connected() const { return connectedFlag.load(); }
bool DeviceCallback::disconnected() const { return disconnectedFlag.load(); }
std::uint32_t DeviceCallback::lastError() const { return lastErrorCode.load(); }
std::uint32_t DeviceCallback::downloadCount() const { return downloads.load(); }
void DeviceCallback::resetConnectionState() {}
void DeviceCallback::clearError() {}
void DeviceCallback::OnConnected(VCSDK::DeviceConnectionVersion) {}
void DeviceCallback::OnDisconnected(unsigned) {}
void DeviceCallback::OnPropertyChanged() {}
void DeviceCallback::OnLvPropertyChanged() {}
void DeviceCallback::OnCompleteDownload(char*, unsigned) {}
void DeviceCallback::OnWarning(unsigned) {}
void DeviceCallback::OnError(unsigned) {}
