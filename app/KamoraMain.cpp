// The entry point: launch form, SDK lifetime, option scan, dispatch to one
// mode's run and the exit code.
#include "app/KamoraMain.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/ExitCodes.h"
#include "app/ModeDispatch.h"
#include "app/Options.h"
#include "camera/Kamora.h"

namespace {

constexpr const char* kBundlePathMark = ".app/Contents/MacOS/";

enum class Run { Server, MultiCapture, Ptz, SingleCamera };

struct ModeRow {
  const char* name;
  int argsNeeded;
  int scanStart;  // where the options begin: after the IP and MAC, if any
  Run run;
};

const ModeRow kModes[] = {
    {"--server", 2, 2, Run::Server},
    {"--multi-capture", 2, 2, Run::MultiCapture},
    {"--ptz", 4, 4, Run::Ptz},
    {"--connect-ip", 4, 4, Run::SingleCamera},
    {"--liveview", 4, 4, Run::SingleCamera},
    {"--capture", 4, 4, Run::SingleCamera},
};

bool isAppMode(int argc, const char* const* argv) {
  if (argc >= 2) return argv[1] != nullptr && std::strcmp(argv[1], "--app") == 0;
  return argc == 1 && argv[0] != nullptr && std::strstr(argv[0], kBundlePathMark) != nullptr;
}

// Everything that needs the SDK. Kamora is created first here and destroyed
// last, after whatever the mode's run created has gone.
int runWithSdk(int argc, const char* const* argv, const char* program, bool appMode,
               const ModeRuns& runs) {
  Kamora kamora;
  if (!kamora.ok()) return kExitSdkInit;
  kamora.printVersion();

  if (appMode) {
    runs.appMode();
    return kExitOk;
  }

  const char* mode = argv[1];
  if (std::strcmp(mode, "--enum") == 0) {
    return kamora.enumerate() < 0 ? kExitDiscovery : kExitOk;
  }

  const ModeRow* row = nullptr;
  for (const ModeRow& candidate : kModes) {
    if (std::strcmp(mode, candidate.name) == 0) row = &candidate;
  }

  // Unknown modes are scanned too (from index 4), which has no effect.
  Options options;
  scanOptions(argc, argv, row ? row->scanStart : 4, options);

  if (row == nullptr || argc < row->argsNeeded) {
    usage(program);
    return kExitUsage;
  }
  switch (row->run) {
    case Run::Server:
      return runs.server(options);
    case Run::MultiCapture:
      return runs.multiCapture(options);
    case Run::Ptz:
      return runs.ptz(argv, options);
    case Run::SingleCamera:
      return runs.singleCamera(mode, argv, options);
  }
  return kExitUsage;
}

}  // namespace

int kamoraMainWith(int argc, const char* const* argv, const ModeRuns& runs) {
  // Lines must reach a pipe as they are printed (logs and tests read them
  // live); stdout is only re-buffered once, before this process printed.
  static const bool lineBuffered = std::setvbuf(stdout, nullptr, _IOLBF, 0) == 0;
  (void)lineBuffered;
#ifdef SIGPIPE
  // A peer that hangs up (a browser tab closed mid-answer, a camera link
  // closed under a write) must be an error return on that socket, not the
  // end of the process, which by default dies of the broken pipe.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  // An empty argument vector (possible through exec) still gets a name.
  const char* program = (argc >= 1 && argv[0] != nullptr) ? argv[0] : "kamora";
  const bool appMode = isAppMode(argc, argv);

  int code = kExitUsage;
  if (argc < 2 && !appMode) {
    usage(program);
  } else {
    code = runWithSdk(argc, argv, program, appMode, runs);
  }
  std::fflush(stdout);
  return code;
}

int kamoraMain(int argc, const char* const* argv) { return kamoraMainWith(argc, argv, ModeRuns{}); }
