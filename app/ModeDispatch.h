// The runs that the entry point dispatches to, gathered so that tests can
// put recording runs in their place and check the dispatch without starting
// cameras, servers or a browser.
#pragma once

#include "app/Runs.h"

struct ModeRuns {
  int (*singleCamera)(const char* mode, const char* const* argv,
                      const Options& options) = runSingleCamera;
  int (*ptz)(const char* const* argv, const Options& options) = runPtz;
  int (*multiCapture)(const Options& options) = runMultiCapture;
  int (*server)(const Options& options) = runServer;
  int (*appMode)() = runAppMode;
};

// kamoraMain with the given runs; kamoraMain uses the default ones.
int kamoraMainWith(int argc, const char* const* argv, const ModeRuns& runs);
