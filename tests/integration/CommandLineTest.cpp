// The kamora binary's command line as a user meets it: usage and its exit
// code, the version line first, arguments 2 and 3 never read as options,
// and output that reaches a file or pipe as each line is printed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/ExpectedUsage.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

namespace {

// The first line, which must be the SDK's version line in every mode.
std::string firstLine(const std::string& out) { return out.substr(0, out.find('\n') + 1); }

bool isVersionLine(const std::string& line) {
  unsigned a, b, c, d;
  char nl = 0;
  return std::sscanf(line.c_str(), "VcSDK versao: %u.%u.%u.%u%c", &a, &b, &c, &d, &nl) == 5 &&
         nl == '\n';
}

TEST(CommandLineTest, UsageAndItsExitCode) {
  const std::string kamora = binaryPath("kamora");

  RunResult none = runProgram({kamora});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.output, expectedUsage(kamora));  // no version line: the SDK is untouched
  EXPECT_EQ(none.errorOutput, "");

  for (const auto& args : {std::vector<std::string>{kamora, "--bogus"},
                           std::vector<std::string>{kamora, "--connect-ip", "127.0.5.1"}}) {
    SCOPED_TRACE(args[1]);
    RunResult r = runProgram(args);
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_TRUE(isVersionLine(firstLine(r.output))) << r.output;
    EXPECT_EQ(r.output.substr(firstLine(r.output).size()), expectedUsage(kamora));
    EXPECT_EQ(r.errorOutput, "");
  }
}

TEST(CommandLineTest, AddressArgumentsAreNeverOptions) {
  // "--ssh" in the IP's place is the IP text, so the address is refused.
  RunResult r =
      runProgram({binaryPath("kamora"), "--connect-ip", "--ssh", "127.0.5.1", "aa:bb:cc:dd:ee:ff"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_TRUE(isVersionLine(firstLine(r.output))) << r.output;
  EXPECT_NE(r.output.find("[error] IP invalido: --ssh\n"), std::string::npos) << r.output;
}

TEST(CommandLineTest, LinesReachAFileWhileTheProgramStillRuns) {
  // Standard output goes to a file here, which the C library would buffer
  // fully. A camera that never confirms the link keeps the run waiting for
  // 15 s after a few short lines; those lines must be there meanwhile.
  auto camera = VirtualCamera::start("127.0.5.7", "02:00:00:00:05:07");
  ASSERT_TRUE(camera) << VirtualCamera::lastError();
  ASSERT_TRUE(camera->fault("never-ready"));
  auto run =
      Subprocess::start({binaryPath("kamora"), "--connect-ip", "127.0.5.7", "02:00:00:00:05:07"},
                        makeTempDir("kamora-cli-lines"));
  ASSERT_TRUE(run);
  EXPECT_TRUE(run->waitForOutput("[info] Connect aceito, aguardando OnConnected...\n", 10000))
      << run->output();
  EXPECT_TRUE(run->running()) << "the run ended before its lines were seen";
  EXPECT_TRUE(isVersionLine(firstLine(run->output()))) << run->output();
  run->signal(SIGTERM);
  run->wait(10000);
}

TEST(CommandLineTest, ExposureOptionsReachTheCamera) {
  auto camera = VirtualCamera::start("127.0.5.6", "02:00:00:00:05:06");
  ASSERT_TRUE(camera) << VirtualCamera::lastError();
  RunResult r = runProgram(
      {binaryPath("kamora"), "--connect-ip", "127.0.5.6", "02:00:00:00:05:06", "--iso", "800",
       "--fnumber", "2.8", "--shutter", "1/250", "--ev", "-0.7", "--frames", "--iso"},
      makeTempDir("kamora-cli-exposure"), 30000);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("[info] conectado.\n"), std::string::npos) << r.output;
  const nlohmann::json state = camera->state();
  ASSERT_TRUE(state.is_object());
  // "--frames" took "--iso" as its value, so the trailing "--iso" set nothing.
  EXPECT_EQ(state["iso"], 800);
  EXPECT_EQ(state["fnumber"], 280);
  EXPECT_EQ(state["shutter"], 0x000100FA);
  EXPECT_EQ(state["ev"], -700);
}

}  // namespace
