// The fake SDK's entry points: what each VCSDK:: call records and answers.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "FakeObjects.h"
#include "FakeSdk.h"

namespace fake {

namespace {

std::optional<std::string> text(const char* s) {
  return s ? std::optional<std::string>(s) : std::nullopt;
}

}  // namespace

bool FakeSdk::init(std::uint32_t logType) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "Init";
  c.ints = {logType};
  c.result = initResult_ ? 1 : 0;
  record(std::move(c));
  return initResult_;
}

bool FakeSdk::release() {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "Release";
  c.result = 1;
  record(std::move(c));
  return true;
}

std::uint32_t FakeSdk::version() {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "GetSDKVersion";
  c.result = version_;
  record(std::move(c));
  return version_;
}

VCSDK::VcStatus FakeSdk::enumCameraObjects(VCSDK::IVcEnumCameraObjectInfo** list,
                                           std::uint8_t time) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "EnumCameraObjects";
  c.ints = {time};
  c.result = list ? nextResult(c.fn) : VCSDK::VcError_InvalidParameter;
  VCSDK::VcStatus result = c.result;
  record(std::move(c));
  if (result != 0) return result;
  if (enumNullList_) {
    *list = nullptr;
    return 0;
  }
  auto l = std::make_unique<ListObject>();
  l->owner = this;
  l->id = static_cast<int>(lists_.size()) + 1;
  for (const auto& cam : cameras_) {
    if (cam.null) {
      l->entries.push_back(nullptr);
      continue;
    }
    auto info = std::make_unique<InfoObject>();
    info->owner = this;
    info->id = static_cast<int>(infos_.size()) + 1;
    info->listId = l->id;
    info->entry = cam;
    l->entries.push_back(info.get());
    infos_.push_back(std::move(info));
  }
  *list = l.get();
  lists_.push_back(std::move(l));
  ++life_.listsCreated;
  return 0;
}

VCSDK::VcStatus FakeSdk::createInfo(VCSDK::IVcCameraObjectInfo** info,
                                    VCSDK::VcCameraDeviceModelList model, std::uint32_t ip,
                                    std::uint8_t* mac, std::uint8_t ssh) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "CreateCameraObjectInfoEthernetConnection";
  c.ints = {model, ip, ssh};
  if (mac) c.bytes.assign(mac, mac + 6);
  c.result = (info && mac) ? nextResult(c.fn) : VCSDK::VcError_InvalidParameter;
  VCSDK::VcStatus result = c.result;
  record(std::move(c));
  if (result != 0) return result;
  if (createInfoNull_) {
    *info = nullptr;
    return 0;
  }
  auto object = std::make_unique<InfoObject>();
  object->owner = this;
  object->id = static_cast<int>(infos_.size()) + 1;
  char ipText[16];
  std::snprintf(ipText, sizeof ipText, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF,
                (ip >> 8) & 0xFF, ip & 0xFF);
  char macText[18];
  std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  object->entry = camera("model-" + std::to_string(model), "Ethernet", ipText, macText);
  *info = object.get();
  infos_.push_back(std::move(object));
  ++life_.infosCreated;
  return 0;
}

VCSDK::VcStatus FakeSdk::getFingerprint(VCSDK::IVcCameraObjectInfo* info, char* fingerprint,
                                        std::uint32_t* size) {
  std::lock_guard<std::mutex> lock(mu_);
  int id = 0;
  for (const auto& i : infos_) {
    if (i.get() == info) id = i->id;
  }
  Call c;
  c.fn = "GetFingerprint";
  bool zeroed =
      fingerprint && std::all_of(fingerprint, fingerprint + 512, [](char ch) { return ch == 0; });
  c.ints = {id, zeroed ? 1 : 0};
  c.result = (id != 0 && fingerprint && size) ? nextResult(c.fn) : VCSDK::VcError_InvalidParameter;
  VCSDK::VcStatus result = c.result;
  record(std::move(c));
  if (result != 0) return result;
  std::memcpy(fingerprint, fingerprint_.data(), fingerprint_.size());
  *size = static_cast<std::uint32_t>(fingerprint_.size());
  return 0;
}

VCSDK::VcStatus FakeSdk::connect(VCSDK::IVcCameraObjectInfo* info, VCSDK::IDeviceCallback* callback,
                                 std::int64_t* handle, std::uint32_t mode, std::uint32_t reconnect,
                                 const char* user, const char* password, const char* fingerprint,
                                 std::uint32_t fingerprintSize, std::uint32_t reserved) {
  std::lock_guard<std::mutex> lock(mu_);
  int id = 0;
  for (const auto& i : infos_) {
    if (i.get() == info) id = i->id;
  }
  Call c;
  c.fn = "Connect";
  c.ints = {id, mode, reconnect, fingerprintSize, reserved, callback ? 1 : 0};
  c.texts = {text(user), text(password),
             fingerprint ? std::optional<std::string>(std::string(fingerprint, fingerprintSize))
                         : std::nullopt};
  c.result = (id != 0 && handle) ? nextResult(c.fn) : VCSDK::VcError_InvalidParameter;
  if (c.result != 0) {
    VCSDK::VcStatus result = c.result;
    record(std::move(c));
    return result;
  }
  std::int64_t h = nextHandle_++;
  *handle = h;
  c.handle = h;
  lastHandle_ = h;
  callbacks_[h] = callback;
  record(std::move(c));
  Event event = connectEvent_;
  if (!connectQueue_.empty()) {
    event = connectQueue_.front();
    connectQueue_.pop_front();
  }
  if (callback) enqueue(h, event);
  return 0;
}

VCSDK::VcStatus FakeSdk::disconnect(std::int64_t handle) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "Disconnect";
  c.handle = handle;
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::releaseDevice(std::int64_t handle) {
  std::unique_lock<std::mutex> lock(mu_);
  Call c;
  c.fn = "ReleaseDevice";
  c.handle = handle;
  VCSDK::VcStatus result = checked(std::move(c));
  if (!knownHandle(handle)) return result;
  // The callback object may die right after this returns: forget its pending
  // events and let a running one finish first (unless we are that one).
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [&](const Pending& p) { return p.handle == handle; }),
                 pending_.end());
  if (std::this_thread::get_id() != worker_.get_id()) {
    cv_.wait(lock, [&] { return !busy_ || runningHandle_ != handle; });
  }
  callbacks_.erase(handle);
  for (auto it = lastStep_.begin(); it != lastStep_.end();) {
    it = it->first.first == handle ? lastStep_.erase(it) : std::next(it);
  }
  cv_.notify_all();
  return result;
}

VCSDK::VcStatus FakeSdk::setDeviceProperty(std::int64_t handle, VCSDK::VcDeviceProperty* property) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "SetDeviceProperty";
  c.handle = handle;
  if (property) {
    c.ints = {property->GetCode(), property->GetValueType(),
              static_cast<std::int64_t>(property->GetCurrentValue())};
  }
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::getSelectDeviceProperties(std::int64_t handle, std::uint32_t numOfCodes,
                                                   std::uint32_t* codes,
                                                   VCSDK::VcDeviceProperty** properties,
                                                   std::int32_t* numOfProperties) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "GetSelectDeviceProperties";
  c.handle = handle;
  c.ints = {numOfCodes};
  if (codes) c.codes.assign(codes, codes + numOfCodes);
  VCSDK::VcStatus result = checked(std::move(c));
  if (result != 0) return result;
  if (!properties || !numOfProperties) return VCSDK::VcError_InvalidParameter;
  if (propertiesNullArray_) {
    *properties = nullptr;
    *numOfProperties = 0;
    return 0;
  }
  Array a;
  a.id = static_cast<int>(arrays_.size()) + 1;
  a.data.reset(new VCSDK::VcDeviceProperty[std::max<std::size_t>(properties_.size(), 1)]);
  for (std::size_t i = 0; i < properties_.size(); ++i) {
    a.data[i].SetCode(properties_[i].first);
    a.data[i].SetValueType(VCSDK::VcDataType_UInt64);
    a.data[i].SetCurrentValue(properties_[i].second);
  }
  *properties = a.data.get();
  *numOfProperties = static_cast<std::int32_t>(properties_.size());
  arrays_.push_back(std::move(a));
  ++life_.arraysCreated;
  return 0;
}

VCSDK::VcStatus FakeSdk::releaseDeviceProperties(std::int64_t handle,
                                                 VCSDK::VcDeviceProperty* properties) {
  std::lock_guard<std::mutex> lock(mu_);
  Array* found = nullptr;
  for (auto& a : arrays_) {
    if (a.data.get() == properties) found = &a;
  }
  Call c;
  c.fn = "ReleaseDeviceProperties";
  c.handle = handle;
  c.ints = {found ? found->id : 0};
  VCSDK::VcStatus result = checked(std::move(c));
  if (!found || found->released) {
    ++life_.badArrayReleases;
    return result != 0 ? result : VCSDK::VcError_InvalidParameter;
  }
  found->released = true;
  ++life_.arraysReleased;
  return result;
}

VCSDK::VcStatus FakeSdk::setSaveInfo(std::int64_t handle, char* path, char* prefix,
                                     std::int32_t saveNumber) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "SetSaveInfo";
  c.handle = handle;
  c.ints = {saveNumber};
  c.texts = {text(path), text(prefix)};
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::sendCommand(std::int64_t handle, std::uint32_t id, std::uint32_t param) {
  std::unique_lock<std::mutex> lock(mu_);
  const bool shutter = id == VCSDK::VcCommand_Release;
  if (shutter && param == VCSDK::VcCommandParam_Up) {
    // The press's event lands before the button comes up, however slow the
    // worker thread is, so a test can rely on "delivered within the press".
    if (pressSeq_ != 0 && std::this_thread::get_id() != worker_.get_id()) {
      cv_.wait(lock, [&] {
        return (!busy_ || runningSeq_ != pressSeq_) &&
               std::none_of(pending_.begin(), pending_.end(),
                            [&](const Pending& p) { return p.seq == pressSeq_; });
      });
    }
    pressSeq_ = 0;
  }
  Call c;
  c.fn = "SendCommand";
  c.handle = handle;
  c.ints = {id, param};
  VCSDK::VcStatus result = checked(std::move(c));
  if (result == 0 && shutter && param == VCSDK::VcCommandParam_Down) {
    const std::uint64_t before = seq_;
    enqueue(handle, pressEvent_);
    if (seq_ != before) pressSeq_ = seq_;
  }
  if (result == 0 && shutter && param == VCSDK::VcCommandParam_Up) {
    Event event = releaseEvent_;
    if (!releaseQueue_.empty()) {
      event = releaseQueue_.front();
      releaseQueue_.pop_front();
    }
    enqueue(handle, event);
  }
  return result;
}

VCSDK::VcStatus FakeSdk::controlPtzf(std::int64_t handle, std::uint32_t type,
                                     VCSDK::VcPTZFSetting* setting) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "ControlPTZF";
  c.handle = handle;
  c.ints = {type};
  if (setting) c.ptzf = *setting;
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::presetSet(std::int64_t handle, std::uint16_t number, std::uint8_t panTilt,
                                   std::uint8_t zoomFocus) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "PresetPTZFSet";
  c.handle = handle;
  c.ints = {number, panTilt, zoomFocus};
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::presetClear(std::int64_t handle, std::uint16_t number) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "PresetPTZFClear";
  c.handle = handle;
  c.ints = {number};
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::executeControlCodeValue(std::int64_t handle, std::uint32_t code,
                                                 std::uint64_t value) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "ExecuteControlCodeValue";
  c.handle = handle;
  c.ints = {code, static_cast<std::int64_t>(value)};
  return checked(std::move(c));
}

VCSDK::VcStatus FakeSdk::liveViewInfo(std::int64_t handle, VCSDK::VcImageInfo* info) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "GetLiveViewImageInfo";
  c.handle = handle;
  if (!knownHandle(handle)) return checked(std::move(c));
  // The step decides both this answer and the picture of the next
  // GetLiveViewImage on the same handle.
  LiveViewStep step = liveView_;
  if (!liveViewQueue_.empty()) {
    step = std::move(liveViewQueue_.front());
    liveViewQueue_.pop_front();
  }
  lastStep_[{handle, std::this_thread::get_id()}] = step;
  VCSDK::VcStatus result = checked(std::move(c));
  if (result == 0 && step.infoCode != 0) {
    result = step.infoCode;
    calls_.back().result = result;
  }
  if (result != 0) return result;
  if (!info) return VCSDK::VcError_InvalidParameter;
  std::uint32_t size = step.bufferSize
                           ? *step.bufferSize
                           : step.offset + static_cast<std::uint32_t>(step.picture.size()) + 16;
  info->SetBufferSize(size);
  return 0;
}

VCSDK::VcStatus FakeSdk::liveViewImage(std::int64_t handle, VCSDK::VcImageDataBlock* block) {
  std::lock_guard<std::mutex> lock(mu_);
  Call c;
  c.fn = "GetLiveViewImage";
  c.handle = handle;
  c.ints = {block ? block->GetSize() : 0};
  VCSDK::VcStatus result = checked(std::move(c));
  auto stepIt = lastStep_.find({handle, std::this_thread::get_id()});
  LiveViewStep step = stepIt != lastStep_.end() ? stepIt->second : liveView_;
  if (result == 0 && step.imageCode != 0) result = step.imageCode;
  if (result == 0) {
    if (!block || !block->GetData()) {
      result = VCSDK::VcError_InvalidParameter;
    } else if (std::uint64_t(step.offset) + step.picture.size() > block->GetSize()) {
      result = VCSDK::VcError_LiveViewBufferTooSmall;
    }
  }
  calls_.back().result = result;
  if (result != 0) return result;
  std::uint8_t* data = block->GetData();
  std::memset(data, 0xAA, step.offset);
  if (!step.picture.empty()) {
    std::memcpy(data + step.offset, step.picture.data(), step.picture.size());
  }
  block->SetImage(data + step.offset, static_cast<std::uint32_t>(step.picture.size()), ++frameNo_);
  return 0;
}

}  // namespace fake

// ---- the contract's free functions ----

namespace VCSDK {

bool Init(std::uint32_t logType) { return fake::sdk().init(logType); }
bool Release() { return fake::sdk().release(); }
std::uint32_t GetSDKVersion() { return fake::sdk().version(); }

VcStatus EnumCameraObjects(IVcEnumCameraObjectInfo** list, std::uint8_t timeInSec) {
  return fake::sdk().enumCameraObjects(list, timeInSec);
}

VcStatus CreateCameraObjectInfoEthernetConnection(IVcCameraObjectInfo** info,
                                                  VcCameraDeviceModelList model,
                                                  std::uint32_t ipAddress, std::uint8_t* macAddress,
                                                  std::uint8_t sshSupport) {
  return fake::sdk().createInfo(info, model, ipAddress, macAddress, sshSupport);
}

VcStatus GetFingerprint(IVcCameraObjectInfo* info, char* fingerprint,
                        std::uint32_t* fingerprintSize) {
  return fake::sdk().getFingerprint(info, fingerprint, fingerprintSize);
}

VcStatus Connect(IVcCameraObjectInfo* info, IDeviceCallback* callback, std::int64_t* deviceHandle,
                 VcSdkControlMode mode, VcReconnectingSet reconnect, const char* userId,
                 const char* userPassword, const char* fingerprint, std::uint32_t fingerprintSize,
                 std::uint32_t reserved) {
  return fake::sdk().connect(info, callback, deviceHandle, mode, reconnect, userId, userPassword,
                             fingerprint, fingerprintSize, reserved);
}

VcStatus Disconnect(std::int64_t deviceHandle) { return fake::sdk().disconnect(deviceHandle); }
VcStatus ReleaseDevice(std::int64_t deviceHandle) {
  return fake::sdk().releaseDevice(deviceHandle);
}

VcStatus SetDeviceProperty(std::int64_t deviceHandle, VcDeviceProperty* property) {
  return fake::sdk().setDeviceProperty(deviceHandle, property);
}

VcStatus GetSelectDeviceProperties(std::int64_t deviceHandle, std::uint32_t numOfCodes,
                                   std::uint32_t* codes, VcDeviceProperty** properties,
                                   std::int32_t* numOfProperties) {
  return fake::sdk().getSelectDeviceProperties(deviceHandle, numOfCodes, codes, properties,
                                               numOfProperties);
}

VcStatus ReleaseDeviceProperties(std::int64_t deviceHandle, VcDeviceProperty* properties) {
  return fake::sdk().releaseDeviceProperties(deviceHandle, properties);
}

VcStatus SetSaveInfo(std::int64_t deviceHandle, char* path, char* prefix, std::int32_t saveNumber) {
  return fake::sdk().setSaveInfo(deviceHandle, path, prefix, saveNumber);
}

VcStatus SendCommand(std::int64_t deviceHandle, std::uint32_t commandId,
                     std::uint32_t commandParam) {
  return fake::sdk().sendCommand(deviceHandle, commandId, commandParam);
}

VcStatus ControlPTZF(std::int64_t deviceHandle, std::uint32_t controlType, VcPTZFSetting* setting) {
  return fake::sdk().controlPtzf(deviceHandle, controlType, setting);
}

VcStatus PresetPTZFSet(std::int64_t deviceHandle, std::uint16_t presetNumber,
                       std::uint8_t includePanTilt, std::uint8_t includeZoomFocus) {
  return fake::sdk().presetSet(deviceHandle, presetNumber, includePanTilt, includeZoomFocus);
}

VcStatus PresetPTZFClear(std::int64_t deviceHandle, std::uint16_t presetNumber) {
  return fake::sdk().presetClear(deviceHandle, presetNumber);
}

VcStatus ExecuteControlCodeValue(std::int64_t deviceHandle, std::uint32_t controlCode,
                                 std::uint64_t value) {
  return fake::sdk().executeControlCodeValue(deviceHandle, controlCode, value);
}

VcStatus GetLiveViewImageInfo(std::int64_t deviceHandle, VcImageInfo* info) {
  return fake::sdk().liveViewInfo(deviceHandle, info);
}

VcStatus GetLiveViewImage(std::int64_t deviceHandle, VcImageDataBlock* block) {
  return fake::sdk().liveViewImage(deviceHandle, block);
}

}  // namespace VCSDK
