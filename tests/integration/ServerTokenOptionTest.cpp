// The token reaches the server from --token or from KAMORA_TOKEN (the option
// wins), and the banner gives the address to open with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/KamoraServer.h"
#include "tests/support/Subprocess.h"

namespace {

std::string bannerWith(const std::string& host, const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {"/usr/bin/env", "KAMORA_TOKEN=do-ambiente"};
  for (const std::string& arg : kamoraServerArgs(host)) argv.push_back(arg);
  argv.insert(argv.end(), extra.begin(), extra.end());
  auto process = Subprocess::start(argv, makeTempDir("token"));
  if (!process || !waitForRoute(*process, host, 8080, "/status", 10000)) return "not started";
  return process->output();
}

TEST(ServerTokenOptionTest, OptionWinsOverTheEnvironment) {
  EXPECT_NE(bannerWith("127.0.64.10", {})
                .find("[server] de outra maquina: http://127.0.64.10:8080/?token=do-ambiente\n"),
            std::string::npos);
  EXPECT_NE(bannerWith("127.0.64.11", {"--token", "da-opcao"})
                .find("[server] de outra maquina: http://127.0.64.11:8080/?token=da-opcao\n"),
            std::string::npos);
}

}  // namespace
