// The stand-in SDK against real virtual cameras: connection outcomes,
// callbacks on SDK threads, lost cameras, and refusal of non-loopback
// addresses. Addresses 127.0.10.x.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "SdkTestSupport.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;
using Clock = std::chrono::steady_clock;

namespace {

class SdkConnect : public SdkTest {};

long msSince(Clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

struct ConnectCase {
  const char* name;
  const char* ip;
  bool cameraSsh;   // the camera runs with --user u --pass p
  const char* mac;  // what the program asks for
  bool ssh;
  const char* user;
  const char* pass;
  bool fingerprint;            // ask GetFingerprint and pass its text
  const char* badFingerprint;  // pass this text instead
  unsigned expectError;        // 0: OnConnected
};

}  // namespace

TEST_F(SdkConnect, OutcomesArriveLaterOnAnSdkThread) {
  const ConnectCase cases[] = {
      {"plain", "127.0.10.1", false, "02:00:00:00:00:01", false, nullptr, nullptr, false, nullptr,
       0},
      {"wrong mac", "127.0.10.2", false, "02:00:00:00:00:99", false, nullptr, nullptr, false,
       nullptr, VcError_ConnectMacMismatch},
      {"ssh asked of a plain body", "127.0.10.3", false, "02:00:00:00:00:01", true, "u", "p", false,
       nullptr, VcError_ConnectSshNotOffered},
      {"ssh body, no ssh", "127.0.10.4", true, "02:00:00:00:00:01", false, nullptr, nullptr, false,
       nullptr, VcError_ConnectAuthRequired},
      {"ssh body, no credentials", "127.0.10.5", true, "02:00:00:00:00:01", true, nullptr, nullptr,
       true, nullptr, VcError_ConnectAuthRequired},
      {"wrong password", "127.0.10.6", true, "02:00:00:00:00:01", true, "u", "x", true, nullptr,
       VcError_ConnectAuthFailed},
      {"fingerprint mismatch", "127.0.10.7", true, "02:00:00:00:00:01", true, "u", "p", false,
       "SHA256:bogus", VcError_ConnectFingerprintMismatch},
      {"ssh with fingerprint", "127.0.10.8", true, "02:00:00:00:00:01", true, "u", "p", true,
       nullptr, 0},
      {"ssh without fingerprint", "127.0.10.9", true, "02:00:00:00:00:01", true, "u", "p", false,
       nullptr, 0},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.name);
    VcamOptions o;
    o.ip = c.ip;
    if (c.cameraSsh) {
      o.user = "u";
      o.pass = "p";
    }
    auto cam = VirtualCamera::start(o);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();

    SdkLink link;
    VcStatus status;
    Clock::time_point t0 = Clock::now();
    status = link.request(c.ip, c.mac, VcCameraModel_SB_A4, c.ssh, c.user, c.pass, c.fingerprint,
                          c.badFingerprint);
    EXPECT_LT(msSince(t0), 500) << "Connect must answer at once";
    ASSERT_EQ(0u, status);
    RecordingCallback::Event e;
    ASSERT_TRUE(link.callback.waitOutcome(3000, e));
    EXPECT_NE(std::this_thread::get_id(), e.thread);
    if (c.expectError == 0) {
      EXPECT_EQ("connected", e.kind);
      EXPECT_TRUE(cam->waitFor([](const nlohmann::json& s) { return s["linked"] == true; }, 2000));
    } else {
      EXPECT_EQ("error", e.kind);
      EXPECT_EQ(c.expectError, e.code);
      EXPECT_EQ(0u, link.callback.count("connected"));
    }
  }
}

TEST_F(SdkConnect, NoCameraAtTheAddressIsReportedThroughOnError) {
  SdkLink link;
  Clock::time_point t0 = Clock::now();
  ASSERT_EQ(0u, link.request("127.0.10.20", "02:00:00:00:00:01"));
  EXPECT_LT(msSince(t0), 500);
  RecordingCallback::Event e;
  ASSERT_TRUE(link.callback.waitOutcome(3000, e));
  EXPECT_EQ("error", e.kind);
  EXPECT_EQ(unsigned(VcError_ConnectNoCamera), e.code);
}

TEST_F(SdkConnect, FingerprintIsStablePerBodyAndAbsentWithoutSsh) {
  VcamOptions o;
  o.ip = "127.0.10.21";
  o.user = "u";
  o.pass = "p";
  auto ssh = VirtualCamera::start(o);
  ASSERT_TRUE(ssh) << VirtualCamera::lastError();
  o.ip = "127.0.10.22";
  o.user = o.pass = "";
  auto plain = VirtualCamera::start(o);
  ASSERT_TRUE(plain) << VirtualCamera::lastError();

  std::uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
  IVcCameraObjectInfo* info = nullptr;
  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (10u << 8) | 21u, mac, 1));
  char a[512] = {0}, b[512] = {0};
  std::uint32_t na = 0, nb = 0;
  ASSERT_EQ(0u, GetFingerprint(info, a, &na));
  ASSERT_EQ(0u, GetFingerprint(info, b, &nb));
  EXPECT_GT(na, 8u);
  EXPECT_EQ(std::string(a, na), std::string(b, nb));
  EXPECT_EQ(na, std::strlen(a));
  info->Release();

  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (10u << 8) | 22u, mac, 0));
  // A plain link has no host key: an empty fingerprint, and no question asked,
  // whether a camera is there or not.
  na = 99;
  EXPECT_EQ(0u, GetFingerprint(info, a, &na));
  EXPECT_EQ(0u, na);
  info->Release();
  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (10u << 8) | 23u, mac, 0));
  na = 99;
  EXPECT_EQ(0u, GetFingerprint(info, a, &na));
  EXPECT_EQ(0u, na);
  info->Release();
  // SSH asked of a camera that has none, or of an address where nothing
  // answers: the camera's own refusal.
  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (10u << 8) | 22u, mac, 1));
  EXPECT_EQ(unsigned(VcError_FingerprintUnavailable), GetFingerprint(info, a, &na));
  info->Release();
  ASSERT_EQ(0u, CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4,
                                                         (127u << 24) | (10u << 8) | 23u, mac, 1));
  EXPECT_EQ(unsigned(VcError_ConnectNoCamera), GetFingerprint(info, a, &na));
  info->Release();
}

TEST_F(SdkConnect, NonLoopbackAddressesAreRefusedAtOnce) {
  std::uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
  const std::uint32_t addresses[] = {
      0xC0A8010A /*192.168.1.10*/, 0x0A000001, 0x08080808, 0x00000000,
      0x80000001 /*128.0.0.1*/,    0x7E000001 /*126.0.0.1*/};
  for (std::uint32_t a : addresses) {
    SCOPED_TRACE(a);
    IVcCameraObjectInfo* info = reinterpret_cast<IVcCameraObjectInfo*>(0x1);
    Clock::time_point t0 = Clock::now();
    EXPECT_EQ(unsigned(VcError_AddressNotAllowed),
              CreateCameraObjectInfoEthernetConnection(&info, VcCameraModel_SB_A4, a, mac, 0));
    EXPECT_EQ(nullptr, info);
    EXPECT_LT(msSince(t0), 50);
  }

  // A description that did not come from the SDK cannot smuggle an address in.
  struct Foreign : IVcCameraObjectInfo {
    const char* GetModel() const override { return "SB_A4"; }
    const char* GetConnectionTypeName() const override { return "Ethernet"; }
    const char* GetIpAddressChar() const override { return "192.168.1.10"; }
    const char* GetMacAddressChar() const override { return "02:00:00:00:00:01"; }
    void Release() override {}
  } foreign;
  RecordingCallback cb;
  std::int64_t handle = 0;
  char fp[512];
  std::uint32_t n = 0;
  EXPECT_EQ(unsigned(VcError_AddressNotAllowed), GetFingerprint(&foreign, fp, &n));
  EXPECT_EQ(unsigned(VcError_AddressNotAllowed), Connect(&foreign, &cb, &handle));
  EXPECT_EQ(0, handle);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(cb.events().empty());
}

TEST_F(SdkConnect, LostCameraIsReportedWithinASecond) {
  struct Case {
    const char* name;
    const char* ip;
    bool kill;  // else the drop fault
  } cases[] = {{"drop", "127.0.10.30", false}, {"killed", "127.0.10.31", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VcamOptions o;
    o.ip = c.ip;
    auto cam = VirtualCamera::start(o);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    SdkLink link;
    ASSERT_TRUE(link.open(c.ip, o.mac));
    Clock::time_point t0 = Clock::now();
    if (c.kill)
      cam->kill();
    else
      ASSERT_TRUE(cam->fault("drop"));
    ASSERT_TRUE(link.callback.waitFor("disconnected", 1500));
    auto events = link.callback.events();
    EXPECT_EQ(unsigned(VcError_ConnectionLost), events.back().code);
    EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(events.back().at - t0).count(),
              1000);
    // The handle stays valid but the camera is gone.
    EXPECT_EQ(unsigned(VcError_NotConnected),
              setProperty(link.handle, VcDeviceProperty_IsoSensitivity, VcDataType_UInt32, 200));
  }
}

TEST_F(SdkConnect, HungCameraIsReportedLost) {
  VcamOptions o;
  o.ip = "127.0.10.32";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  cam->signal(SIGSTOP);  // alive, connections open, but silent
  bool lost = link.callback.waitFor("disconnected", 2500);
  cam->signal(SIGCONT);
  ASSERT_TRUE(lost);
  EXPECT_EQ(unsigned(VcError_ConnectionLost), link.callback.events().back().code);
}

TEST_F(SdkConnect, LinkFaultsNeverReadyAndRefused) {
  VcamOptions o;
  o.ip = "127.0.10.40";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();

  ASSERT_TRUE(cam->fault("never-ready"));
  {
    SdkLink link;
    ASSERT_EQ(0u, link.request(o.ip, o.mac));
    RecordingCallback::Event e;
    EXPECT_FALSE(link.callback.waitOutcome(1500, e)) << e.kind;
    // Not ready: commands are refused rather than sent.
    EXPECT_EQ(unsigned(VcError_NotConnected), SendCommand(link.handle, VcCommand_Release, 1));
  }
  ASSERT_TRUE(cam->fault("clear"));
  ASSERT_TRUE(cam->fault("refuse-link", {{"code", "0x8106"}}));
  {
    SdkLink link;
    ASSERT_EQ(0u, link.request(o.ip, o.mac));
    RecordingCallback::Event e;
    ASSERT_TRUE(link.callback.waitOutcome(3000, e));
    EXPECT_EQ("error", e.kind);
    EXPECT_EQ(0x8106u, e.code);
  }
  ASSERT_TRUE(cam->fault("clear"));
  SdkLink link;
  EXPECT_TRUE(link.open(o.ip, o.mac));
}

TEST_F(SdkConnect, HandleStatesAndNoCallbackAfterRelease) {
  VcamOptions o;
  o.ip = "127.0.10.50";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();

  EXPECT_EQ(unsigned(VcError_InvalidHandle), SendCommand(0, VcCommand_Release, 1));
  EXPECT_EQ(unsigned(VcError_InvalidHandle), SendCommand(12345, VcCommand_Release, 1));
  EXPECT_EQ(unsigned(VcError_InvalidHandle), Disconnect(12345));

  auto link = std::make_unique<SdkLink>();
  ASSERT_TRUE(link->open(o.ip, o.mac));
  std::int64_t handle = link->handle;
  EXPECT_EQ(0u, Disconnect(handle));
  EXPECT_EQ(unsigned(VcError_NotConnected), SendCommand(handle, VcCommand_Release, 1));
  EXPECT_EQ(0u, ReleaseDevice(handle));
  std::size_t before = link->callback.events().size();
  EXPECT_EQ(unsigned(VcError_InvalidHandle), SendCommand(handle, VcCommand_Release, 1));
  EXPECT_TRUE(cam->waitFor([](const nlohmann::json& s) { return s["linked"] == false; }, 2000));
  // Dropping the camera now must not reach the released callback.
  ASSERT_TRUE(cam->fault("drop"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(before, link->callback.events().size());
  link->handle = 0;

  Release();
  EXPECT_EQ(unsigned(VcError_NotInitialized), SendCommand(handle, VcCommand_Release, 1));
  RecordingCallback cb;
  std::int64_t h = 0;
  EXPECT_EQ(unsigned(VcError_NotInitialized), Connect(link->info, &cb, &h));
  ASSERT_TRUE(Init(0));
}

namespace {
void onPipe(int) {}
}  // namespace

// A host that left SIGPIPE at its default is not ended by a write to a camera
// that hung up (the system's HTTP library sends without MSG_NOSIGNAL); a host
// that chose what SIGPIPE does keeps its choice. macOS uses a socket option.
TEST(SdkSigpipe, InitIgnoresItOnlyWhereTheHostLeftTheDefault) {
#ifdef SO_NOSIGPIPE
  const auto quietDefault = SIG_DFL;
#else
  const auto quietDefault = SIG_IGN;
#endif
  const std::pair<void (*)(int), void (*)(int)> rows[] = {
      {SIG_DFL, quietDefault}, {onPipe, onPipe}, {SIG_IGN, SIG_IGN}};
  // The tests after this one share the process: they get back what it had.
  void (*const found)(int) = std::signal(SIGPIPE, SIG_DFL);
  for (const auto& [before, after] : rows) {
    std::signal(SIGPIPE, before);
    ASSERT_TRUE(Init(0));
    EXPECT_EQ(std::signal(SIGPIPE, SIG_DFL), after);
    Release();
  }
  std::signal(SIGPIPE, found);
}
