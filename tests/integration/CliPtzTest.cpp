// "--ptz" against virtual cameras: each action as the head sees it, presets
// stored and recalled across runs, refusals and failed connections.
#include <gtest/gtest.h>

#include <cmath>

#include "CliTestSupport.h"
#include "tests/support/Vcam.h"

namespace {

using namespace clitest;
using Lines = std::vector<std::string>;
using nlohmann::json;

CliRun ptz(const VirtualCamera& cam, std::vector<std::string> args) {
  std::vector<std::string> all = {"--ptz", cam.ip(), cam.mac()};
  all.insert(all.end(), args.begin(), args.end());
  return runKamora(all);
}

// The head is at (pan, tilt) and still.
bool restsAt(VirtualCamera& cam, double pan, double tilt) {
  return cam.waitFor(
      [&](const json& s) {
        return std::fabs(s["pan"].get<double>() - pan) < 0.5 &&
               std::fabs(s["tilt"].get<double>() - tilt) < 0.5 && s["pan_speed"] == 0.0 &&
               s["tilt_speed"] == 0.0;
      },
      5000);
}

const Lines kConnected = {kVersionLine, kAccepted, "[info] conectado (PTZ)."};

TEST(CliPtzTest, HeadMovesAndPresetsAreKeptAcrossRuns) {
  auto cam = startCamera("127.0.33.1", "02:00:00:00:33:01", "CB_P7");
  ASSERT_TRUE(cam);

  CliRun r = ptz(*cam, {"--do", "absolute", "--pan", "100", "--tilt", "-50", "--speed", "40"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.mainLines, kConnected) << r.output;
  json last = cam->state()["last_ptz"];
  EXPECT_EQ(last["type"], 1);
  EXPECT_EQ(last["pan"], (json{{"enable", 1}, {"position", 100}, {"speed", 40}}));
  EXPECT_EQ(last["tilt"], (json{{"enable", 1}, {"position", -50}, {"speed", 40}}));
  EXPECT_TRUE(restsAt(*cam, 100, -50)) << cam->state().dump();

  r = ptz(*cam, {"--do", "preset-set", "--num", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(cam->state()["presets"], (json{{"3", {100, -50}}}));

  r = ptz(*cam, {"--do", "home"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(cam->state()["last_ptz"]["type"], 4);
  EXPECT_TRUE(restsAt(*cam, 0, 0)) << cam->state().dump();

  // 65539 reaches the camera as preset 3.
  r = ptz(*cam, {"--do", "preset-recall", "--num", "65539"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.mainLines, kConnected) << r.output;
  EXPECT_EQ(cam->state()["last_ptz"]["value"], 3);
  EXPECT_TRUE(restsAt(*cam, 100, -50)) << cam->state().dump();

  // A continuous move at pan speed -30 goes on after the run, until a stop.
  r = ptz(*cam, {"--do", "move", "--pan", "-30"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  last = cam->state()["last_ptz"];
  EXPECT_EQ(last["type"], 3);
  EXPECT_EQ(last["pan"], (json{{"enable", 1}, {"position", 0}, {"speed", -30}}));
  EXPECT_EQ(last["tilt"], (json{{"enable", 1}, {"position", 0}, {"speed", 0}}));
  EXPECT_EQ(cam->state()["pan_speed"], -30.0);
  r = ptz(*cam, {"--do", "stop"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  json s = cam->state();
  EXPECT_EQ(s["pan_speed"], 0.0);
  EXPECT_LT(s["pan"].get<double>(), 100.0);

  r = ptz(*cam, {"--do", "preset-clear", "--num", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(cam->state()["presets"], json::object());
  EXPECT_EQ(cam->state()["sessions"], 0);
}

TEST(CliPtzTest, RefusalsAndUnknownActionsStillExitZero) {
  auto head = startCamera("127.0.33.2", "02:00:00:00:33:02", "CB_P7");
  auto body = startCamera("127.0.33.3", "02:00:00:00:33:03", "SB_A4");  // no head
  ASSERT_TRUE(head && body);
  struct Case {
    VirtualCamera* cam;
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {body.get(), {"--do", "home"}, "[error] ptzHome: 0x00008501"},
      {head.get(),
       {"--do", "preset-recall", "--num", "9"},
       "[error] ptzPresetRecall(9): 0x00008503"},
      {head.get(), {"--do", "preset-clear", "--num", "9"}, "[error] ptzPresetClear(9): 0x00008503"},
      {head.get(),
       {"--do", "preset-recall", "--num", "105536"},
       "[error] ptzPresetRecall(40000): 0x00008503"},
      {head.get(),
       {"--do", "preset-set", "--num", "40000"},
       "[error] ptzPresetSet(40000): 0x00008003"},
      {head.get(), {"--do", "preset-set", "--num", "0"}, "[error] ptzPresetSet(0): 0x00008003"},
      {head.get(), {"--do", "absolute", "--pan", "5000"}, "[error] ptzAbsolute: 0x00008502"},
      {head.get(), {"--do", "spin"}, "[warn] --do desconhecido: spin"},
      {head.get(), {}, "[warn] --do desconhecido: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    CliRun r = ptz(*c.cam, c.args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    Lines expected = kConnected;
    expected.push_back(c.line);
    EXPECT_EQ(r.mainLines, expected) << r.output;
  }
  EXPECT_EQ(head->state()["presets"], json::object());
}

TEST(CliPtzTest, SshFlagGoesThroughButNeverTheCredentials) {
  VcamOptions o;
  o.ip = "127.0.33.4";
  o.mac = "02:00:00:00:33:04";
  o.model = "CB_P7";
  o.user = "admin";
  o.pass = "secret";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  // The camera wants SSH with its password: "--ptz" never sends one, so the
  // camera turns the link down even though user and password were given.
  CliRun r = runKamora({"--ptz", cam->ip(), cam->mac(), "--ssh", "--user", "admin", "--pass",
                        "secret", "--do", "home"});
  EXPECT_EQ(r.exitCode, 5) << r.output;
  EXPECT_EQ(r.mainLines.back(), "[error] falha ao conectar") << r.output;
  ASSERT_EQ(r.callbackLines.size(), 1u) << r.output;
  EXPECT_EQ(r.callbackLines[0].rfind("[callback] OnError (0x0000810", 0), 0u) << r.output;
  EXPECT_TRUE(cam->state()["last_ptz"].is_null());

  // The same options reach the camera through "--connect-ip", which does
  // send them.
  r = runKamora(
      {"--connect-ip", cam->ip(), cam->mac(), "--ssh", "--user", "admin", "--pass", "secret"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(CliPtzTest, FailedConnectionIsExitFiveWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    Lines lines;
  } cases[] = {
      {{"--ptz", "127.0.33.300", "02:00:00:00:33:05", "--do", "home"},
       {kVersionLine, "[error] IP invalido: 127.0.33.300", "[error] falha ao conectar"}},
      {{"--ptz", "127.0.33.5", "02:00:00:00:33:05", "--do", "home"},  // nothing there
       {kVersionLine, kAccepted, "[error] falha ao conectar"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    CliRun r = runKamora(c.args);
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_EQ(r.mainLines, c.lines) << r.output;
  }
}

}  // namespace
