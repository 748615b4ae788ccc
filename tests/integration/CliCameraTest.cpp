// "--connect-ip", "--capture" and "--liveview" against virtual cameras: the
// lines printed, the exit code, the files written and what the camera got.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "tests/support/Vcam.h"

namespace {

using namespace clitest;
using Lines = std::vector<std::string>;

bool isJpeg(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  return b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8 && b[b.size() - 2] == 0xFF &&
         b[b.size() - 1] == 0xD9;
}

TEST(CliCameraTest, ConnectIpSendsEveryExposureValue) {
  auto cam = startCamera("127.0.30.1", "02:00:00:00:30:01");
  ASSERT_TRUE(cam);
  CliRun r = runKamora({"--connect-ip", cam->ip(), cam->mac(), "--iso", "800", "--fnumber", "8",
                        "--shutter", "1/250", "--ev", "-0.7"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.mainLines, (Lines{kVersionLine, kAccepted, "[info] conectado."})) << r.output;
  EXPECT_EQ(r.count("[callback] OnConnected"), 1) << r.output;
  EXPECT_EQ(r.errorOutput, "");
  nlohmann::json s = cam->state();
  EXPECT_EQ(s["iso"], 800);
  EXPECT_EQ(s["fnumber"], 800);
  EXPECT_EQ(s["shutter"], 0x000100FA);
  EXPECT_EQ(s["ev"], -700);
  EXPECT_EQ(s["sessions"], 0);     // disconnected at the end
  EXPECT_TRUE(r.files().empty());  // "--connect-ip" writes nothing
}

TEST(CliCameraTest, RefusedIsoDoesNotStopTheShutter) {
  auto cam = startCamera("127.0.30.2", "02:00:00:00:30:02");
  ASSERT_TRUE(cam);
  // 123 is no ISO the body offers; ISO 16777316 reaches it as 100 only if
  // the top byte is cut, which the second run checks.
  CliRun r =
      runKamora({"--connect-ip", cam->ip(), cam->mac(), "--iso", "123", "--shutter", "1/500"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.mainLines, (Lines{kVersionLine, kAccepted, "[info] conectado.",
                                "[error] setIso(0x00007B): 0x00008201"}))
      << r.output;
  nlohmann::json s = cam->state();
  EXPECT_EQ(s["iso"], 100);  // unchanged
  EXPECT_EQ(s["shutter"], 0x000101F4);

  r = runKamora({"--connect-ip", cam->ip(), cam->mac(), "--iso", "16777316"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(cam->state()["iso"], 100);
  r = runKamora({"--connect-ip", cam->ip(), cam->mac(), "--iso", "16777416"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(cam->state()["iso"], 200);
}

TEST(CliCameraTest, MalformedOrOutsideAddressesExitFourWithoutTheTimeoutLine) {
  struct Case {
    std::vector<std::string> args;
    Lines lines;
  } cases[] = {
      {{"--connect-ip", "127.0.30", "02:00:00:00:30:09"},
       {kVersionLine, "[error] IP invalido: 127.0.30"}},
      {{"--capture", "127.0.30.9", "02-00-00-00-30-09"},
       {kVersionLine, "[error] MAC invalido: 02-00-00-00-30-09"}},
      // A documentation-only address: the SDK refuses it before any traffic.
      {{"--liveview", "192.0.2.10", "02:00:00:00:30:09"},
       {kVersionLine, "[error] CreateCameraObjectInfoEthernetConnection: 0x00008010"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    CliRun r = runKamora(c.args);
    EXPECT_EQ(r.exitCode, 4) << r.output;
    EXPECT_EQ(r.mainLines, c.lines) << r.output;
    EXPECT_TRUE(r.callbackLines.empty()) << r.output;
  }
}

TEST(CliCameraTest, ConnectionNeverConfirmedExitsFive) {
  auto refusing = startCamera("127.0.30.5", "02:00:00:00:30:05");
  auto silent = startCamera("127.0.30.4", "02:00:00:00:30:04");
  ASSERT_TRUE(refusing && silent);
  ASSERT_TRUE(refusing->fault("refuse-link"));
  ASSERT_TRUE(silent->fault("never-ready"));
  const Lines failed = {kVersionLine, kAccepted, "[error] timeout/erro ao conectar"};
  struct Case {
    const char* name;
    std::string ip, mac;
    const char* callback;
    long long minMs, maxMs;
  } cases[] = {
      // Nothing listens at this address.
      {"no camera", "127.0.30.3", "02:00:00:00:30:03", "[callback] OnError (0x00008101)", 0, 10000},
      {"link refused", refusing->ip(), refusing->mac(), "[callback] OnError (0x00008106)", 0,
       10000},
      {"wrong MAC", refusing->ip(), "02:00:00:00:30:99", "[callback] OnError (0x00008102)", 0,
       10000},
      {"never ready", silent->ip(), silent->mac(), nullptr, 14500, 25000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    CliRun r = runKamora({"--capture", c.ip, c.mac});
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    EXPECT_EQ(r.exitCode, 5) << r.output;
    Lines expected = failed;
    EXPECT_EQ(r.mainLines, expected) << r.output;
    if (c.callback)
      EXPECT_EQ(r.callbackLines, (Lines{c.callback})) << r.output;
    else
      EXPECT_TRUE(r.callbackLines.empty()) << r.output;
    EXPECT_GE(ms, c.minMs);
    EXPECT_LE(ms, c.maxMs);
    EXPECT_TRUE(r.files().empty());
  }
  EXPECT_EQ(silent->state()["sessions"], 0);  // the unconfirmed link was let go
}

TEST(CliCameraTest, CaptureDownloadsEachPictureIntoCaptures) {
  auto cam = startCamera("127.0.31.1", "02:00:00:00:31:01");
  ASSERT_TRUE(cam);
  CliRun r = runKamora({"--capture", cam->ip(), cam->mac(), "--shots", "3", "--fnumber", "4"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string waiting = "[info] disparo enviado, aguardando download...";
  EXPECT_EQ(r.mainLines, (Lines{kVersionLine, kAccepted, "[info] conectado.", "[info] foto 1/3...",
                                waiting, "[info] foto 2/3...", waiting, "[info] foto 3/3...",
                                waiting, "[info] captura encerrada (3/3 fotos baixadas)."}))
      << r.output;
  const Lines files = r.files();
  ASSERT_EQ(files, (Lines{"KAMORA_00001.JPG", "KAMORA_00002.JPG", "KAMORA_00003.JPG"}));
  for (const std::string& f : files) {
    EXPECT_EQ(r.count("[callback] OnCompleteDownload: " + r.workDir + "/captures/" + f), 1)
        << r.output;
    EXPECT_TRUE(isJpeg(std::filesystem::path(r.workDir) / "captures" / f)) << f;
  }
  nlohmann::json s = cam->state();
  EXPECT_EQ(s["fnumber"], 400);
  EXPECT_EQ(s["save_folder"], "captures");
  EXPECT_EQ(s["save_prefix"], "KAMORA");
  EXPECT_EQ(s["priority_key"], 2);
  EXPECT_EQ(s["store_destination"], 1);
  EXPECT_EQ(s["downloads"], 3);

  // No shots: the camera is prepared but never fired.
  r = runKamora({"--capture", cam->ip(), cam->mac(), "--shots", "0"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.mainLines.back(), "[info] captura encerrada (0/0 fotos baixadas).");
  EXPECT_EQ(cam->state()["shots"], 3);
}

TEST(CliCameraTest, RefusedSaveSettingsExitSixAfterDisconnecting) {
  auto cam = startCamera("127.0.31.2", "02:00:00:00:31:02");
  ASSERT_TRUE(cam);
  ASSERT_TRUE(cam->fault("refuse-saveinfo"));
  CliRun r = runKamora({"--capture", cam->ip(), cam->mac(), "--shots", "2"});
  EXPECT_EQ(r.exitCode, 6) << r.output;
  EXPECT_EQ(r.mainLines, (Lines{kVersionLine, kAccepted, "[info] conectado.",
                                "[error] SetSaveInfo: 0x00008203"}))
      << r.output;
  nlohmann::json s = cam->state();
  EXPECT_EQ(s["shots"], 0);
  EXPECT_EQ(s["sessions"], 0);
}

TEST(CliCameraTest, SeriesWhereEveryPictureTimesOutStillEndsWithExitZero) {
  auto cam = startCamera("127.0.31.3", "02:00:00:00:31:03");
  ASSERT_TRUE(cam);
  // Every download would land 40 s after its release: past its own 15 s wait
  // and past the next picture's too, where a late one would still count.
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "40000"}}));
  const auto start = std::chrono::steady_clock::now();
  CliRun r = runKamora({"--capture", cam->ip(), cam->mac(), "--shots", "2"}, 90000);
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string waiting = "[info] disparo enviado, aguardando download...";
  const std::string timeout = "[error] timeout aguardando o download da foto";
  EXPECT_EQ(r.mainLines, (Lines{kVersionLine, kAccepted, "[info] conectado.", "[info] foto 1/2...",
                                waiting, timeout, "[info] foto 2/2...", waiting, timeout,
                                "[info] captura encerrada (0/2 fotos baixadas)."}))
      << r.output;
  EXPECT_GE(ms, 30000);
  EXPECT_EQ(cam->state()["shots"], 2);
  EXPECT_TRUE(r.files().empty());
}

TEST(CliCameraTest, LiveViewWritesNumberedFrames) {
  auto cam = startCamera("127.0.32.1", "02:00:00:00:32:01");
  ASSERT_TRUE(cam);
  CliRun r = runKamora({"--liveview", cam->ip(), cam->mac(), "--frames", "4"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  ASSERT_EQ(r.files(),
            (Lines{"frame_00000.jpg", "frame_00001.jpg", "frame_00002.jpg", "frame_00003.jpg"}));
  Lines expected = {kVersionLine, kAccepted, "[info] conectado."};
  for (const std::string& f : r.files()) {
    const auto path = std::filesystem::path(r.workDir) / "captures" / f;
    EXPECT_TRUE(isJpeg(path)) << f;
    expected.push_back("[liveview] captures/" + f + " (" +
                       std::to_string(std::filesystem::file_size(path)) + " bytes)");
  }
  expected.push_back("[info] live view encerrado (4 frames).");
  EXPECT_EQ(r.mainLines, expected) << r.output;
  EXPECT_EQ(cam->state()["lv_frames"], 4);
}

TEST(CliCameraTest, LiveViewWindowWarnsFirstAndPrintsNoCount) {
  auto cam = startCamera("127.0.32.2", "02:00:00:00:32:02");
  ASSERT_TRUE(cam);
  // Two of the five requests bring no picture; the files stay numbered
  // without a gap.
  ASSERT_TRUE(cam->fault("lv-empty", {{"count", "2"}}));
  CliRun r = runKamora({"--liveview", cam->ip(), cam->mac(), "--frames", "5", "--window"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  ASSERT_GE(r.mainLines.size(), 6u) << r.output;
  EXPECT_EQ(r.mainLines[3], "[warn] compilado sem OpenCV; gravando em disco.");
  EXPECT_EQ(r.mainLines.back().rfind("[liveview] captures/frame_00002.jpg", 0), 0u) << r.output;
  EXPECT_EQ(r.output.find("live view encerrado"), std::string::npos);
  EXPECT_EQ(r.files(), (Lines{"frame_00000.jpg", "frame_00001.jpg", "frame_00002.jpg"}));
}

}  // namespace
