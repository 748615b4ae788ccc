// The stand-in SDK when two threads let go of one link at once, while its
// event thread is still inside a callback: both calls wait for that
// callback, and nothing follows them. Addresses 127.0.138.x.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <thread>

#include "tests/support/SdkRecorder.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;
using Clock = std::chrono::steady_clock;

namespace {

// Holds the event thread in OnConnected for a while.
class SlowConnectCallback : public RecordingCallback {
 public:
  void OnConnected(DeviceConnectionVersion version) override {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RecordingCallback::OnConnected(version);  // stamped as the callback ends
  }
  std::atomic<bool> entered{false};
};

}  // namespace

TEST(SdkTeardown, DisconnectBesideReleaseDeviceBothWaitForTheCallbackUnderWay) {
  ASSERT_TRUE(Init(0));
  VcamOptions o;
  o.ip = "127.0.138.1";
  o.mac = "02:00:00:00:8a:01";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();

  std::uint8_t mac[6] = {0x02, 0, 0, 0, 0x8a, 0x01};
  IVcCameraObjectInfo* info = nullptr;
  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (138u << 8) | 1u, mac, 0));
  SlowConnectCallback callback;
  std::int64_t handle = 0;
  ASSERT_EQ(0u, Connect(info, &callback, &handle, VcSdkControlMode_Remote, VcReconnecting_ON,
                        nullptr, nullptr, nullptr, 0, 0));
  ASSERT_TRUE(until([&] { return callback.entered.load(); }, std::chrono::seconds(5)));

  // Each call on a thread of its own, both waited for with a deadline: a
  // stand-in that joins one thread twice hangs here instead of returning.
  // The second of the two may find the handle already gone: a Disconnect
  // that answers InvalidHandle touched no link and need not wait.
  std::atomic<VcStatus> disconnectStatus{VcError_None};
  auto disconnecting = std::async(std::launch::async, [handle, &disconnectStatus] {
    VcStatus status = Disconnect(handle);
    EXPECT_TRUE(status == VcError_None || status == VcError_InvalidHandle) << status;
    disconnectStatus = status;
    return Clock::now();
  });
  auto releasing = std::async(std::launch::async, [handle] {
    EXPECT_EQ(0u, ReleaseDevice(handle));
    return Clock::now();
  });
  const auto limit = Clock::now() + std::chrono::seconds(5);
  if (disconnecting.wait_until(limit) != std::future_status::ready ||
      releasing.wait_until(limit) != std::future_status::ready) {
    ADD_FAILURE() << "Disconnect beside ReleaseDevice did not return within 5 s";
    cam->kill();
    std::_Exit(1);  // the futures would wait for the hung calls for ever
  }
  const Clock::time_point disconnected = disconnecting.get(), released = releasing.get();

  const auto events = callback.events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ("connected", events[0].kind);
  if (disconnectStatus == VcError_None) {
    EXPECT_GE(disconnected, events[0].at);
  }
  EXPECT_GE(released, events[0].at);
  EXPECT_TRUE(cam->waitFor([](const nlohmann::json& s) { return s["sessions"] == 0; }, 2000));
  EXPECT_EQ(1u, callback.events().size());
  info->Release();
  Release();
}
