// The camera control SDK: the one header the program includes.
//
// Threading: every function may be called from any thread. Operations on
// different cameras may run at the same time; on one camera the SDK accepts
// a live-view request while another command is under way. Callbacks arrive
// on threads of the SDK's own, between Connect and the return of
// ReleaseDevice.
#pragma once

#include <cstdint>

#include "vcsdk/IDeviceCallback.h"
#include "vcsdk/VcObjects.h"
#include "vcsdk/VcTypes.h"

namespace VCSDK {

// Lifetime. Init must succeed before any other call; Release is the last.
bool Init(std::uint32_t logType = 0);
bool Release();

// Version: one byte per component, major in bits 31-24, then minor, patch,
// build.
std::uint32_t GetSDKVersion();

// Discovery. Fills *list with the cameras found within timeInSec seconds;
// the caller releases the list.
VcStatus EnumCameraObjects(IVcEnumCameraObjectInfo** list,
                           std::uint8_t timeInSec = 3);

// Describes a camera reached over Ethernet. ipAddress holds the first octet
// in bits 31-24; macAddress points to 6 bytes; sshSupport is 0 or 1. The
// caller releases the object.
VcStatus CreateCameraObjectInfoEthernetConnection(
    IVcCameraObjectInfo** info, VcCameraDeviceModelList model,
    std::uint32_t ipAddress, std::uint8_t* macAddress,
    std::uint8_t sshSupport);

// The camera's SSH host-key fingerprint. fingerprint must hold 512 bytes;
// *fingerprintSize receives the length written.
VcStatus GetFingerprint(IVcCameraObjectInfo* info, char* fingerprint,
                        std::uint32_t* fingerprintSize);

// Asks for a connection. 0 means the request was accepted; the outcome comes
// later through callback->OnConnected, OnError or OnDisconnected. *deviceHandle
// receives the handle that names the camera in every later call. userId,
// userPassword and fingerprint may be null.
VcStatus Connect(IVcCameraObjectInfo* info, IDeviceCallback* callback,
                 std::int64_t* deviceHandle,
                 VcSdkControlMode mode = VcSdkControlMode_Remote,
                 VcReconnectingSet reconnect = VcReconnecting_ON,
                 const char* userId = nullptr,
                 const char* userPassword = nullptr,
                 const char* fingerprint = nullptr,
                 std::uint32_t fingerprintSize = 0,
                 std::uint32_t reserved = 0);

// Ends the connection; no callback is called after ReleaseDevice returns.
VcStatus Disconnect(std::int64_t deviceHandle);
VcStatus ReleaseDevice(std::int64_t deviceHandle);

// Properties.
VcStatus SetDeviceProperty(std::int64_t deviceHandle,
                           VcDeviceProperty* property);
// Reads the properties named by codes. *properties receives an array of
// *numOfProperties entries (only the codes the camera has), freed with
// ReleaseDeviceProperties.
VcStatus GetSelectDeviceProperties(std::int64_t deviceHandle,
                                   std::uint32_t numOfCodes,
                                   std::uint32_t* codes,
                                   VcDeviceProperty** properties,
                                   std::int32_t* numOfProperties);
VcStatus ReleaseDeviceProperties(std::int64_t deviceHandle,
                                 VcDeviceProperty* properties);

// Where downloaded pictures go on this computer: a folder and a file-name
// prefix. With VcSaveInfo_AutoNumber no existing file is overwritten.
VcStatus SetSaveInfo(std::int64_t deviceHandle, char* path, char* prefix,
                     std::int32_t saveNumber);

// Commands (VcCommandId with a VcCommandParam).
VcStatus SendCommand(std::int64_t deviceHandle, std::uint32_t commandId,
                     std::uint32_t commandParam);

// Pan/tilt head. setting may be null for control types that take none.
VcStatus ControlPTZF(std::int64_t deviceHandle, std::uint32_t controlType,
                     VcPTZFSetting* setting);
VcStatus PresetPTZFSet(std::int64_t deviceHandle, std::uint16_t presetNumber,
                       std::uint8_t includePanTilt, std::uint8_t includeZoomFocus);
VcStatus PresetPTZFClear(std::int64_t deviceHandle, std::uint16_t presetNumber);
VcStatus ExecuteControlCodeValue(std::int64_t deviceHandle,
                                 std::uint32_t controlCode,
                                 std::uint64_t value);

// Live view: GetLiveViewImageInfo tells the buffer size the next picture
// needs; GetLiveViewImage fills a block given that buffer.
VcStatus GetLiveViewImageInfo(std::int64_t deviceHandle, VcImageInfo* info);
VcStatus GetLiveViewImage(std::int64_t deviceHandle, VcImageDataBlock* block);

}  // namespace VCSDK
