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
  // A broker to join as a node of a rig (see docs/mqtt.md); the password
  // comes from KAMORA_MQTT_PASS only, never from the command line.
  std::string mqtt;  // --mqtt HOST[:PORT]
  std::string node;  // --node; empty: from the host name
  std::string mqttUser;
  std::string mqttCa;
  int mqttKeepalive = 5;  // 1 to 60
  // --capture as a timed sequence: --shots frames, one every --interval
  // seconds, each a bracket of --bracket offsets (texts, read by the run).
  bool hasInterval = false;
  std::string interval;
  std::string bracket;
  std::string rigFile;  // --rig: the cameras the server adds at start and keeps
};

// Scans argv[start..argc) into options, in the documented table order.
void scanOptions(int argc, const char* const* argv, int start, Options& options);

// Prints the usage text with the program path in each of its places.
void usage(const char* program);
