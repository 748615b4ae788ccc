// The command-line settings of one run and the option scan that fills them.
#pragma once

#include <string>

#include "camera/Exposure.h"

struct Options {
  bool ssh = false;
  bool window = false;
  std::string user;
  std::string pass;
  int frames = 100;
  int shots = 1;
  Exposure exposure;
  std::string action;  // --do
  int pan = 0;
  int tilt = 0;
  int speed = 10;
  int num = 1;
  std::string host = "0.0.0.0";
  int port = 8080;
  std::string token;  // --token: asked of requests from other machines
  int lvFps = 30;     // the live-view feed's cap, 1 to 60 (LiveFeed's default)
};

// Scans argv[start..argc) into options, in the documented table order.
void scanOptions(int argc, const char* const* argv, int start, Options& options);

// Prints the usage text with the program path in each of its places.
void usage(const char* program);
