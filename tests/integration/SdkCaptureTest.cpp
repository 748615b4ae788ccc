// Capture and download through the stand-in SDK: where pictures go, how
// they are named, and the capture faults. Addresses 127.0.12.x.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "SdkTestSupport.h"
#include "tests/support/SdkRecorder.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

using namespace VCSDK;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class SdkCapture : public SdkTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SdkTest::SetUp());
    dir_ = makeTempDir("sdkcap");
    previous_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(previous_);
    SdkTest::TearDown();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
  fs::path previous_;
};

VcStatus saveInfo(std::int64_t h, std::string folder, std::string prefix) {
  return SetSaveInfo(h, folder.data(), prefix.data(), VcSaveInfo_AutoNumber);
}

void shoot(std::int64_t h) {
  SendCommand(h, VcCommand_Release, VcCommandParam_Down);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SendCommand(h, VcCommand_Release, VcCommandParam_Up);
}

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(SdkCapture, PicturesLandRelativeToTheWorkingDirectoryWithoutOverwriting) {
  VcamOptions o;
  o.ip = "127.0.12.1";
  o.stillSize = "600x400";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));

  fs::create_directories(dir_ + "/captures");
  std::ofstream(dir_ + "/captures/KAMORA_00007.JPG") << "old";
  std::ofstream(dir_ + "/captures/KAMORA_x0009.JPG") << "not ours";
  std::ofstream(dir_ + "/captures/OTHER_00050.JPG") << "other prefix";

  fs::current_path(dir_);
  ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_StillImageStoreDestination,
                            VcDataType_UInt16, VcStillImageStore_HostPC));
  ASSERT_EQ(0u, saveInfo(link.handle, "captures", "KAMORA"));
  // Moving away afterwards must not move the downloads.
  fs::current_path(previous_);

  for (int i = 0; i < 2; ++i) shoot(link.handle);
  ASSERT_TRUE(link.callback.waitFor("download", 10000, 2));
  auto events = link.callback.events();
  std::vector<std::string> files;
  for (auto& e : events)
    if (e.kind == "download") {
      files.push_back(e.file);
      EXPECT_NE(std::this_thread::get_id(), e.thread);
    }
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ(fs::path(dir_) / "captures" / "KAMORA_00008.JPG", fs::path(files[0]));
  EXPECT_EQ(fs::path(dir_) / "captures" / "KAMORA_00009.JPG", fs::path(files[1]));
  EXPECT_EQ("old", readFile(dir_ + "/captures/KAMORA_00007.JPG"));
  std::vector<std::uint8_t> rgb;
  int w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(readFile(files[0]), rgb, w, h));
  EXPECT_EQ(600, w);
  EXPECT_EQ(400, h);
  // Only final names remain: no temporary file is left behind.
  for (const std::string& n : namesIn(dir_ + "/captures"))
    EXPECT_EQ(n.find(".part"), std::string::npos) << n;
  nlohmann::json s = cam->state();
  EXPECT_EQ(2, s["shots"]);
  EXPECT_EQ(2, s["downloads"]);
  EXPECT_EQ("captures", s["save_folder"]);
  EXPECT_EQ("KAMORA", s["save_prefix"]);
}

TEST_F(SdkCapture, PicturesStayOnTheCardUnlessTheComputerIsTheDestinationAndSaveInfoIsSet) {
  struct Case {
    const char* name;
    const char* ip;
    int destination;  // -1: leave the body's default (the card)
    bool saveInfo;
    int downloads, onCard;
  } cases[] = {
      {"default destination", "127.0.12.10", -1, true, 0, 1},
      {"computer, no save info", "127.0.12.11", VcStillImageStore_HostPC, false, 0, 1},
      {"computer and save info", "127.0.12.12", VcStillImageStore_HostPC, true, 1, 0},
      {"both", "127.0.12.13", VcStillImageStore_HostPCAndCamera, true, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VcamOptions o;
    o.ip = c.ip;
    o.stillSize = "300x200";
    auto cam = VirtualCamera::start(o);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    SdkLink link;
    ASSERT_TRUE(link.open(o.ip, o.mac));
    if (c.destination >= 0) {
      ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_StillImageStoreDestination,
                                VcDataType_UInt16, static_cast<std::uint16_t>(c.destination)));
    }
    if (c.saveInfo) {
      ASSERT_EQ(0u, saveInfo(link.handle, dir_ + "/" + c.ip, "P"));
    }
    shoot(link.handle);
    EXPECT_TRUE(cam->waitFor([](const nlohmann::json& s) { return s["shots"] == 1; }, 2000));
    EXPECT_EQ(c.downloads > 0, link.callback.waitFor("download", c.downloads ? 5000 : 500));
    nlohmann::json s = cam->state();
    EXPECT_EQ(c.downloads, s["downloads"]);
    EXPECT_EQ(c.onCard, s["on_card"]);
  }
}

TEST_F(SdkCapture, CaptureAndSaveInfoFaults) {
  VcamOptions o;
  o.ip = "127.0.12.20";
  o.stillSize = "300x200";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  SdkLink link;
  ASSERT_TRUE(link.open(o.ip, o.mac));
  ASSERT_EQ(0u, setProperty(link.handle, VcDeviceProperty_StillImageStoreDestination,
                            VcDataType_UInt16, VcStillImageStore_HostPC));

  ASSERT_TRUE(cam->fault("refuse-saveinfo", {{"code", "0x8203"}}));
  EXPECT_EQ(0x8203u, saveInfo(link.handle, dir_, "F"));
  ASSERT_TRUE(cam->fault("clear"));
  ASSERT_EQ(0u, saveInfo(link.handle, dir_, "F"));

  ASSERT_TRUE(cam->fault("capture-error", {{"code", "0x8301"}}));
  shoot(link.handle);
  ASSERT_TRUE(link.callback.waitFor("error", 3000));
  EXPECT_EQ(0x8301u, link.callback.events().back().code);
  EXPECT_EQ(0u, link.callback.count("download"));

  ASSERT_TRUE(cam->fault("clear"));
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "800"}}));
  Clock::time_point t0 = Clock::now();
  shoot(link.handle);
  ASSERT_TRUE(link.callback.waitFor("download", 5000));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 800);

  // A lone release takes no picture; an unknown command is refused.
  EXPECT_EQ(0u, SendCommand(link.handle, VcCommand_Release, VcCommandParam_Up));
  EXPECT_EQ(unsigned(VcError_NotSupported), SendCommand(link.handle, 99, 1));
  EXPECT_EQ(2, cam->state()["shots"]);
}

TEST_F(SdkCapture, TwoCamerasSharingFolderAndPrefixNeverOverwriteEachOther) {
  VcamOptions o;
  o.stillSize = "200x140";
  o.ip = "127.0.12.30";
  auto a = VirtualCamera::start(o);
  ASSERT_TRUE(a) << VirtualCamera::lastError();
  o.ip = "127.0.12.31";
  auto b = VirtualCamera::start(o);
  ASSERT_TRUE(b) << VirtualCamera::lastError();
  SdkLink la, lb;
  ASSERT_TRUE(la.open("127.0.12.30", o.mac));
  ASSERT_TRUE(lb.open("127.0.12.31", o.mac));
  for (SdkLink* l : {&la, &lb}) {
    ASSERT_EQ(0u, setProperty(l->handle, VcDeviceProperty_StillImageStoreDestination,
                              VcDataType_UInt16, VcStillImageStore_HostPC));
    ASSERT_EQ(0u, saveInfo(l->handle, dir_, "SAME"));
  }
  const int shots = 6;
  std::thread ta([&] {
    for (int i = 0; i < shots; ++i) shoot(la.handle);
  });
  for (int i = 0; i < shots; ++i) shoot(lb.handle);
  ta.join();
  ASSERT_TRUE(la.callback.waitFor("download", 15000, shots));
  ASSERT_TRUE(lb.callback.waitFor("download", 15000, shots));
  std::set<std::string> reported;
  for (SdkLink* l : {&la, &lb})
    for (auto& e : l->callback.events())
      if (e.kind == "download") reported.insert(e.file);
  EXPECT_EQ(2u * shots, reported.size());
  EXPECT_EQ(2u * shots, namesIn(dir_).size());
}
