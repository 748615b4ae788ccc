// The fake SDK's camera-info and discovery-list objects (private to the fake).
#pragma once

#include "FakeSdk.h"

namespace fake {

// The info and list objects only forward to the fake, so every question is
// answered (and every release counted) under the fake's one mutex.
struct FakeSdk::InfoObject final : VCSDK::IVcCameraObjectInfo {
  FakeSdk* owner = nullptr;
  int id = 0;
  int listId = 0;  // the list that owns it; 0: the caller owns it
  int releases = 0;
  CameraEntry entry;

  const char* GetModel() const override { return owner->infoText(id, 0); }
  const char* GetConnectionTypeName() const override { return owner->infoText(id, 1); }
  const char* GetIpAddressChar() const override { return owner->infoText(id, 2); }
  const char* GetMacAddressChar() const override { return owner->infoText(id, 3); }
  void Release() override { owner->releaseInfo(id); }
};

struct FakeSdk::ListObject final : VCSDK::IVcEnumCameraObjectInfo {
  FakeSdk* owner = nullptr;
  int id = 0;
  int releases = 0;
  std::vector<VCSDK::IVcCameraObjectInfo*> entries;  // null entries stay null

  std::uint32_t GetCount() const override { return owner->listCount(id); }
  VCSDK::IVcCameraObjectInfo* GetCameraObjectInfo(std::uint32_t index) const override {
    return owner->listEntry(id, index);
  }
  void Release() override { owner->releaseList(id); }
};

}  // namespace fake
