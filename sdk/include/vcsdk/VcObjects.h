// Objects that pass through the SDK's interface: camera descriptions,
// device properties, live-view buffers and pan/tilt settings.
#pragma once

#include <cstdint>

#include "vcsdk/VcTypes.h"

namespace VCSDK {

// One camera as discovery found it, or as the caller described it for an
// Ethernet connection. Texts are zero-terminated and may be null when the
// SDK does not know them.
class IVcCameraObjectInfo {
 public:
  virtual const char* GetModel() const = 0;
  virtual const char* GetConnectionTypeName() const = 0;  // "Ethernet"
  virtual const char* GetIpAddressChar() const = 0;
  virtual const char* GetMacAddressChar() const = 0;
  // Frees an object made by CreateCameraObjectInfoEthernetConnection. An
  // object that came from an enumeration list belongs to the list.
  virtual void Release() = 0;

 protected:
  ~IVcCameraObjectInfo() = default;
};

// The result of EnumCameraObjects. Releasing the list releases every
// camera object in it.
class IVcEnumCameraObjectInfo {
 public:
  virtual std::uint32_t GetCount() const = 0;
  // Null when the index is out of range or the entry could not be read.
  virtual IVcCameraObjectInfo* GetCameraObjectInfo(std::uint32_t index) const = 0;
  virtual void Release() = 0;

 protected:
  ~IVcEnumCameraObjectInfo() = default;
};

// One device property: a code, a type tag and a 64-bit value.
class VcDeviceProperty {
 public:
  void SetCode(std::uint32_t code) { code_ = code; }
  std::uint32_t GetCode() const { return code_; }
  void SetValueType(VcDataType type) { valueType_ = type; }
  VcDataType GetValueType() const { return valueType_; }
  void SetCurrentValue(std::uint64_t value) { currentValue_ = value; }
  std::uint64_t GetCurrentValue() const { return currentValue_; }

 private:
  std::uint32_t code_ = 0;
  VcDataType valueType_ = VcDataType_Undefined;
  std::uint64_t currentValue_ = 0;
};

// Filled by GetLiveViewImageInfo: how large a buffer the next live-view
// picture needs.
class VcImageInfo {
 public:
  std::uint32_t GetBufferSize() const { return bufferSize_; }
  void SetBufferSize(std::uint32_t size) { bufferSize_ = size; }  // SDK side

 private:
  std::uint32_t bufferSize_ = 0;
};

// A caller-owned buffer that GetLiveViewImage fills. The picture may start
// anywhere inside the buffer: read it from GetImageData for GetImageSize
// bytes, never from the start of the buffer.
class VcImageDataBlock {
 public:
  void SetSize(std::uint32_t size) { size_ = size; }
  std::uint32_t GetSize() const { return size_; }
  void SetData(std::uint8_t* data) { data_ = data; }
  std::uint8_t* GetData() const { return data_; }

  std::uint32_t GetImageSize() const { return imageSize_; }
  std::uint8_t* GetImageData() const { return imageData_; }
  std::uint32_t GetFrameNo() const { return frameNo_; }

  // SDK side: where the picture landed inside the buffer.
  void SetImage(std::uint8_t* imageData, std::uint32_t imageSize,
                std::uint32_t frameNo) {
    imageData_ = imageData;
    imageSize_ = imageSize;
    frameNo_ = frameNo;
  }

 private:
  std::uint32_t size_ = 0;
  std::uint8_t* data_ = nullptr;
  std::uint8_t* imageData_ = nullptr;
  std::uint32_t imageSize_ = 0;
  std::uint32_t frameNo_ = 0;
};

// Pan/tilt drive settings for ControlPTZF. Positions and speeds are in the
// head's own units; for a continuous move the sign of the speed gives the
// direction. Every field starts at 0.
struct VcDrivePanSetting {
  std::uint8_t enable;
  std::int32_t position;
  std::int32_t speed;
  VcDrivePanSetting() : enable(0), position(0), speed(0) {}
};

struct VcDriveTiltSetting {
  std::uint8_t enable;
  std::int32_t position;
  std::int32_t speed;
  VcDriveTiltSetting() : enable(0), position(0), speed(0) {}
};

struct VcPTZFSetting {
  VcDrivePanSetting pan;
  VcDriveTiltSetting tilt;
};

}  // namespace VCSDK
