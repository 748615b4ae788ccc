// Camera descriptions and the discovery list handed to the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vcsdk/VcObjects.h"

namespace standin {

// Immutable after construction.
class CameraInfo : public VCSDK::IVcCameraObjectInfo {
 public:
  CameraInfo(std::string model, std::string ip, std::string mac, bool ssh, bool ownedByList);
  const char* GetModel() const override { return model_.empty() ? nullptr : model_.c_str(); }
  const char* GetConnectionTypeName() const override { return "Ethernet"; }
  const char* GetIpAddressChar() const override { return ip_.c_str(); }
  const char* GetMacAddressChar() const override { return mac_.c_str(); }
  void Release() override;

  const std::string& ip() const { return ip_; }
  const std::string& mac() const { return mac_; }
  bool ssh() const { return ssh_; }

  virtual ~CameraInfo() = default;

 private:
  std::string model_, ip_, mac_;
  bool ssh_;
  bool ownedByList_;
};

class CameraList : public VCSDK::IVcEnumCameraObjectInfo {
 public:
  explicit CameraList(std::vector<std::unique_ptr<CameraInfo>> cameras);
  std::uint32_t GetCount() const override;
  VCSDK::IVcCameraObjectInfo* GetCameraObjectInfo(std::uint32_t index) const override;
  void Release() override;
  virtual ~CameraList() = default;

 private:
  std::vector<std::unique_ptr<CameraInfo>> cameras_;
};

const char* modelName(std::uint32_t code);  // null for an unknown code

}  // namespace standin
