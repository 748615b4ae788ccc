// Fuzzes the IP and MAC texts of a connection request through
// CameraController::connectIp over the fake SDK. A rejected text must stop
// before any SDK call; an accepted one must reach the SDK as an address and
// six bytes that read back the same when written out and parsed again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FakeSdk.h"
#include "FuzzInput.h"
#include "camera/CameraController.h"

namespace {

const char* kCreate = "CreateCameraObjectInfoEthernetConnection";

// The address and MAC bytes the SDK was handed by the last request, if any.
bool lastRequest(std::uint32_t& address, std::vector<std::uint8_t>& mac) {
  const fake::Call call = fake::sdk().last(kCreate);
  if (call.fn.empty() || call.ints.size() < 2) return false;
  address = static_cast<std::uint32_t>(call.ints[1]);
  mac = call.bytes;
  return true;
}

bool connect(const std::string& ip, const std::string& mac) {
  CameraController controller;
  const bool accepted = controller.connectIp(ip, mac, VCSDK::VcCameraModel_SB_A4, false,
                                             std::string(), std::string());
  controller.disconnect();
  return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static unsigned runs = 0;
  fake::FakeSdk& sdk = fake::sdk();
  // The fake keeps every camera object until reset; bound its memory.
  if (runs++ % 256 == 0) sdk.reset();
  sdk.clearCalls();

  const std::vector<std::string> fields = fuzzin::split(data, size, '\n', 2);
  const std::string ip = fields[0];
  const std::string mac = fields.size() > 1 ? fields[1] : std::string("02:00:00:00:00:01");

  const bool accepted = connect(ip, mac);
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
  const bool reached = lastRequest(address, bytes);
  if (!accepted) {
    // Nothing may reach the SDK once either text is refused (the fake
    // accepts every request, so a refusal here is the parser's).
    if (reached) std::abort();
    return 0;
  }
  if (!reached || bytes.size() != 6) std::abort();

  char ipText[32], macText[32];
  std::snprintf(ipText, sizeof ipText, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1],
                bytes[2], bytes[3], bytes[4], bytes[5]);
  sdk.clearCalls();
  if (!connect(ipText, macText)) std::abort();
  std::uint32_t again = 0;
  std::vector<std::uint8_t> againBytes;
  if (!lastRequest(again, againBytes) || again != address || againBytes != bytes) std::abort();
  return 0;
}
