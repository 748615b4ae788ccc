// The virtual camera's command line.
#pragma once

#include <cstdint>
#include <string>

#include "common/PropertyValues.h"

namespace vcam {

struct Options {
  std::string ip = "127.0.0.1";
  std::string mac = "02:00:00:00:00:01";
  std::string model = "SB_A4";
  std::string user, pass;  // both set: SSH only
  int lvW = 1024, lvH = 680;
  int stillW = 3000, stillH = 2000;
  std::string scene;  // a JPEG photo instead of the test scene
  bool log = false;
  std::uint32_t mode = exposure_program::kM;  // the exposure program it starts in
};

// False with a message in error when the command line is unusable, or when
// the address lies outside 127.0.0.0/8.
bool parseOptions(int argc, char** argv, Options& out, std::string& error);
bool isLoopback(const std::string& ip);
// "aa:bb:..." in upper case; false when it is not six hex bytes.
bool normaliseMac(const std::string& text, std::string& out);

const char* usageText();

}  // namespace vcam
