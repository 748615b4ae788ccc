// The interface through which the SDK reports a camera's events to the
// program, on the SDK's own threads.
#pragma once

#include "vcsdk/VcTypes.h"

namespace VCSDK {

// Slot order is part of the SDK's binary interface: do not reorder.
// Every operation has an empty default body. There is deliberately no
// virtual destructor: the SDK never owns or deletes a callback.
class IDeviceCallback {
 public:
  virtual void OnConnected(DeviceConnectionVersion /*version*/) {}
  virtual void OnDisconnected(unsigned /*error*/) {}
  virtual void OnPropertyChanged() {}
  virtual void OnPropertyChangedCodes(unsigned /*num*/, unsigned* /*codes*/) {}
  virtual void OnLvPropertyChanged() {}
  virtual void OnLvPropertyChangedCodes(unsigned /*num*/, unsigned* /*codes*/) {}
  virtual void OnCompleteDownload(char* /*filename*/, unsigned /*type*/) {}
  virtual void OnCompleteOperation(unsigned /*operation*/,
                                   VcOperationResultData* /*data*/) {}
  virtual void OnNotifyContentsTransfer(unsigned /*notify*/,
                                        unsigned /*handle*/,
                                        char* /*filename*/) {}
  virtual void OnWarning(unsigned /*warning*/) {}
  virtual void OnWarningExt(unsigned /*warning*/, int /*param1*/,
                            int /*param2*/, int /*param3*/) {}
  virtual void OnError(unsigned /*error*/) {}
  virtual void OnNotifyFTPTransferResult(unsigned /*notify*/,
                                         unsigned /*numOfSuccess*/,
                                         unsigned /*numOfFail*/) {}
  virtual void OnNotifyRemoteTransferResult(unsigned /*notify*/,
                                            unsigned /*result*/,
                                            char* /*filename*/) {}
  virtual void OnNotifyRemoteTransferResult(unsigned /*notify*/,
                                            unsigned /*result*/,
                                            unsigned char* /*data*/,
                                            unsigned long long /*size*/) {}
  virtual void OnNotifyRemoteTransferContentsListChanged(
      unsigned /*notify*/, unsigned /*slotNumber*/, unsigned /*addSize*/) {}
  virtual void OnNotifyRemoteFirmwareUpdateResult(unsigned /*notify*/,
                                                  const void* /*param*/) {}
  virtual void OnReceivePlaybackTimeCode(unsigned /*timeCode*/) {}
  virtual void OnReceivePlaybackData(unsigned char /*mediaType*/,
                                     int /*dataSize*/,
                                     unsigned char* /*data*/,
                                     long long /*pts*/, long long /*dts*/,
                                     int /*param1*/, int /*param2*/) {}
  virtual void OnNotifyMonitorUpdated(unsigned /*type*/, unsigned /*frameNo*/) {
  }
  virtual void OnNotifyPostViewImage(char* /*filename*/, unsigned /*type*/) {}

 protected:
  IDeviceCallback() = default;
  IDeviceCallback(const IDeviceCallback&) = default;
  IDeviceCallback& operator=(const IDeviceCallback&) = default;
  ~IDeviceCallback() = default;
};

}  // namespace VCSDK
