// Reading /proc/<pid>/fd and /proc/<pid>/status.
#include "tests/support/ProcessFigures.h"

#include <filesystem>
#include <fstream>
#include <string>

ProcessFigures readProcessFigures(int pid) {
  ProcessFigures figures;
  const std::string base = "/proc/" + std::to_string(pid);
  std::error_code error;
  int descriptors = 0;
  for (std::filesystem::directory_iterator it(base + "/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++descriptors;
  }
  if (!error) figures.descriptors = descriptors;
  std::ifstream status(base + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) figures.threads = std::stoi(line.substr(8));
    if (line.rfind("VmRSS:", 0) == 0) figures.residentKb = std::stol(line.substr(6));
  }
  return figures;
}
