// CameraManager: which cameras join, their prefixes and indices, the firing
// order, and the order in which everything is let go.
#include <string>
#include <vector>

#include "CameraTestHarness.h"
#include "camera/CameraManager.h"

namespace {

using fake::Event;
using fake::sdk;

class ManagerCaptureTest : public CameraTest {
 protected:
  static std::vector<fake::CameraEntry> three() {
    return {fake::camera("SB_A4", "Ethernet", "127.0.40.1"),
            fake::camera("SB_A4", "Ethernet", "127.0.40.2"),
            fake::camera("CB_P7", "Ethernet", "127.0.40.3")};
  }
};

TEST_F(ManagerCaptureTest, CameraThatFailsToConnectIsLeftOutAndOthersKeepTheirIndex) {
  sdk().setCameras(three());
  sdk().queueOnConnect(
      {Event::connected(), Event::error(VCSDK::VcError_ConnectRefused, 20), Event::connected()});
  CameraManager manager;
  startOutput();
  EXPECT_EQ(manager.connectAll("captures", "KAMORA"), 2);
  const std::string out = output();
  EXPECT_EQ(sdk().last("EnumCameraObjects").ints, (fake::Ints{3}));
  EXPECT_NE(out.find("Cameras encontradas: 3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[info] camera 0 conectada.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[warn] camera 1 nao conectou a tempo\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[info] camera 2 conectada.\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("camera 1 conectada"), std::string::npos) << out;

  const std::vector<fake::Call> saves = sdk().calls("SetSaveInfo");
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[0].texts, (fake::Texts{std::string("captures"), std::string("KAMORA_CAM0")}));
  EXPECT_EQ(saves[1].texts, (fake::Texts{std::string("captures"), std::string("KAMORA_CAM2")}));
  // The camera that failed was let go at once.
  const std::vector<fake::Call> connects = sdk().calls("Connect");
  ASSERT_EQ(connects.size(), 3u);
  EXPECT_EQ(sdk().calls("ReleaseDevice").size(), 1u);
  EXPECT_EQ(sdk().last("ReleaseDevice").handle, connects[1].handle);
}

TEST_F(ManagerCaptureTest, RefusedAndNullEntriesAreSkippedSilentlyByTheManager) {
  sdk().setCameras({fake::nullCamera(), fake::camera("SB_A4", "Ethernet", "127.0.40.2"),
                    fake::camera("SB_A4", "Ethernet", "127.0.40.3")});
  sdk().queueResults("Connect", {VCSDK::VcError_ConnectNoCamera, 0});
  CameraManager manager;
  startOutput();
  EXPECT_EQ(manager.connectAll("out", "P"), 1);
  EXPECT_EQ(output(),
            "Cameras encontradas: 3\n"
            "[error] Connect (enum): 0x00008101\n"
            "[callback] OnConnected\n"
            "[info] camera 2 conectada.\n");
  EXPECT_EQ(sdk().last("SetSaveInfo").texts[1], std::string("P_CAM2"));
}

TEST_F(ManagerCaptureTest, VolleysFireCamerasOneAfterAnotherInOrder) {
  sdk().setCameras(three());
  sdk().queueOnConnect(
      {Event::connected(), Event::error(VCSDK::VcError_ConnectRefused), Event::connected()});
  CameraManager manager;
  ASSERT_EQ(manager.connectAll("captures", "KAMORA"), 2);
  const std::vector<fake::Call> connects = sdk().calls("Connect");
  const std::int64_t cam0 = connects[0].handle, cam2 = connects[2].handle;
  sdk().clearCalls();

  startOutput();
  manager.captureAll(3);
  const std::string out = output();
  for (int r = 1; r <= 3; ++r) {
    EXPECT_NE(out.find("[info] disparo " + std::to_string(r) + "/3 em 2 camera(s)...\n"),
              std::string::npos)
        << out;
  }
  std::vector<std::int64_t> order;
  for (const fake::Call& c : sdk().calls("SendCommand")) order.push_back(c.handle);
  // Press and release of one camera before the next is fired.
  EXPECT_EQ(order, (std::vector<std::int64_t>{cam0, cam0, cam2, cam2, cam0, cam0, cam2, cam2, cam0,
                                              cam0, cam2, cam2}));

  sdk().clearCalls();
  manager.captureAll(0);
  manager.captureAll(-2);
  EXPECT_TRUE(sdk().names().empty());
}

TEST_F(ManagerCaptureTest, ListIsReleasedOnlyAfterEveryCameraIsLetGo) {
  sdk().setCameras(three());
  {
    CameraManager manager;
    ASSERT_EQ(manager.connectAll("captures", "KAMORA"), 3);
    sdk().clearCalls();
    manager.disconnectAll();
    EXPECT_EQ(sdk().names(),
              (fake::Names{"Disconnect", "ReleaseDevice", "Disconnect", "ReleaseDevice",
                           "Disconnect", "ReleaseDevice", "ListRelease"}));
    sdk().clearCalls();
    manager.disconnectAll();  // nothing left
    EXPECT_TRUE(sdk().names().empty());
  }
  EXPECT_TRUE(sdk().names().empty());  // nor for the destructor
  const fake::Lifetimes life = sdk().lifetimes();
  EXPECT_EQ(life.listsReleased, 1);
  EXPECT_EQ(life.listDoubleReleases, 0);
  EXPECT_EQ(life.listInfoReleases, 0);  // the list's infos are the list's
  EXPECT_EQ(life.useAfterRelease, 0);
}

TEST_F(ManagerCaptureTest, NoCameraFound) {
  struct Case {
    const char* name;
    VCSDK::VcStatus code;
    bool nullList;
    const char* out;
    int listsReleased;
  } cases[] = {
      {"error", VCSDK::VcError_DiscoveryFailed, false,
       "Nenhuma camera encontrada (EnumCameraObjects: 0x00008011)\n", 0},
      {"null list", 0, true, "Nenhuma camera encontrada (EnumCameraObjects: 0x00000000)\n", 0},
      {"empty list", 0, false, "Cameras encontradas: 0\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sdk().reset();
    sdk().setResult("EnumCameraObjects", c.code);
    sdk().setEnumNullList(c.nullList);
    {
      CameraManager manager;
      startOutput();
      EXPECT_EQ(manager.connectAll("captures", "KAMORA"), 0);
      EXPECT_EQ(output(), c.out);
    }
    // The destructor lets go of a list that yielded no camera.
    EXPECT_EQ(sdk().lifetimes().listsReleased, c.listsReleased);
  }
}

}  // namespace
