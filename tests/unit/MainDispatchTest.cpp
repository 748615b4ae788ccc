// The entry point end to end, against the fake SDK: launch forms, exit codes,
// the option scan's start, which run receives what, and that every run
// happens inside the SDK's lifetime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeSdk.h"
#include "app/KamoraMain.h"
#include "app/ModeDispatch.h"

namespace {

// What the recording runs saw. Function pointers cannot capture, hence a
// file-wide record, cleared before every test.
struct Seen {
  std::string run;  // "single", "ptz", "multi", "server", "app"; empty: none
  std::string mode;
  std::vector<std::string> argv23;  // argv[2], argv[3] for the camera runs
  Options options;
  fake::Names sdkCallsDuringRun;
  int result = 0;  // what the run returns
} seen;

void note(const char* run, const Options* options) {
  seen.run = run;
  if (options) seen.options = *options;
  seen.sdkCallsDuringRun = fake::sdk().names();
}

ModeRuns recordingRuns() {
  ModeRuns runs;
  runs.singleCamera = [](const char* mode, const char* const* argv, const Options& o) {
    note("single", &o);
    seen.mode = mode;
    seen.argv23 = {argv[2], argv[3]};
    return seen.result;
  };
  runs.ptz = [](const char* const* argv, const Options& o) {
    note("ptz", &o);
    seen.argv23 = {argv[2], argv[3]};
    return seen.result;
  };
  runs.multiCapture = [](const Options& o) {
    note("multi", &o);
    return seen.result;
  };
  runs.server = [](const Options& o) {
    note("server", &o);
    return seen.result;
  };
  runs.appMode = [] {
    note("app", nullptr);
    return seen.result;
  };
  return runs;
}

struct Outcome {
  int code;
  std::string out;
};

Outcome runMain(std::vector<const char*> argv) {
  testing::internal::CaptureStdout();
  const int code = kamoraMainWith(static_cast<int>(argv.size()), argv.data(), recordingRuns());
  return {code, testing::internal::GetCapturedStdout()};
}

std::string usageText(const std::string& program) {
  testing::internal::CaptureStdout();
  usage(program.c_str());
  return testing::internal::GetCapturedStdout();
}

const char* const kVersionLine = "VcSDK versao: 1.02.03.04\n";

class MainDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::sdk().reset();
    fake::sdk().setVersion(0x01020304);
    seen = Seen{};
  }
};

TEST_F(MainDispatchTest, NoArgumentsPrintsUsageWithoutTouchingTheSdk) {
  testing::internal::CaptureStdout();
  const char* argv[] = {"/usr/local/bin/kamora", nullptr};
  const int code = kamoraMain(1, argv);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, usageText("/usr/local/bin/kamora"));
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(fake::sdk().names().empty());
}

TEST_F(MainDispatchTest, FailedInitExitsTwoBeforeTheVersionLine) {
  for (auto argv : {std::vector<const char*>{"kamora", "--enum"},
                    std::vector<const char*>{"kamora", "--capture", "127.0.5.1", "aa:bb"},
                    std::vector<const char*>{"/A.app/Contents/MacOS/kamora"}}) {
    SCOPED_TRACE(argv[argv.size() - 1]);
    fake::sdk().reset();
    fake::sdk().setInitResult(false);
    seen = Seen{};
    const Outcome r = runMain(argv);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "[error] VCSDK::Init falhou\n");
    EXPECT_EQ(seen.run, "");
    EXPECT_EQ(fake::sdk().names(), (fake::Names{"Init"}));
  }
}

TEST_F(MainDispatchTest, UsageAfterTheVersionLineForBadModesAndMissingAddresses) {
  const std::vector<std::vector<const char*>> cases = {
      {"kamora", "--bogus"},
      {"kamora", "--ENUM"},
      {"kamora", "--connect-ip", "127.0.5.1"},
      {"kamora", "--liveview"},
      {"kamora", "--capture", "127.0.5.1"},
      {"kamora", "--ptz", "127.0.5.1"},
      {"kamora", "--app-mode"},
  };
  for (const auto& argv : cases) {
    SCOPED_TRACE(std::string(argv[1]) + " argc=" + std::to_string(argv.size()));
    fake::sdk().reset();
    fake::sdk().setVersion(0x01020304);
    seen = Seen{};
    const Outcome r = runMain(argv);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, kVersionLine + usageText("kamora"));
    EXPECT_EQ(seen.run, "");
    EXPECT_EQ(fake::sdk().names(), (fake::Names{"Init", "GetSDKVersion", "Release"}));
  }
}

TEST_F(MainDispatchTest, EnumListsAndExitsZeroWhateverItFinds) {
  auto& f = fake::sdk();
  f.setCameras({fake::camera("SB_A4", "Ethernet", "127.0.5.20")});
  testing::internal::CaptureStdout();
  const char* argv[] = {"kamora", "--enum", "--port", "1", nullptr};
  EXPECT_EQ(kamoraMain(4, argv), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(kVersionLine) +
                "Cameras encontradas: 1\n  [0] modelo=SB_A4 conexao=Ethernet ip=127.0.5.20\n");
  EXPECT_EQ(f.names(),
            (fake::Names{"Init", "GetSDKVersion", "EnumCameraObjects", "ListRelease", "Release"}));

  f.reset();
  f.setVersion(0x01020304);
  f.setResult("EnumCameraObjects", 0x8011);
  testing::internal::CaptureStdout();
  EXPECT_EQ(kamoraMain(2, argv), 0);
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      std::string(kVersionLine) + "Nenhuma camera encontrada (EnumCameraObjects: 0x00008011)\n");
}

TEST_F(MainDispatchTest, AppModeFromTheBundlePathOrTheAppArgument) {
  struct Row {
    std::vector<const char*> argv;
    const char* run;
  };
  const Row rows[] = {
      {{"/Applications/Kamora.app/Contents/MacOS/kamora"}, "app"},
      {{"kamora", "--app"}, "app"},
      {{"kamora", "--app", "--port", "9000", "--server"}, "app"},
      {{"/Applications/Kamora.app/Contents/MacOS/kamora", "--server"}, "server"},
      {{"kamora", "--server", "--app"}, "server"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.argv[0]) + " " + std::to_string(row.argv.size()));
    fake::sdk().reset();
    fake::sdk().setVersion(0x01020304);
    seen = Seen{};
    seen.result = 7;  // app mode exits 0 whatever its run returns
    const Outcome r = runMain(row.argv);
    EXPECT_EQ(seen.run, row.run);
    EXPECT_EQ(r.code, std::string(row.run) == "app" ? 0 : 7);
    EXPECT_EQ(r.out, kVersionLine);
    EXPECT_EQ(seen.sdkCallsDuringRun, (fake::Names{"Init", "GetSDKVersion"}));
    EXPECT_EQ(fake::sdk().names().back(), "Release");
  }
  // A bundle path without arguments but not in a bundle folder is usage.
  fake::sdk().reset();
  const Outcome r = runMain({"/Applications/Kamora.app/kamora"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(fake::sdk().names().empty());
}

TEST_F(MainDispatchTest, EachModeReachesItsRunWithOptionsScannedFromTheRightIndex) {
  struct Row {
    std::vector<const char*> argv;
    const char* run;
    std::function<void(const Seen&)> check;
  };
  const Row rows[] = {
      {{"kamora", "--server", "--port", "9000", "--host", "127.0.5.3"},
       "server",
       [](const Seen& s) {
         EXPECT_EQ(s.options.port, 9000);
         EXPECT_EQ(s.options.host, "127.0.5.3");
       }},
      {{"kamora", "--server"},
       "server",
       [](const Seen& s) {
         EXPECT_EQ(s.options.port, 8080);
         EXPECT_EQ(s.options.host, "0.0.0.0");
       }},
      {{"kamora", "--multi-capture", "--shots", "4"},
       "multi",
       [](const Seen& s) { EXPECT_EQ(s.options.shots, 4); }},
      {{"kamora", "--capture", "--shots", "3"},
       "single",
       [](const Seen& s) {
         // Arguments 2 and 3 are the address, never options.
         EXPECT_EQ(s.mode, "--capture");
         EXPECT_EQ(s.options.shots, 1);
         EXPECT_EQ(s.argv23, (std::vector<std::string>{"--shots", "3"}));
       }},
      {{"kamora", "--connect-ip", "--ssh", "127.0.5.4", "aa:bb:cc:dd:ee:ff"},
       "single",
       [](const Seen& s) {
         EXPECT_FALSE(s.options.ssh);
         EXPECT_EQ(s.argv23, (std::vector<std::string>{"--ssh", "127.0.5.4"}));
       }},
      {{"kamora", "--liveview", "127.0.5.5", "aa:bb:cc:dd:ee:ff", "--window", "--frames"},
       "single",
       [](const Seen& s) {
         EXPECT_EQ(s.mode, "--liveview");
         EXPECT_TRUE(s.options.window);
         EXPECT_EQ(s.options.frames, 100);
       }},
      {{"kamora", "--capture", "127.0.5.6", "aa:bb:cc:dd:ee:ff", "--iso", "800", "--ev", "-0.7",
        "--user", "u", "--pass", "p", "--ssh"},
       "single",
       [](const Seen& s) {
         EXPECT_TRUE(s.options.exposure.hasIso);
         EXPECT_EQ(s.options.exposure.iso, 800u);
         EXPECT_TRUE(s.options.exposure.hasEv);
         EXPECT_DOUBLE_EQ(s.options.exposure.ev, -0.7);
         EXPECT_FALSE(s.options.exposure.hasShutter);
         EXPECT_EQ(s.options.user, "u");
         EXPECT_EQ(s.options.pass, "p");
         EXPECT_TRUE(s.options.ssh);
       }},
      {{"kamora", "--ptz", "127.0.5.7", "aa:bb:cc:dd:ee:ff", "--do", "preset-recall", "--num",
        "70000"},
       "ptz",
       [](const Seen& s) {
         EXPECT_EQ(s.options.action, "preset-recall");
         EXPECT_EQ(s.options.num, 70000);
         EXPECT_EQ(s.argv23, (std::vector<std::string>{"127.0.5.7", "aa:bb:cc:dd:ee:ff"}));
       }},
      {{"kamora", "--ptz", "--do", "home"},
       "ptz",
       [](const Seen& s) {
         EXPECT_EQ(s.options.action, "");
         EXPECT_EQ(s.argv23, (std::vector<std::string>{"--do", "home"}));
       }},
      {{"kamora", "--multi-capture", "--iso", "100", "--shots"},
       "multi",
       [](const Seen& s) {
         EXPECT_EQ(s.options.shots, 1);
         EXPECT_TRUE(s.options.exposure.hasIso);  // read, though the run ignores it
       }},
  };
  int result = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.argv[1]) + " argc=" + std::to_string(row.argv.size()));
    fake::sdk().reset();
    fake::sdk().setVersion(0x01020304);
    seen = Seen{};
    seen.result = result;  // the run's code becomes the exit code
    const Outcome r = runMain(row.argv);
    EXPECT_EQ(seen.run, row.run);
    EXPECT_EQ(r.code, result);
    EXPECT_EQ(r.out, kVersionLine);
    row.check(seen);
    // The run happens inside the SDK's lifetime; Release comes after it.
    EXPECT_EQ(seen.sdkCallsDuringRun, (fake::Names{"Init", "GetSDKVersion"}));
    EXPECT_EQ(fake::sdk().names(), (fake::Names{"Init", "GetSDKVersion", "Release"}));
    result = (result + 1) % 7;
  }
}

TEST_F(MainDispatchTest, EmptyArgumentVectorStillPrintsUsage) {
  const char* argv[] = {nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(kamoraMainWith(0, argv, recordingRuns()), 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, usageText("kamora"));
  EXPECT_TRUE(fake::sdk().names().empty());
}

}  // namespace
