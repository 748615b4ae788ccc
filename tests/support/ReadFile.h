// A whole file as text (empty when it cannot be read), for tests that check
// a document or a file the program wrote.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
