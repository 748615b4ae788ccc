// CameraController: opening and closing one camera's connection (by IP and
// MAC address or from discovery) and the wait for the camera's ready report.
#include "camera/CameraController.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "camera/SdkStatus.h"

namespace {

// "a.b.c.d" into one 32-bit address, first number in the top byte. Text after
// the fourth number is ignored, as the scan stops there.
bool parseIp(const std::string& text, std::uint32_t& address) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  address = (a << 24) | (b << 16) | (c << 8) | d;
  return true;
}

// "aa:bb:cc:dd:ee:ff" into six bytes; each group keeps only its low 8 bits.
bool parseMac(const std::string& text, std::uint8_t (&mac)[6]) {
  unsigned v[6] = {0, 0, 0, 0, 0, 0};
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) !=
      6) {
    return false;
  }
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<std::uint8_t>(v[i] & 0xFF);
  return true;
}

const char* textOrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

CameraController::CameraController() = default;

bool CameraController::addressValid(const std::string& ip, const std::string& mac) {
  std::uint32_t address = 0;
  std::uint8_t macBytes[6];
  return parseIp(ip, address) && parseMac(mac, macBytes);
}

CameraController::~CameraController() { disconnect(); }

bool CameraController::connectIp(const std::string& ip, const std::string& mac,
                                 VCSDK::VcCameraDeviceModelList model, bool ssh,
                                 const std::string& user, const std::string& password) {
  std::uint32_t address = 0;
  if (!parseIp(ip, address)) {
    std::printf("[error] IP invalido: %s\n", ip.c_str());
    return false;
  }
  std::uint8_t macBytes[6] = {0, 0, 0, 0, 0, 0};
  if (!parseMac(mac, macBytes)) {
    std::printf("[error] MAC invalido: %s\n", mac.c_str());
    return false;
  }

  // A malformed address above leaves a working connection alone; a real
  // request replaces it. The old link is ended and its outcome forgotten
  // before Connect, because the callback may fire at once on the SDK's thread
  // and waitConnected must see only this request's outcome.
  disconnect();
  callback.resetConnectionState();

  VCSDK::VcStatus status = VCSDK::CreateCameraObjectInfoEthernetConnection(
      &cameraInfo, model, address, macBytes, ssh ? 1 : 0);
  if (!sdkOk(status) || cameraInfo == nullptr) {
    // A success without an object is reported as a failure too, code and all.
    std::printf("[error] CreateCameraObjectInfoEthernetConnection: 0x%08X\n", status);
    // After a refusal the pointer is not ours to release.
    cameraInfo = nullptr;
    return false;
  }
  ownsCameraInfo = true;

  char fingerprint[512];
  std::memset(fingerprint, 0, sizeof fingerprint);
  std::uint32_t fingerprintSize = 0;
  status = VCSDK::GetFingerprint(cameraInfo, fingerprint, &fingerprintSize);
  if (!sdkOk(status)) {
    std::printf("[warn] GetFingerprint: 0x%08X (segue sem fingerprint)\n", status);
    fingerprintSize = 0;
  }
  // Never trust a length longer than the buffer the SDK was given.
  if (fingerprintSize > sizeof fingerprint) fingerprintSize = sizeof fingerprint;

  status = VCSDK::Connect(cameraInfo, &callback, &deviceHandle, VCSDK::VcSdkControlMode_Remote,
                          VCSDK::VcReconnecting_ON, textOrNull(user), textOrNull(password),
                          fingerprintSize != 0 ? fingerprint : nullptr, fingerprintSize, 0);
  if (!okOrError(status, "Connect")) return false;
  std::printf("[info] Connect aceito, aguardando OnConnected...\n");
  return true;
}

bool CameraController::connectFromInfo(VCSDK::IVcCameraObjectInfo* info) {
  if (info == nullptr) return false;

  disconnect();
  callback.resetConnectionState();

  cameraInfo = info;
  ownsCameraInfo = false;
  return okOrError(
      VCSDK::Connect(cameraInfo, &callback, &deviceHandle, VCSDK::VcSdkControlMode_Remote,
                     VCSDK::VcReconnecting_ON, nullptr, nullptr, nullptr, 0, 0),
      "Connect (enum)");
}

bool CameraController::waitConnected(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (callback.connected()) return true;
    if (callback.disconnected() || callback.lastError() != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void CameraController::disconnect() {
  if (deviceHandle != 0) {
    VCSDK::Disconnect(deviceHandle);
    VCSDK::ReleaseDevice(deviceHandle);
    deviceHandle = 0;
  }
  if (cameraInfo != nullptr) {
    if (ownsCameraInfo) cameraInfo->Release();
    cameraInfo = nullptr;
  }
  ownsCameraInfo = false;
}
