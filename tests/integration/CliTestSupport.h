// Running the kamora binary's camera modes in a fresh working directory and
// reading what a user would see: standard output split into the program's
// own lines and the callback lines (which arrive on SDK threads, so their
// place among the others is not fixed), the exit code, and the files in
// captures/. Also the virtual cameras those runs talk to.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

namespace clitest {

struct CliRun {
  int exitCode = -1;
  std::string output;
  std::string errorOutput;
  std::string workDir;
  std::vector<std::string> mainLines;      // in order, without "[callback]" lines
  std::vector<std::string> callbackLines;  // in order among themselves

  std::vector<std::string> files() const {  // names in captures/, sorted
    std::vector<std::string> names;
    const std::filesystem::path dir = std::filesystem::path(workDir) / "captures";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  int count(const std::string& line) const {
    return static_cast<int>(std::count(callbackLines.begin(), callbackLines.end(), line));
  }
};

inline CliRun runKamora(const std::vector<std::string>& args, int timeoutMs = 60000) {
  CliRun r;
  r.workDir = makeTempDir("cli");
  std::vector<std::string> argv = {binaryPath("kamora")};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult result = runProgram(argv, r.workDir, timeoutMs);
  r.exitCode = result.exitCode;
  r.output = result.output;
  r.errorOutput = result.errorOutput;
  std::istringstream in(r.output);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("[callback]", 0) == 0)
      r.callbackLines.push_back(line);
    else
      r.mainLines.push_back(line);
  }
  return r;
}

// A virtual camera; a failed start is reported here and returns null.
inline std::unique_ptr<VirtualCamera> startCamera(const std::string& ip, const std::string& mac,
                                                  const std::string& model = "SB_A4") {
  auto cam = VirtualCamera::start(ip, mac, model);
  EXPECT_TRUE(cam) << VirtualCamera::lastError();
  return cam;
}

inline const char* const kVersionLine = "VcSDK versao: 1.00.00.00";
inline const char* const kAccepted = "[info] Connect aceito, aguardando OnConnected...";

}  // namespace clitest
