// The SDK's entry points: argument checks, handle bookkeeping, and one
// request to the camera per call.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "CameraInfo.h"
#include "Discovery.h"
#include "LiveView.h"
#include "QuietSocket.h"
#include "Session.h"
#include "Wire.h"
#include "vcsdk/VcSDK.h"

namespace VCSDK {

using nlohmann::json;
using standin::Session;

namespace {

std::mutex g_mutex;
bool g_initialized = false;
std::int64_t g_nextHandle = 0x1001;
std::map<std::int64_t, std::shared_ptr<Session>> g_sessions;

bool initialized() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_initialized;
}

// The session of a handle, or the code that explains why there is none.
VcStatus findSession(std::int64_t handle, std::shared_ptr<Session>& out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_initialized) return VcError_NotInitialized;
  auto it = g_sessions.find(handle);
  if (it == g_sessions.end()) return VcError_InvalidHandle;
  out = it->second;
  return VcError_None;
}

// The session of a handle whose camera is connected and ready.
VcStatus readySession(std::int64_t handle, std::shared_ptr<Session>& out) {
  VcStatus status = findSession(handle, out);
  if (status != VcError_None) return status;
  return out->state() == Session::Ready ? VcError_None : VcError_NotConnected;
}

// fn's status, run on the handle's ready session; the session's own status
// when there is none.
template <typename Fn>
VcStatus withReadySession(std::int64_t handle, Fn&& fn) {
  std::shared_ptr<Session> s;
  VcStatus status = readySession(handle, s);
  return status != VcError_None ? status : fn(*s);
}

VcStatus sessionCall(std::int64_t handle, const char* path, json body) {
  return withReadySession(handle, [&](Session& s) {
    body["session"] = s.id();
    return s.link().call(path, body, VcError_ConnectionLost);
  });
}

}  // namespace

bool Init(std::uint32_t) {
  standin::quietProcess();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_initialized = true;
  return true;
}

bool Release() {
  std::map<std::int64_t, std::shared_ptr<Session>> sessions;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_initialized) return false;
    g_initialized = false;
    sessions.swap(g_sessions);
  }
  for (auto& [handle, s] : sessions) s->stop();
  return true;
}

std::uint32_t GetSDKVersion() { return 0x01000000; }

VcStatus EnumCameraObjects(IVcEnumCameraObjectInfo** list, std::uint8_t timeInSec) {
  if (!initialized()) return VcError_NotInitialized;
  if (!list) return VcError_InvalidParameter;
  *list = nullptr;
  // A limit of 0 still gives loopback time to answer.
  int timeoutMs = timeInSec ? timeInSec * 1000 : 250;
  *list = new standin::CameraList(standin::discoverCameras(timeoutMs));
  return VcError_None;
}

VcStatus CreateCameraObjectInfoEthernetConnection(IVcCameraObjectInfo** info,
                                                  VcCameraDeviceModelList model,
                                                  std::uint32_t ipAddress, std::uint8_t* macAddress,
                                                  std::uint8_t sshSupport) {
  if (!info || !macAddress || sshSupport > 1) return VcError_InvalidParameter;
  *info = nullptr;
  // Nothing outside loopback is ever addressed.
  if ((ipAddress >> 24) != 127) return VcError_AddressNotAllowed;
  char mac[18];
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", macAddress[0], macAddress[1],
                macAddress[2], macAddress[3], macAddress[4], macAddress[5]);
  const char* name = standin::modelName(model);
  *info = new standin::CameraInfo(name ? name : "", standin::ipText(ipAddress), mac,
                                  sshSupport == 1, false);
  return VcError_None;
}

VcStatus GetFingerprint(IVcCameraObjectInfo* info, char* fingerprint,
                        std::uint32_t* fingerprintSize) {
  if (!initialized()) return VcError_NotInitialized;
  if (!info || !fingerprint || !fingerprintSize) return VcError_InvalidParameter;
  // A camera object made for a plain (non-SSH) link has no host key to check:
  // an empty fingerprint, without asking the camera.
  // (A camera object the caller made itself is not ours: ask the camera.)
  const auto* own = dynamic_cast<const standin::CameraInfo*>(info);
  if (own && !own->ssh()) {
    fingerprint[0] = 0;
    *fingerprintSize = 0;
    return VcError_None;
  }
  const char* ipText = info->GetIpAddressChar();
  std::string ip = ipText ? ipText : "";
  if (!standin::isLoopbackText(ip)) return VcError_AddressNotAllowed;
  standin::Link link(ip);
  standin::Reply r = link.get(vcwire::kFingerprint, 2000);
  if (!r.reached) return VcError_ConnectNoCamera;
  json j = json::parse(r.body, nullptr, false);
  if (!j.is_object()) return VcError_Generic;
  VcStatus status = j.value("error", VcStatus(VcError_Generic));
  if (status != VcError_None) return status;
  std::string fp = j.value("fingerprint", std::string());
  std::size_t n = std::min<std::size_t>(fp.size(), 511);
  std::memcpy(fingerprint, fp.data(), n);
  fingerprint[n] = 0;
  *fingerprintSize = static_cast<std::uint32_t>(n);
  return VcError_None;
}

VcStatus Connect(IVcCameraObjectInfo* info, IDeviceCallback* callback, std::int64_t* deviceHandle,
                 VcSdkControlMode, VcReconnectingSet, const char* userId, const char* userPassword,
                 const char* fingerprint, std::uint32_t fingerprintSize, std::uint32_t) {
  if (!info || !callback || !deviceHandle) return VcError_InvalidParameter;
  standin::ConnectRequest req;
  const char* ip = info->GetIpAddressChar();
  const char* mac = info->GetMacAddressChar();
  req.ip = ip ? ip : "";
  req.mac = mac ? mac : "";
  if (!standin::isLoopbackText(req.ip)) return VcError_AddressNotAllowed;
  // Objects of ours carry the SSH flag; any other description asks for none.
  if (auto* ours = dynamic_cast<standin::CameraInfo*>(info)) req.ssh = ours->ssh();
  if (userId) req.user = userId;
  if (userPassword) req.pass = userPassword;
  if (fingerprint && fingerprintSize)
    req.fingerprint.assign(fingerprint,
                           strnlen(fingerprint, std::min<std::uint32_t>(fingerprintSize, 512)));
  std::shared_ptr<Session> session;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_initialized) return VcError_NotInitialized;
    std::int64_t handle = g_nextHandle++;
    session = std::make_shared<Session>(handle, std::move(req), callback);
    g_sessions[handle] = session;
    *deviceHandle = handle;
  }
  session->start();
  return VcError_None;
}

VcStatus Disconnect(std::int64_t deviceHandle) {
  std::shared_ptr<Session> s;
  VcStatus status = findSession(deviceHandle, s);
  if (status != VcError_None) return status;
  s->stop();
  return VcError_None;
}

VcStatus ReleaseDevice(std::int64_t deviceHandle) {
  std::shared_ptr<Session> s;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_initialized) return VcError_NotInitialized;
    auto it = g_sessions.find(deviceHandle);
    if (it == g_sessions.end()) return VcError_InvalidHandle;
    s = it->second;
    g_sessions.erase(it);
  }
  s->stop();
  return VcError_None;
}

VcStatus SetDeviceProperty(std::int64_t deviceHandle, VcDeviceProperty* property) {
  if (!property) return VcError_InvalidParameter;
  return sessionCall(deviceHandle, vcwire::kSetProp,
                     json{{"code", property->GetCode()},
                          {"type", property->GetValueType()},
                          {"value", property->GetCurrentValue()}});
}

VcStatus GetSelectDeviceProperties(std::int64_t deviceHandle, std::uint32_t numOfCodes,
                                   std::uint32_t* codes, VcDeviceProperty** properties,
                                   std::int32_t* numOfProperties) {
  if (!properties || !numOfProperties || (numOfCodes && !codes)) return VcError_InvalidParameter;
  *properties = nullptr;
  *numOfProperties = 0;
  std::shared_ptr<Session> s;
  VcStatus status = readySession(deviceHandle, s);
  if (status != VcError_None) return status;
  json body{{"session", s->id()}, {"codes", std::vector<std::uint32_t>(codes, codes + numOfCodes)}};
  json reply;
  status = s->link().call(vcwire::kGetProps, body, VcError_ConnectionLost, &reply);
  if (status != VcError_None) return status;
  const json& list = reply.value("props", json::array());
  auto* array = new VcDeviceProperty[list.size()];
  std::int32_t n = 0;
  for (const json& p : list) {
    if (!p.is_array() || p.size() != 3) continue;
    array[n].SetCode(p[0].get<std::uint32_t>());
    array[n].SetValueType(static_cast<VcDataType>(p[1].get<std::uint32_t>()));
    array[n].SetCurrentValue(p[2].get<std::uint64_t>());
    ++n;
  }
  *properties = array;
  *numOfProperties = n;
  return VcError_None;
}

VcStatus ReleaseDeviceProperties(std::int64_t, VcDeviceProperty* properties) {
  delete[] properties;
  return VcError_None;
}

VcStatus SetSaveInfo(std::int64_t deviceHandle, char* path, char* prefix, std::int32_t) {
  if (!path || !prefix || !*path || !*prefix) return VcError_InvalidParameter;
  std::shared_ptr<Session> s;
  VcStatus status = readySession(deviceHandle, s);
  if (status != VcError_None) return status;
  // Relative folders mean the program's working directory now, not later.
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(path, ec);
  if (ec) return VcError_InvalidParameter;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) return VcError_InvalidParameter;
  status = s->link().call(vcwire::kSaveInfo,
                          json{{"session", s->id()}, {"folder", path}, {"prefix", prefix}},
                          VcError_ConnectionLost);
  if (status != VcError_None) return status;
  s->setSaveInfo(folder.lexically_normal().string(), prefix);
  return VcError_None;
}

VcStatus SendCommand(std::int64_t deviceHandle, std::uint32_t commandId,
                     std::uint32_t commandParam) {
  return sessionCall(deviceHandle, vcwire::kCommand,
                     json{{"id", commandId}, {"param", commandParam}});
}

VcStatus ControlPTZF(std::int64_t deviceHandle, std::uint32_t controlType, VcPTZFSetting* setting) {
  json body{{"op", "control"}, {"type", controlType}};
  if (setting) {
    body["pan"] = {{"enable", setting->pan.enable},
                   {"position", setting->pan.position},
                   {"speed", setting->pan.speed}};
    body["tilt"] = {{"enable", setting->tilt.enable},
                    {"position", setting->tilt.position},
                    {"speed", setting->tilt.speed}};
  }
  return sessionCall(deviceHandle, vcwire::kPtz, body);
}

VcStatus PresetPTZFSet(std::int64_t deviceHandle, std::uint16_t presetNumber,
                       std::uint8_t includePanTilt, std::uint8_t includeZoomFocus) {
  return sessionCall(deviceHandle, vcwire::kPtz,
                     json{{"op", "preset-set"},
                          {"preset", presetNumber},
                          {"pan_tilt", includePanTilt},
                          {"zoom_focus", includeZoomFocus}});
}

VcStatus PresetPTZFClear(std::int64_t deviceHandle, std::uint16_t presetNumber) {
  return sessionCall(deviceHandle, vcwire::kPtz,
                     json{{"op", "preset-clear"}, {"preset", presetNumber}});
}

VcStatus ExecuteControlCodeValue(std::int64_t deviceHandle, std::uint32_t controlCode,
                                 std::uint64_t value) {
  return sessionCall(deviceHandle, vcwire::kPtz,
                     json{{"op", "code"}, {"code", controlCode}, {"value", value}});
}

VcStatus GetLiveViewImageInfo(std::int64_t deviceHandle, VcImageInfo* info) {
  if (!info) return VcError_InvalidParameter;
  return withReadySession(deviceHandle,
                          [info](Session& s) { return standin::liveViewInfo(s, *info); });
}

VcStatus GetLiveViewImage(std::int64_t deviceHandle, VcImageDataBlock* block) {
  if (!block) return VcError_InvalidParameter;
  return withReadySession(deviceHandle,
                          [block](Session& s) { return standin::liveViewImage(s, *block); });
}

}  // namespace VCSDK
