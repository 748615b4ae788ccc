// "--multi-capture" against virtual cameras found by discovery on
// 127.0.0.x: a camera that never reports ready is left out, the others keep
// their enumeration index in their messages and file names, and are fired
// one after another, volley by volley.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/integration/CliTestSupport.h"
#include "tests/support/Vcam.h"

namespace {

using clitest::CliRun;
using clitest::runKamora;
using Lines = std::vector<std::string>;

TEST(MultiCaptureTest, MiddleCameraNeverReadyIsLeftOutAndTheOthersFireInTurn) {
  std::vector<std::unique_ptr<VirtualCamera>> cams;
  for (int i = 0; i < 3; ++i) {
    VcamOptions o;
    o.ip = "127.0.0." + std::to_string(41 + i);
    o.mac = "02:00:00:00:00:" + std::to_string(41 + i);
    cams.push_back(VirtualCamera::start(o));
    ASSERT_TRUE(cams.back()) << VirtualCamera::lastError();
  }
  ASSERT_TRUE(cams[1]->fault("never-ready"));

  const CliRun r = runKamora({"--multi-capture", "--shots", "2"}, 90000);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  const std::string waiting = "[info] disparo enviado, aguardando download...";
  EXPECT_EQ(r.mainLines,
            (Lines{"VcSDK versao: 1.00.00.00", "Cameras encontradas: 3",
                   "[info] camera 0 conectada.", "[warn] camera 1 nao conectou a tempo",
                   "[info] camera 2 conectada.", "[info] disparo 1/2 em 2 camera(s)...", waiting,
                   waiting, "[info] disparo 2/2 em 2 camera(s)...", waiting, waiting}))
      << r.output;

  // Pictures land in the order fired: camera 0, camera 2, camera 0, camera 2.
  Lines downloads;
  for (const std::string& line : r.callbackLines)
    if (line.rfind("[callback] OnCompleteDownload: ", 0) == 0)
      downloads.push_back(std::filesystem::path(line.substr(31)).filename().string());
  EXPECT_EQ(downloads, (Lines{"KAMORA_CAM0_00001.JPG", "KAMORA_CAM2_00001.JPG",
                              "KAMORA_CAM0_00002.JPG", "KAMORA_CAM2_00002.JPG"}))
      << r.output;
  EXPECT_EQ(r.files(), (Lines{"KAMORA_CAM0_00001.JPG", "KAMORA_CAM0_00002.JPG",
                              "KAMORA_CAM2_00001.JPG", "KAMORA_CAM2_00002.JPG"}));

  const nlohmann::json s0 = cams[0]->state(), s1 = cams[1]->state(), s2 = cams[2]->state();
  EXPECT_EQ(s0["save_prefix"], "KAMORA_CAM0");
  EXPECT_EQ(s2["save_prefix"], "KAMORA_CAM2");
  EXPECT_EQ(s0["save_folder"], "captures");
  EXPECT_EQ(s0["downloads"], 2);
  EXPECT_EQ(s2["downloads"], 2);
  EXPECT_EQ(s1["shots"], 0);
  for (const auto* s : {&s0, &s1, &s2}) EXPECT_EQ((*s)["sessions"], 0) << s->dump();
}

TEST(MultiCaptureTest, NoCameraOnTheNetwork) {
  const CliRun r = runKamora({"--multi-capture"}, 60000);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output,
            "VcSDK versao: 1.00.00.00\nCameras encontradas: 0\n[info] nenhuma camera conectada.\n");
  EXPECT_TRUE(std::filesystem::is_empty(r.workDir));
}

}  // namespace
