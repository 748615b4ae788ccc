// Fuzzes the command line's option scan with arbitrary argument vectors:
// no crash, no read past the vector, and no setting changes unless its
// option name occurs among the arguments scanned.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "app/Options.h"

namespace {

bool occurs(const std::vector<const char*>& argv, int start, const char* name) {
  for (std::size_t i = static_cast<std::size_t>(start); i < argv.size(); ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // First byte: where the scan starts (2 for --server/--multi-capture, 4
  // otherwise; other values test the bounds). The rest: NUL-separated args.
  const int start = data[0] % 6;
  const std::vector<std::string> fields = fuzzin::split(data + 1, size - 1, '\0', 64);
  std::vector<std::string> args(fields.begin(), fields.end());
  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const std::string& a : args) argv.push_back(a.c_str());

  Options options;
  const Options defaults;
  scanOptions(static_cast<int>(argv.size()), argv.data(), start, options);

  if (options.ssh && !occurs(argv, start, "--ssh")) std::abort();
  if (options.window && !occurs(argv, start, "--window")) std::abort();
  if (options.exposure.hasIso && !occurs(argv, start, "--iso")) std::abort();
  if (options.exposure.hasFNumber && !occurs(argv, start, "--fnumber")) std::abort();
  if (options.exposure.hasShutter && !occurs(argv, start, "--shutter")) std::abort();
  if (options.exposure.hasEv && !occurs(argv, start, "--ev")) std::abort();
  if (options.host != defaults.host && !occurs(argv, start, "--host")) std::abort();
  if (options.port != defaults.port && !occurs(argv, start, "--port")) std::abort();
  if (options.frames != defaults.frames && !occurs(argv, start, "--frames")) std::abort();
  if (options.shots != defaults.shots && !occurs(argv, start, "--shots")) std::abort();
  if (options.lvFps != defaults.lvFps && !occurs(argv, start, "--lv-fps")) std::abort();
  if (options.lvFps < 1 || options.lvFps > 60) std::abort();
  if (options.hasInterval && !occurs(argv, start, "--interval")) std::abort();
  if (!options.bracket.empty() && !occurs(argv, start, "--bracket")) std::abort();
  return 0;
}
