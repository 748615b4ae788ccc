// Plain codes and value types of the camera SDK: status codes, data types,
// property codes, commands, model codes.
#pragma once

#include <cstdint>

namespace VCSDK {

// Every SDK operation but Init and GetSDKVersion returns one of these.
// 0 is success; anything else is a failure, printed by callers as 0x%08X.
using VcStatus = std::uint32_t;

enum VcErrorCode : VcStatus {
  VcError_None = 0x00000000,

  // General
  VcError_Generic = 0x00008000,
  VcError_NotInitialized = 0x00008001,
  VcError_InvalidHandle = 0x00008002,
  VcError_InvalidParameter = 0x00008003,
  VcError_OutOfMemory = 0x00008004,
  VcError_NotSupported = 0x00008005,
  VcError_Busy = 0x00008006,

  // Addressing and discovery
  VcError_AddressNotAllowed = 0x00008010,  // outside the reachable range
  VcError_DiscoveryFailed = 0x00008011,

  // Connection (also delivered through OnError / OnDisconnected)
  VcError_ConnectNoCamera = 0x00008101,  // nothing answers at that address
  VcError_ConnectMacMismatch = 0x00008102,
  VcError_ConnectAuthRequired = 0x00008103,  // camera wants SSH credentials
  VcError_ConnectAuthFailed = 0x00008104,    // wrong user or password
  VcError_ConnectFingerprintMismatch = 0x00008105,
  VcError_ConnectRefused = 0x00008106,  // camera declined the link
  VcError_ConnectionLost = 0x00008107,  // camera went away
  VcError_NotConnected = 0x00008108,
  VcError_ConnectSshNotOffered = 0x00008109,  // SSH asked, camera has none
  VcError_FingerprintUnavailable = 0x0000810A,

  // Properties and settings
  VcError_PropertyInvalidValue = 0x00008201,
  VcError_PropertyUnsupported = 0x00008202,
  VcError_SaveInfoRefused = 0x00008203,
  VcError_PropertyRefused = 0x00008204,

  // Capture and transfer
  VcError_CaptureFailed = 0x00008301,
  VcError_DownloadFailed = 0x00008302,

  // Live view
  VcError_LiveViewUnavailable = 0x00008401,
  VcError_LiveViewBufferTooSmall = 0x00008402,
  VcError_LiveViewImageFailed = 0x00008403,

  // Pan/tilt head
  VcError_PtzUnsupported = 0x00008501,  // body has no head
  VcError_PtzRefused = 0x00008502,
  VcError_PresetNotFound = 0x00008503,
};

// Type tag of a device property value (SetValueType).
enum VcDataType : std::uint32_t {
  VcDataType_Undefined = 0,
  VcDataType_UInt8 = 1,
  VcDataType_UInt16 = 2,
  VcDataType_UInt32 = 3,
  VcDataType_UInt64 = 4,
  VcDataType_Int8 = 5,
  VcDataType_Int16 = 6,
  VcDataType_Int32 = 7,
  VcDataType_Int64 = 8,
};

// Device property codes.
enum VcDevicePropertyCode : std::uint32_t {
  VcDeviceProperty_FNumber = 0x0100,  // f-number x 100
  VcDeviceProperty_ExposureBiasCompensation = 0x0101,  // EV x 1000, int16 pattern
  VcDeviceProperty_ShutterSpeed = 0x0103,  // numerator << 16 | denominator
  VcDeviceProperty_IsoSensitivity = 0x0104,  // low 24 bits, 0xFFFFFF = auto
  VcDeviceProperty_ExposureProgramMode = 0x0105,
  VcDeviceProperty_WhiteBalance = 0x0108,
  VcDeviceProperty_FocusMode = 0x0109,
  VcDeviceProperty_ColorTemperature = 0x0115,  // kelvin
  VcDeviceProperty_StillImageStoreDestination = 0x0119,
  VcDeviceProperty_PriorityKeySettings = 0x011A,
  VcDeviceProperty_LiveViewStatus = 0x01C5,
  VcDeviceProperty_BatteryRemain = 0x0702,  // percent
};

// Values of VcDeviceProperty_StillImageStoreDestination.
enum VcStillImageStoreDestination : std::uint16_t {
  VcStillImageStore_Camera = 0,
  VcStillImageStore_HostPC = 1,
  VcStillImageStore_HostPCAndCamera = 2,
};

// Values of VcDeviceProperty_PriorityKeySettings.
enum VcPriorityKeySettings : std::uint16_t {
  VcPriorityKey_CameraPosition = 1,
  VcPriorityKey_PCRemote = 2,
};

// Sentinel values of VcDeviceProperty_IsoSensitivity and ShutterSpeed.
constexpr std::uint32_t VcIsoAuto = 0x00FFFFFF;
constexpr std::uint32_t VcShutterBulb = 0x00000000;

// SendCommand codes and parameters.
enum VcCommandId : std::uint32_t {
  VcCommand_Release = 7,  // the shutter button
};
enum VcCommandParam : std::uint32_t {
  VcCommandParam_Up = 0,
  VcCommandParam_Down = 1,
};

// ControlPTZF control types.
enum VcPTZFControlType : std::uint32_t {
  VcPTZFControl_Absolute = 1,
  VcPTZFControl_Relative = 2,
  VcPTZFControl_Continuous = 3,
  VcPTZFControl_Home = 4,
  VcPTZFControl_Reset = 5,
  VcPTZFControl_Stop = 6,
};

// ExecuteControlCodeValue control codes.
enum VcControlCode : std::uint32_t {
  VcControlCode_PresetRecall = 0xF015,  // value: preset number
};

// Camera model codes given to CreateCameraObjectInfoEthernetConnection.
enum VcCameraDeviceModelList : std::uint32_t {
  VcCameraModel_SB_X1 = 4,
  VcCameraModel_SB_A4 = 7,
  VcCameraModel_CB_F3 = 8,
  VcCameraModel_CB_F6 = 10,
  VcCameraModel_SB_R5 = 11,
  VcCameraModel_SB_S3 = 18,
  VcCameraModel_PZ_M7 = 24,
  VcCameraModel_CB_P7 = 25,
  VcCameraModel_SB_A5 = 28,
};

// Connect arguments.
enum VcSdkControlMode : std::uint32_t {
  VcSdkControlMode_Remote = 0,
  VcSdkControlMode_ContentsTransfer = 1,
};
enum VcReconnectingSet : std::uint32_t {
  VcReconnecting_OFF = 0,
  VcReconnecting_ON = 1,
};

// SetSaveInfo last argument.
enum VcSaveInfoOption : std::int32_t {
  VcSaveInfo_Overwrite = 0,
  VcSaveInfo_AutoNumber = 1,  // never overwrite: number after the highest file
};

// PresetPTZFSet flags.
constexpr std::uint8_t VcPresetInclude = 1;

// Version of the connection protocol reported by OnConnected.
enum DeviceConnectionVersion : std::uint32_t {
  VcDeviceConnectionVersion_Unknown = 0,
  VcDeviceConnectionVersion_V1 = 1,
  VcDeviceConnectionVersion_V2 = 2,
};

// File types reported with OnCompleteDownload.
enum VcDownloadFileType : std::uint32_t {
  VcDownloadFile_Unknown = 0,
  VcDownloadFile_Jpeg = 1,
  VcDownloadFile_Raw = 2,
};

// Result data of an asynchronous operation (OnCompleteOperation).
struct VcOperationResultData {
  std::uint32_t operation = 0;
  std::uint32_t result = 0;
};

}  // namespace VCSDK
