// The command-line camera runs on the fake SDK: what each sends, prints and
// returns as exit code.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CameraTestHarness.h"
#include "app/Runs.h"
#include "camera/Exposure.h"

namespace fs = std::filesystem;

namespace {

using fake::Event;
using fake::sdk;

class RunCameraTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    // The runs write into "captures" under the working directory.
    oldDir_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("kamora-run-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(oldDir_);
    fs::remove_all(dir_);
    CameraTest::TearDown();
  }

  int run(const char* mode, const Options& options, const char* ip = kIp, const char* mac = kMac) {
    const char* argv[] = {"kamora", mode, ip, mac, nullptr};
    if (std::string(mode) == "--ptz") return runPtz(argv, options);
    return runSingleCamera(mode, argv, options);
  }

  fs::path dir_;

 private:
  fs::path oldDir_;
};

// The exposure values that reached the camera, as (code, value) pairs.
std::vector<std::pair<std::int64_t, std::int64_t>> sentProperties() {
  std::vector<std::pair<std::int64_t, std::int64_t>> sent;
  for (const fake::Call& c : sdk().calls("SetDeviceProperty"))
    sent.push_back({c.ints[0], c.ints[2]});
  return sent;
}

TEST_F(RunCameraTest, ExposureGoesOutInFixedOrderWithTheIsoCutTo24Bits) {
  struct Case {
    const char* name;
    Exposure e;
    std::vector<std::pair<std::int64_t, std::int64_t>> sent;
  };
  Exposure all;
  all.hasEv = true, all.ev = -0.7;
  all.hasShutter = true, all.shutterNum = 1, all.shutterDen = 250;
  all.hasFNumber = true, all.fNumber = 5.6;
  all.hasIso = true, all.iso = 0x1000000 + 400;
  Exposure isoTop;
  isoTop.hasIso = true, isoTop.iso = 0x1000000;
  Exposure isoMax;
  isoMax.hasIso = true, isoMax.iso = 0xFFFFFF;
  const Case cases[] = {
      {"all four", all, {{0x0104, 400}, {0x0100, 560}, {0x0103, 0x000100FA}, {0x0101, 0xFD44}}},
      {"iso 16777216 becomes 0", isoTop, {{0x0104, 0}}},
      {"iso 16777215 unchanged", isoMax, {{0x0104, 0xFFFFFF}}},
      {"nothing set", Exposure(), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sdk().reset();
    CameraController controller;
    connect(controller);
    applyExposure(controller, c.e);
    EXPECT_EQ(sentProperties(), c.sent);
  }
}

TEST_F(RunCameraTest, RefusedIsoDoesNotStopTheShutterOrChangeTheExitCode) {
  Options o;
  o.exposure.hasIso = true, o.exposure.iso = 100;
  o.exposure.hasShutter = true, o.exposure.shutterNum = 1, o.exposure.shutterDen = 500;
  sdk().queueResults("SetDeviceProperty", {VCSDK::VcError_PropertyInvalidValue});
  startOutput();
  EXPECT_EQ(run("--connect-ip", o), 0);
  const std::string out = output();
  EXPECT_NE(out.find("[info] conectado.\n[error] setIso(0x000064): 0x00008201\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(sentProperties(), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                                  {0x0104, 100}, {0x0103, 0x000101F4}}));
  EXPECT_EQ(sdk().count("ReleaseDevice"), 1);
}

TEST_F(RunCameraTest, ConnectionFailuresGiveExitFourOrFive) {
  struct Case {
    const char* name;
    const char* ip;
    VCSDK::VcStatus connectCode;
    Event onConnect;
    int exit;
    bool timeoutLine;
  } cases[] = {
      {"malformed ip", "127.0.0.999", 0, Event::connected(), 4, false},
      {"refused request", kIp, VCSDK::VcError_AddressNotAllowed, Event::connected(), 4, false},
      {"camera reports an error", kIp, 0, Event::error(VCSDK::VcError_ConnectAuthRequired, 30), 5,
       true},
      {"camera drops the link", kIp, 0, Event::disconnected(VCSDK::VcError_ConnectionLost, 30), 5,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sdk().reset();
    sdk().setResult("Connect", c.connectCode);
    sdk().onConnect(c.onConnect);
    startOutput();
    EXPECT_EQ(run("--capture", Options(), c.ip), c.exit);
    const std::string out = output();
    EXPECT_EQ(out.find("[error] timeout/erro ao conectar\n") != std::string::npos, c.timeoutLine)
        << out;
    EXPECT_EQ(out.find("[info] conectado."), std::string::npos) << out;
    EXPECT_EQ(sdk().count("SetSaveInfo"), 0);
  }
}

TEST_F(RunCameraTest, CaptureSeriesCountsDownloadsAndGoesOnAfterFailures) {
  Options o;
  o.shots = 3;
  sdk().queueOnShutterRelease({Event::download("", 10),
                               Event::error(VCSDK::VcError_CaptureFailed, 10),
                               Event::download("", 10)});
  startOutput();
  EXPECT_EQ(run("--capture", o), 0);
  const std::string out = output();
  EXPECT_EQ(sdk().last("SetSaveInfo").texts,
            (fake::Texts{std::string("captures"), std::string("KAMORA")}));
  for (const char* line : {"[info] foto 1/3...\n", "[info] foto 2/3...\n", "[info] foto 3/3...\n",
                           "[info] captura encerrada (2/3 fotos baixadas).\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
  EXPECT_EQ(sdk().count("SendCommand"), 6);
  EXPECT_EQ(sdk().count("ReleaseDevice"), 1);
}

TEST_F(RunCameraTest, CaptureWithZeroShotsAndWithRefusedSaveInfo) {
  Options o;
  o.shots = 0;
  startOutput();
  EXPECT_EQ(run("--capture", o), 0);
  EXPECT_NE(output().find("[info] captura encerrada (0/0 fotos baixadas).\n"), std::string::npos);
  EXPECT_EQ(sdk().count("SendCommand"), 0);

  sdk().reset();
  sdk().setResult("SetSaveInfo", VCSDK::VcError_SaveInfoRefused);
  startOutput();
  EXPECT_EQ(run("--capture", Options()), 6);
  const std::string out = output();
  EXPECT_NE(out.find("[error] SetSaveInfo: 0x00008203\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("[info] foto"), std::string::npos) << out;
  EXPECT_EQ(sdk().count("SendCommand"), 0);
  EXPECT_EQ(sdk().count("ReleaseDevice"), 1);  // disconnected before exit 6
}

TEST_F(RunCameraTest, LiveViewWritesFramesAndReportsTheCountUnlessWindowed) {
  sdk().setLiveView([] {
    fake::LiveViewStep s;
    s.picture = fake::jpegBytes(64, 5);
    return s;
  }());
  Options o;
  o.frames = 3;
  startOutput();
  EXPECT_EQ(run("--liveview", o), 0);
  std::string out = output();
  EXPECT_NE(out.find("[info] live view encerrado (3 frames).\n"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(dir_ / "captures" / "frame_00002.jpg"));
  EXPECT_FALSE(fs::exists(dir_ / "captures" / "frame_00003.jpg"));

  o.window = true;
  o.frames = 2;
  startOutput();
  EXPECT_EQ(run("--liveview", o), 0);
  out = output();
  const size_t warn = out.find("[warn] compilado sem OpenCV; gravando em disco.\n");
  const size_t frame = out.find("[liveview] ");
  ASSERT_NE(warn, std::string::npos) << out;
  ASSERT_NE(frame, std::string::npos) << out;
  EXPECT_LT(warn, frame);
  EXPECT_EQ(out.find("live view encerrado"), std::string::npos) << out;
}

TEST_F(RunCameraTest, PtzRunUsesItsModelAndNeverTheCredentials) {
  Options o;
  o.ssh = true;
  o.user = "admin";
  o.pass = "secret";
  o.action = "preset-recall";
  o.num = 65536 + 3;
  startOutput();
  EXPECT_EQ(run("--ptz", o), 0);
  const std::string out = output();
  EXPECT_NE(out.find("[info] conectado (PTZ).\n"), std::string::npos) << out;
  const fake::Call create = sdk().last("CreateCameraObjectInfoEthernetConnection");
  EXPECT_EQ(create.ints[0], 25);
  EXPECT_EQ(create.ints[2], 1);
  EXPECT_EQ(sdk().last("Connect").texts, (fake::Texts{std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(sdk().last("ExecuteControlCodeValue").ints, (fake::Ints{0xF015, 3}));
  EXPECT_EQ(sdk().count("ReleaseDevice"), 1);
}

TEST_F(RunCameraTest, PtzActionsAndTheirFailures) {
  struct Case {
    const char* action;
    const char* fn;
    fake::Ints ints;
    int num = 9;
  } cases[] = {
      {"home", "ControlPTZF", {4}},
      {"stop", "ControlPTZF", {6}},
      {"move", "ControlPTZF", {3}},
      {"absolute", "ControlPTZF", {1}},
      {"preset-set", "PresetPTZFSet", {9, 1, 1}},
      {"preset-clear", "PresetPTZFClear", {9}},
      // The preset keeps the low 16 bits of --num: bit 15 included.
      {"preset-set", "PresetPTZFSet", {40000, 1, 1}, 40000},
      {"preset-recall", "ExecuteControlCodeValue", {0xF015, 40000}, 65536 + 40000},
      {"preset-clear", "PresetPTZFClear", {65535}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    sdk().reset();
    Options o;
    o.action = c.action;
    o.num = c.num;
    o.pan = -20;
    o.tilt = 15;
    o.speed = 7;
    EXPECT_EQ(run("--ptz", o), 0);
    EXPECT_EQ(sdk().last(c.fn).ints, c.ints);
    if (std::string(c.action) == "move") {
      EXPECT_EQ(sdk().last(c.fn).ptzf->pan.speed, -20);
      EXPECT_EQ(sdk().last(c.fn).ptzf->tilt.speed, 15);
    }
    if (std::string(c.action) == "absolute") {
      EXPECT_EQ(sdk().last(c.fn).ptzf->pan.position, -20);
      EXPECT_EQ(sdk().last(c.fn).ptzf->tilt.position, 15);
      EXPECT_EQ(sdk().last(c.fn).ptzf->tilt.speed, 7);
    }
  }

  // A refused action still ends with exit 0; an unknown one only warns.
  sdk().reset();
  sdk().setResult("ControlPTZF", VCSDK::VcError_PtzUnsupported);
  Options home;
  home.action = "home";
  EXPECT_EQ(run("--ptz", home), 0);
  sdk().reset();
  startOutput();
  EXPECT_EQ(run("--ptz", Options()), 0);
  std::string out = output();
  EXPECT_NE(out.find("[warn] --do desconhecido: \n"), std::string::npos) << out;
  EXPECT_EQ(sdk().count("ReleaseDevice"), 1);

  // Any connection failure is exit 5 with one line, the malformed address
  // included.
  sdk().reset();
  startOutput();
  EXPECT_EQ(run("--ptz", home, "127.0.0"), 5);
  out = output();
  EXPECT_EQ(out, "[error] IP invalido: 127.0.0\n[error] falha ao conectar\n");
  sdk().reset();
  sdk().onConnect(Event::error(VCSDK::VcError_ConnectRefused, 10));
  startOutput();
  EXPECT_EQ(run("--ptz", home), 5);
  EXPECT_NE(output().find("[error] falha ao conectar\n"), std::string::npos);
  EXPECT_EQ(sdk().count("ControlPTZF"), 0);
}

TEST_F(RunCameraTest, MultiCaptureWithoutCamerasSaysSoAndExitsZero) {
  startOutput();
  EXPECT_EQ(runMultiCapture(Options()), 0);
  EXPECT_EQ(output(), "Cameras encontradas: 0\n[info] nenhuma camera conectada.\n");
}

}  // namespace
