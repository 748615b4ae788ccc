// CameraController connection: address texts, the arguments Connect gets,
// refusals, the wait, reconnection and disconnect.
#include <string>
#include <vector>

#include "CameraTestHarness.h"

namespace {

using fake::Event;
using fake::sdk;

struct AddressCase {
  const char* ip;
  const char* mac;
  bool accepted;
  std::int64_t address;             // when accepted
  std::vector<std::uint8_t> bytes;  // when accepted
  const char* line;                 // printed first
};

TEST_F(CameraTest, AddressTextsReachTheSdkOrAreRefusedBeforeIt) {
  const AddressCase cases[] = {
      {"127.0.30.1",
       "aa:bb:cc:dd:ee:ff",
       true,
       0x7F001E01,
       {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
       "[info] Connect aceito"},
      {"255.0.0.1", "0:1:2:3:4:5", true, 0xFF000001, {0, 1, 2, 3, 4, 5}, "[info] Connect aceito"},
      // Text after the fourth number is ignored; blanks before numbers too.
      {"127.0.0.1.5",
       " 1ff:0:0:0:0:10",
       true,
       0x7F000001,
       {0xFF, 0, 0, 0, 0, 0x10},
       "[info] Connect aceito"},
      {"127.0.0.256", "aa:bb:cc:dd:ee:ff", false, 0, {}, "[error] IP invalido: 127.0.0.256\n"},
      {"127.0.0", "aa:bb:cc:dd:ee:ff", false, 0, {}, "[error] IP invalido: 127.0.0\n"},
      {"-1.0.0.1", "aa:bb:cc:dd:ee:ff", false, 0, {}, "[error] IP invalido: -1.0.0.1\n"},
      {"", "aa:bb:cc:dd:ee:ff", false, 0, {}, "[error] IP invalido: \n"},
      {"127.0.0.1", "aa-bb-cc-dd-ee-ff", false, 0, {}, "[error] MAC invalido: aa-bb-cc-dd-ee-ff\n"},
      {"127.0.0.1", "aa:bb:cc:dd:ee", false, 0, {}, "[error] MAC invalido: aa:bb:cc:dd:ee\n"},
      // Both bad: the IP is reported, the MAC never looked at.
      {"1.2.3", "zz", false, 0, {}, "[error] IP invalido: 1.2.3\n"},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(std::string(c.ip) + " " + c.mac);
    sdk().reset();
    CameraController controller;
    startOutput();
    EXPECT_EQ(controller.connectIp(c.ip, c.mac, VCSDK::VcCameraModel_SB_A4, false, "", ""),
              c.accepted);
    const std::string out = output();
    EXPECT_EQ(out.rfind(c.line, 0), 0u) << out;
    if (c.accepted) {
      const fake::Call create = sdk().last("CreateCameraObjectInfoEthernetConnection");
      EXPECT_EQ(create.ints, (fake::Ints{7, c.address, 0}));
      EXPECT_EQ(create.bytes, c.bytes);
    } else {
      EXPECT_TRUE(sdk().names().empty()) << sdk().transcript();
      EXPECT_FALSE(controller.hasDevice());
    }
  }
}

TEST_F(CameraTest, ConnectGetsModelSshCredentialsAndFingerprint) {
  struct Case {
    bool ssh;
    std::string user, password, fingerprint;
  } cases[] = {
      {false, "", "", ""},  // empty texts reach the SDK as null
      {true, "admin", "s3cret", "SHA256:abc"},
      {true, "admin", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user + "/" + c.password + "/" + c.fingerprint);
    sdk().reset();
    sdk().setFingerprint(c.fingerprint);
    CameraController controller;
    ASSERT_TRUE(
        controller.connectIp(kIp, kMac, VCSDK::VcCameraModel_CB_P7, c.ssh, c.user, c.password));
    EXPECT_EQ(sdk().namesExcept({}), (fake::Names{"CreateCameraObjectInfoEthernetConnection",
                                                  "GetFingerprint", "Connect"}));
    EXPECT_EQ(sdk().last("CreateCameraObjectInfoEthernetConnection").ints[0], 25);
    EXPECT_EQ(sdk().last("CreateCameraObjectInfoEthernetConnection").ints[2], c.ssh ? 1 : 0);
    EXPECT_EQ(sdk().last("GetFingerprint").ints[1], 1);  // handed a zeroed 512-byte buffer
    const fake::Call connect = sdk().last("Connect");
    const auto orNull = [](const std::string& s) -> std::optional<std::string> {
      if (s.empty()) return std::nullopt;
      return s;
    };
    EXPECT_EQ(connect.texts,
              (fake::Texts{orNull(c.user), orNull(c.password), orNull(c.fingerprint)}));
    // info, mode remote, reconnect on, fingerprint length, reserved, callback
    EXPECT_EQ(connect.ints,
              (fake::Ints{1, 0, 1, static_cast<std::int64_t>(c.fingerprint.size()), 0, 1}));
    EXPECT_TRUE(controller.hasDevice());
  }
}

TEST_F(CameraTest, RefusedFingerprintOnlyWarnsAndConnectsWithout) {
  sdk().setFingerprint("SHA256:abc");
  sdk().setResult("GetFingerprint", VCSDK::VcError_FingerprintUnavailable);
  // The callback's line comes from the SDK's thread, in no set order with the
  // caller's lines; this case is about the caller's, so no callback comes.
  sdk().onConnect(Event::none());
  CameraController controller;
  startOutput();
  EXPECT_TRUE(controller.connectIp(kIp, kMac, VCSDK::VcCameraModel_SB_A4, true, "u", "p"));
  EXPECT_EQ(output(),
            "[warn] GetFingerprint: 0x0000810A (segue sem fingerprint)\n"
            "[info] Connect aceito, aguardando OnConnected...\n");
  EXPECT_EQ(sdk().last("Connect").texts[2], std::nullopt);
  EXPECT_EQ(sdk().last("Connect").ints[3], 0);
}

TEST_F(CameraTest, RefusedRequestsPrintTheirLineAndStopThere) {
  struct Case {
    const char* fn;
    VCSDK::VcStatus code;
    bool nullInfo;
    const char* line;
    fake::Names calls;
  } cases[] = {
      {"CreateCameraObjectInfoEthernetConnection",
       0x8003,
       false,
       "[error] CreateCameraObjectInfoEthernetConnection: 0x00008003\n",
       {"CreateCameraObjectInfoEthernetConnection"}},
      {"CreateCameraObjectInfoEthernetConnection",
       0,
       true,
       "[error] CreateCameraObjectInfoEthernetConnection: 0x00000000\n",
       {"CreateCameraObjectInfoEthernetConnection"}},
      {"Connect",
       0x8106,
       false,
       "[error] Connect: 0x00008106\n",
       {"CreateCameraObjectInfoEthernetConnection", "GetFingerprint", "Connect"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sdk().reset();
    if (c.nullInfo)
      sdk().setCreateInfoNull(true);
    else
      sdk().setResult(c.fn, c.code);
    {
      CameraController controller;
      startOutput();
      EXPECT_FALSE(controller.connectIp(kIp, kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
      EXPECT_EQ(output(), c.line);
      EXPECT_EQ(sdk().names(), c.calls);
      EXPECT_FALSE(controller.waitConnected(100));
    }
    // An info the controller made is released exactly once, by its end.
    const fake::Lifetimes life = sdk().lifetimes();
    EXPECT_EQ(life.infosReleased, life.infosCreated);
    EXPECT_EQ(life.infoDoubleReleases, 0);
  }
}

TEST_F(CameraTest, WaitEndsOnTheFirstReportOrTheDeadline) {
  struct Case {
    Event event;
    bool result;
    long long minMs, maxMs;
  } cases[] = {
      {Event::connected(80), true, 60, 1000},
      {Event::error(VCSDK::VcError_ConnectRefused, 80), false, 60, 1000},
      {Event::disconnected(VCSDK::VcError_ConnectionLost, 80), false, 60, 1000},
      {Event::none(), false, 400, 1000},         // the deadline
      {Event::connected(800), false, 400, 750},  // too late for a 400 ms wait
  };
  for (const Case& c : cases) {
    sdk().reset();
    sdk().onConnect(c.event);
    CameraController controller;
    ASSERT_TRUE(controller.connectIp(kIp, kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
    bool result = !c.result;
    const long long ms = elapsedMs([&] { result = controller.waitConnected(400); });
    EXPECT_EQ(result, c.result);
    EXPECT_GE(ms, c.minMs);
    EXPECT_LE(ms, c.maxMs);
  }
}

TEST_F(CameraTest, ZeroWaitReturnsFalseEvenWhenConnected) {
  CameraController controller;
  connect(controller);
  EXPECT_FALSE(controller.waitConnected(0));
  EXPECT_TRUE(controller.waitConnected(100));
}

TEST_F(CameraTest, NewRequestEndsTheOldLinkAndReportsOnlyItsOwnOutcome) {
  CameraController controller;
  connect(controller);
  const std::int64_t first = sdk().lastHandle();

  // The camera never confirms the second request: the first one's connected
  // flag must not answer for it.
  sdk().onConnect(Event::none());
  ASSERT_TRUE(controller.connectIp("127.0.30.2", kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
  const std::vector<fake::Call> calls = sdk().calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].fn, "Disconnect");
  EXPECT_EQ(calls[0].handle, first);
  EXPECT_EQ(calls[1].fn, "ReleaseDevice");
  EXPECT_EQ(calls[1].handle, first);
  EXPECT_EQ(calls[2].fn, "InfoRelease");
  EXPECT_NE(sdk().lastHandle(), first);
  EXPECT_FALSE(controller.waitConnected(300));

  // An error from the failed attempt must not fail the next one either.
  sdk().fire(sdk().lastHandle(), Event::error(VCSDK::VcError_ConnectRefused));
  sdk().drain();
  sdk().onConnect(Event::connected(50));
  ASSERT_TRUE(controller.connectIp(kIp, kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
  EXPECT_TRUE(controller.waitConnected(2000));
}

TEST_F(CameraTest, MalformedAddressLeavesTheCurrentLinkAlone) {
  CameraController controller;
  connect(controller);
  EXPECT_FALSE(
      controller.connectIp("127.0.0.300", kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
  EXPECT_TRUE(sdk().names().empty());
  EXPECT_TRUE(controller.hasDevice());
}

TEST_F(CameraTest, DisconnectReleasesOnceAndOnlyWhatItOwns) {
  {
    CameraController fresh;
    fresh.disconnect();
    EXPECT_TRUE(sdk().names().empty());
  }
  CameraController controller;
  connect(controller);
  const std::int64_t handle = sdk().lastHandle();
  controller.disconnect();
  controller.disconnect();
  EXPECT_EQ(sdk().names(), (fake::Names{"Disconnect", "ReleaseDevice", "InfoRelease"}));
  EXPECT_EQ(sdk().calls()[0].handle, handle);
  EXPECT_EQ(sdk().calls()[1].handle, handle);
  EXPECT_FALSE(controller.hasDevice());
  // Operations after disconnect find no camera.
  EXPECT_FALSE(controller.setIso(100));
  EXPECT_EQ(sdk().names().size(), 3u);
}

TEST_F(CameraTest, DestructorDisconnects) {
  std::int64_t handle = 0;
  {
    CameraController controller;
    connect(controller);
    handle = sdk().lastHandle();
  }
  EXPECT_EQ(sdk().names(), (fake::Names{"Disconnect", "ReleaseDevice", "InfoRelease"}));
  EXPECT_EQ(sdk().last("ReleaseDevice").handle, handle);
}

TEST_F(CameraTest, ConnectionFromDiscoveryNeverReleasesTheListsInfo) {
  sdk().setCameras({fake::camera("CB_P7", "Ethernet", "127.0.30.9")});
  VCSDK::IVcEnumCameraObjectInfo* list = nullptr;
  ASSERT_EQ(VCSDK::EnumCameraObjects(&list, 3), 0u);
  VCSDK::IVcCameraObjectInfo* info = list->GetCameraObjectInfo(0);
  {
    CameraController controller;
    startOutput();
    EXPECT_FALSE(controller.connectFromInfo(nullptr));
    EXPECT_TRUE(controller.connectFromInfo(info));
    EXPECT_TRUE(controller.waitConnected(2000));
    EXPECT_EQ(output(), "[callback] OnConnected\n");
    const fake::Call connect = sdk().last("Connect");
    EXPECT_EQ(connect.ints, (fake::Ints{sdk().infoId(info), 0, 1, 0, 0, 1}));
    EXPECT_EQ(connect.texts, (fake::Texts{std::nullopt, std::nullopt, std::nullopt}));
    controller.disconnect();
  }
  EXPECT_EQ(sdk().infoReleaseCount(sdk().infoId(info)), 0);
  EXPECT_EQ(sdk().lifetimes().listInfoReleases, 0);

  sdk().setResult("Connect", 0x8101);
  CameraController refused;
  startOutput();
  EXPECT_FALSE(refused.connectFromInfo(info));
  EXPECT_EQ(output(), "[error] Connect (enum): 0x00008101\n");
  list->Release();
}

}  // namespace
