// Discovery over 127.0.0.1-254 (serialised by CTest's loopback lock):
// order, texts, speed, and the program's listing.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/SdkRecorder.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;
using Clock = std::chrono::steady_clock;

TEST(Discovery, FindsEveryCameraInAddressOrderAndReturnsEarly) {
  ASSERT_TRUE(Init(0));
  VcamOptions o;
  // Started out of order on purpose.
  const char* ips[] = {"127.0.0.150", "127.0.0.7", "127.0.0.23"};
  const char* models[] = {"PZ_M7", "SB_A4", "CB_P7"};
  std::vector<std::unique_ptr<VirtualCamera>> cams;
  for (int i = 0; i < 3; ++i) {
    o.ip = ips[i];
    o.model = models[i];
    cams.push_back(VirtualCamera::start(o));
    ASSERT_TRUE(cams.back()) << VirtualCamera::lastError();
  }

  IVcEnumCameraObjectInfo* list = nullptr;
  Clock::time_point t0 = Clock::now();
  ASSERT_EQ(0u, EnumCameraObjects(&list, 3));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_LT(ms, 1000) << "discovery must return once every address answered";
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(3u, list->GetCount());
  const char* wantIp[] = {"127.0.0.7", "127.0.0.23", "127.0.0.150"};
  const char* wantModel[] = {"SB_A4", "CB_P7", "PZ_M7"};
  for (std::uint32_t i = 0; i < 3; ++i) {
    IVcCameraObjectInfo* info = list->GetCameraObjectInfo(i);
    ASSERT_NE(nullptr, info);
    EXPECT_STREQ(wantIp[i], info->GetIpAddressChar());
    EXPECT_STREQ(wantModel[i], info->GetModel());
    EXPECT_STREQ("Ethernet", info->GetConnectionTypeName());
    EXPECT_STREQ("02:00:00:00:00:01", info->GetMacAddressChar());
  }
  EXPECT_EQ(nullptr, list->GetCameraObjectInfo(3));

  // A camera from the list connects like any other.
  RecordingCallback cb;
  std::int64_t handle = 0;
  ASSERT_EQ(0u, Connect(list->GetCameraObjectInfo(1), &cb, &handle));
  EXPECT_TRUE(cb.waitFor("connected", 3000));
  Disconnect(handle);
  ReleaseDevice(handle);
  list->Release();

  // A camera that went away is no longer found.
  cams[1]->kill();
  ASSERT_EQ(0u, EnumCameraObjects(&list, 1));
  EXPECT_EQ(2u, list->GetCount());
  list->Release();
  Release();

  RunResult r = runProgram({binaryPath("kamora"), "--enum"}, "", 20000);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("Cameras encontradas: 2\n")) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("  [0] modelo=CB_P7 conexao=Ethernet ip=127.0.0.23\n"))
      << r.output;
  EXPECT_NE(std::string::npos,
            r.output.find("  [1] modelo=PZ_M7 conexao=Ethernet ip=127.0.0.150\n"))
      << r.output;
}

TEST(Discovery, NothingListeningGivesAnEmptyListQuickly) {
  ASSERT_TRUE(Init(0));
  IVcEnumCameraObjectInfo* list = nullptr;
  Clock::time_point t0 = Clock::now();
  ASSERT_EQ(0u, EnumCameraObjects(&list, 3));
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 1000);
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(0u, list->GetCount());
  list->Release();
  EXPECT_EQ(unsigned(VcError_InvalidParameter), EnumCameraObjects(nullptr, 3));
  Release();
  EXPECT_EQ(unsigned(VcError_NotInitialized), EnumCameraObjects(&list, 3));
}
