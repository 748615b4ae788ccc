// The application launch: the server on 127.0.0.1:8080 whatever follows
// "--app", and the console opened in the browser a second later without
// holding up the server. Runs under the loopback lock, as 127.0.0.1:8080 is
// shared with the demo.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/KamoraServer.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Until.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(HttpAppModeTest, ServesOnLoopbackAndOpensTheBrowserLater) {
  // A stand-in browser opener, found first on PATH, that notes its argument.
  const std::string dir = makeTempDir("appmode");
  const std::string log = dir + "/opened";
  for (const char* name : {"xdg-open", "open"}) {
    const std::string script = dir + "/" + name;
    std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> " << log << "\n";
    ASSERT_EQ(std::system(("chmod +x " + script).c_str()), 0);
  }
  const char* path = std::getenv("PATH");
  setenv("PATH", (dir + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);

  const auto t0 = Clock::now();
  auto k = Subprocess::start({binaryPath("kamora"), "--app", "--port", "9999"}, dir);
  ASSERT_TRUE(k);
  ASSERT_TRUE(waitForRoute(*k, "127.0.0.1", 8080, "/status", 10000)) << k->output();
  const Clock::duration upAfter = Clock::now() - t0;
  // Serving before the browser is asked, not after.
  EXPECT_TRUE(readFile(log).empty());
  EXPECT_LT(upAfter, std::chrono::milliseconds(900));

  EXPECT_TRUE(until([&] { return !readFile(log).empty(); }, std::chrono::seconds(5)));
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(readFile(log), "http://127.0.0.1:8080\n");
  EXPECT_NE(k->output().find("[server] KAMORA HTTP em http://127.0.0.1:8080  (Ctrl+C encerra)"),
            std::string::npos)
      << k->output();

  k->signal(SIGTERM);
  EXPECT_EQ(k->wait(10000), 0);
}

}  // namespace
