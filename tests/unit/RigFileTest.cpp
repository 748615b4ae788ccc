// The rig file: every way a file can be wrong gives its one line (naming the
// file, the camera and the field, and never a value from the file but ids),
// what is written reads back the same, and a rewrite replaces the file whole
// with its permissions kept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "server/rig/RigFile.h"

namespace {

namespace fs = std::filesystem;

const std::string kLeft = R"({"id":"left","ip":"127.0.0.3","mac":"02:00:00:00:00:03")";

std::string withCameras(const std::string& entries) { return "{\"cameras\":[" + entries + "]}"; }

TEST(RigFileTest, EachFaultIsOneLineNamingTheFileTheCameraAndTheField) {
  const struct {
    std::string text;
    std::string line;  // after "[error] rig.json: "
  } rows[] = {
      {"{\n  \"cameras\": [,]\n}", "JSON invalido na linha 2, coluna 15"},
      {"[]", "nao e um objeto JSON"},
      {R"({"cameras":{}})", "campo \"cameras\" ausente ou nao e uma lista"},
      {R"({"camera":[]})", "campo \"camera\" desconhecido"},
      {withCameras(kLeft + R"(,"ipp":"x"})"), "camera \"left\": campo \"ipp\" desconhecido"},
      {withCameras(kLeft + R"(,"s3gredo\nx":1})"), "camera \"left\": campo ? desconhecido"},
      {withCameras(R"({"id":"left","mac":"02:00:00:00:00:03"})"),
       "camera \"left\": campo \"ip\" ausente"},
      {withCameras(R"({"ip":"127.0.0.3","mac":"02:00:00:00:00:03"})"),
       "camera 1: campo \"id\" ausente"},
      {withCameras(kLeft + "}," + R"({"id":"Right","ip":"127.0.0.4","mac":"02:0:0:0:0:4"})"),
       "camera 2: campo \"id\" invalido"},
      {withCameras(kLeft + "}," + kLeft + "}"), "camera \"left\": campo \"id\" repetido"},
      {withCameras(R"({"id":"main","ip":"127.0.0.3","mac":"02:00:00:00:00:03"})"),
       "camera \"main\": campo \"id\" reservado"},
      {withCameras(R"({"id":"left","ip":"300.0.0.3","mac":"02:00:00:00:00:03"})"),
       "camera \"left\": campo \"ip\" invalido"},
      {withCameras(R"({"id":"left","ip":"127.0.0.3","mac":"02-00"})"),
       "camera \"left\": campo \"mac\" invalido"},
      {withCameras(kLeft + R"(,"model":"SB_Z9"})"), "camera \"left\": campo \"model\" invalido"},
      {withCameras(kLeft + R"(,"ssh":"yes"})"), "camera \"left\": campo \"ssh\" invalido"},
      {withCameras(kLeft + R"(,"user":"ana","pass":1234})"),
       "camera \"left\": campo \"pass\" invalido"},
      {withCameras("7"), "camera 1: nao e um objeto"},
  };
  for (const auto& row : rows) {
    const RigFileRead read = parseRigFile(row.text, "rig.json");
    EXPECT_EQ(read.error, "[error] rig.json: " + row.line) << row.text;
    EXPECT_TRUE(read.cameras.empty());
  }
}

TEST(RigFileTest, WhatIsWrittenReadsBackTheSame) {
  std::vector<RigCamera> cameras(3);
  cameras[0] = {"left",
                {"127.0.0.3", "02:00:00:00:00:03", VCSDK::VcCameraModel_SB_A5, false, "", ""}};
  cameras[1] = {
      "cine",
      {"127.0.0.2", "02:00:00:00:00:02", VCSDK::VcCameraModel_CB_P7, true, "ana", "s3 \"gr\"edo"}};
  cameras[2] = {"ptz-1",
                {"127.0.0.4", "02:00:00:00:00:04", VCSDK::VcCameraModel_PZ_M7, false, "", ""}};
  const RigFileRead read = parseRigFile(rigFileText(cameras), "rig.json");
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(read.cameras.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const CameraRequest& a = cameras[i].request;
    const CameraRequest& b = read.cameras[i].request;
    EXPECT_EQ(read.cameras[i].id, cameras[i].id);
    EXPECT_EQ(std::tie(a.ip, a.mac, a.model, a.ssh, a.user, a.pass),
              std::tie(b.ip, b.mac, b.model, b.ssh, b.user, b.pass));
  }
  // Defaults: SB_A4 without SSH, as /connect takes them.
  const RigFileRead plain = parseRigFile(withCameras(kLeft + "}"), "rig.json");
  ASSERT_EQ(plain.cameras.size(), 1u);
  EXPECT_EQ(plain.cameras[0].request.model, VCSDK::VcCameraModel_SB_A4);
  EXPECT_FALSE(plain.cameras[0].request.ssh);
  EXPECT_EQ(parseRigFile(withCameras(""), "rig.json").error, "");
}

TEST(RigFileTest, ARewriteReplacesTheFileWholeAndKeepsItsPermissions) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("rigfile-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "rig.json").string();
  const auto modeOf = [&path] {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0u;
  };
  const auto inodeOf = [&path] {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  std::string why;
  ASSERT_TRUE(writeFileAtomically(path, "one\n", why)) << why;
  EXPECT_EQ(modeOf(), 0600u);  // new: the owner's alone, as it may hold a password
  ::chmod(path.c_str(), 0640);
  const auto before = inodeOf();
  ASSERT_TRUE(writeFileAtomically(path, "two\n", why)) << why;
  EXPECT_NE(inodeOf(), before) << "renamed over, not written in place";
  EXPECT_EQ(modeOf(), 0640u);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "two\n");
  EXPECT_FALSE(fs::exists(path + ".tmp"));

  const RigFileRead read = readRigFile(path);
  EXPECT_TRUE(read.othersMayRead);
  EXPECT_NE(read.error.find("JSON invalido"), std::string::npos);
  EXPECT_FALSE(readRigFile((dir / "none.json").string()).existed);
  EXPECT_FALSE(writeFileAtomically((dir / "no" / "rig.json").string(), "x", why));
  fs::remove_all(dir);
}

}  // namespace
