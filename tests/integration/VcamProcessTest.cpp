// kamora-vcam as a process: its command line, refusals at start-up, the
// inspection interface, and how --log and --scene change the picture.
// Addresses 127.0.15.x.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <fstream>

#include "tests/support/SdkRecorder.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

namespace {

double lumaStdDev(const std::vector<std::uint8_t>& rgb) {
  double sum = 0, sq = 0, n = rgb.size() / 3.0;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    double y = 0.299 * rgb[i] + 0.587 * rgb[i + 1] + 0.114 * rgb[i + 2];
    sum += y;
    sq += y * y;
  }
  double mean = sum / n;
  return std::sqrt(std::max(0.0, sq / n - mean * mean));
}

}  // namespace

TEST(VcamProcess, RefusesToStartOnBadCommandLines) {
  const std::string vcam = binaryPath("kamora-vcam");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--ip", "192.168.1.10"}, "127.0.0.0/8"},
      {{"--ip", "0.0.0.0"}, "127.0.0.0/8"},
      {{"--ip", "localhost"}, "127.0.0.0/8"},
      {{"--ip", "127.0.15.1", "--mac", "zz:00:00:00:00:01"}, "MAC invalido"},
      {{"--ip", "127.0.15.1", "--user", "u"}, "--user e --pass"},
      {{"--ip", "127.0.15.1", "--lv-size", "10x10"}, "tamanho invalido"},
      {{"--ip", "127.0.15.1", "--scene", "/nonexistent/photo.jpg"}, "nao foi possivel ler"},
      {{"--ip", "127.0.15.1", "--bogus"}, "opcao desconhecida"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {vcam};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult r = runProgram(argv, "", 5000);
    SCOPED_TRACE(c.args.back());
    EXPECT_NE(0, r.exitCode);
    EXPECT_NE(-1, r.exitCode) << "it must exit, not listen";
    EXPECT_NE(std::string::npos, r.output.find(c.says)) << r.output;
    EXPECT_TRUE(r.errorOutput.empty());
  }
}

TEST(VcamProcess, SecondCameraOnTheSameAddressFailsClearly) {
  VcamOptions o;
  o.ip = "127.0.15.2";
  auto first = VirtualCamera::start(o);
  ASSERT_TRUE(first) << VirtualCamera::lastError();
  RunResult r = runProgram(vcamArgs(o), "", 5000);
  EXPECT_EQ(3, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("porta em uso")) << r.output;
  EXPECT_TRUE(first->running());
  EXPECT_FALSE(first->state().is_null());
}

TEST(VcamProcess, StateReportsIdentityDefaultsAndFaults) {
  VcamOptions o;
  o.ip = "127.0.15.3";
  o.mac = "02:aa:bb:cc:dd:03";
  o.model = "CB_F6";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  nlohmann::json s = cam->state();
  EXPECT_EQ("CB_F6", s["model"]);
  EXPECT_EQ("02:AA:BB:CC:DD:03", s["mac"]);
  EXPECT_EQ(false, s["linked"]);
  EXPECT_EQ(100, s["battery"]);
  for (const char* key :
       {"iso",         "fnumber",     "shutter", "ev",           "mode",
        "focus",       "wb",          "kelvin",  "priority_key", "store_destination",
        "save_folder", "save_prefix", "shots",   "downloads",    "on_card",
        "lv_frames",   "pan",         "tilt",    "pan_speed",    "tilt_speed",
        "presets",     "last_ptz"})
    EXPECT_TRUE(s.contains(key)) << key;
  EXPECT_TRUE(cam->fault("capture-delay", {{"ms", "100"}}));
  EXPECT_TRUE(cam->fault("refuse-prop", {{"prop", "0x0100"}}));
  EXPECT_FALSE(cam->fault("refuse-prop"));  // needs the property
  EXPECT_EQ(2u, cam->state()["faults"].size());
  EXPECT_TRUE(cam->fault("clear"));
  EXPECT_TRUE(cam->state()["faults"].empty());
}

TEST(VcamProcess, LogProfileIsFlatterAndSceneShowsThePhoto) {
  VcamOptions o;
  o.lvSize = "320x212";
  o.ip = "127.0.15.4";
  auto normal = VirtualCamera::start(o);
  ASSERT_TRUE(normal) << VirtualCamera::lastError();
  o.ip = "127.0.15.5";
  o.log = true;
  auto flat = VirtualCamera::start(o);
  ASSERT_TRUE(flat) << VirtualCamera::lastError();
  std::vector<std::uint8_t> a, b;
  int w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(normal->frame(), a, w, h));
  ASSERT_TRUE(decodeJpeg(flat->frame(), b, w, h));
  EXPECT_LT(lumaStdDev(b), 0.8 * lumaStdDev(a));

  // A photo of one colour, top half red and bottom half blue.
  std::string dir = makeTempDir("scene");
  const int pw = 400, ph = 300;
  std::vector<std::uint8_t> px(pw * ph * 3);
  for (int y = 0; y < ph; ++y)
    for (int x = 0; x < pw; ++x) {
      std::uint8_t* p = &px[(y * pw + x) * 3];
      p[0] = y < ph / 2 ? 200 : 30;
      p[1] = 40;
      p[2] = y < ph / 2 ? 30 : 200;
    }
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(0, tjCompress2(tj, px.data(), pw, 0, ph, TJPF_RGB, &out, &size, TJSAMP_444, 95, 0));
  std::ofstream(dir + "/scene.jpg", std::ios::binary).write(reinterpret_cast<char*>(out), size);
  tjFree(out);
  tjDestroy(tj);

  o.ip = "127.0.15.6";
  o.log = false;
  o.scene = dir + "/scene.jpg";
  auto photo = VirtualCamera::start(o);
  ASSERT_TRUE(photo) << VirtualCamera::lastError();
  std::vector<std::uint8_t> c;
  ASSERT_TRUE(decodeJpeg(photo->frame(), c, w, h));
  ASSERT_EQ(320, w);
  // Away from the counter in the top-left corner.
  const std::uint8_t* top = &c[(40 * w + 200) * 3];
  const std::uint8_t* bottom = &c[((h - 30) * w + 200) * 3];
  EXPECT_GT(top[0], top[2] + 80);
  EXPECT_GT(bottom[2], bottom[0] + 80);
}
