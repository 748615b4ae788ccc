// The runs of the command-line modes. Each returns the process exit code.
#pragma once

#include "app/Options.h"

// "--connect-ip", "--liveview", "--capture": argv[2] is the IP, argv[3] the MAC.
int runSingleCamera(const char* mode, const char* const* argv, const Options& options);

// "--ptz": argv[2] is the IP, argv[3] the MAC.
int runPtz(const char* const* argv, const Options& options);

// "--multi-capture".
int runMultiCapture(const Options& options);

// "--server" and the application-bundle launch.
int runServer(const Options& options);
int runAppMode();
