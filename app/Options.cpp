// The option scan: compares each argument with the option table in order and
// reads values with the standard conversions, never reporting bad text.
#include "app/Options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "server/slot/LiveFeed.h"

namespace {

// The conversions of atoi and atof, through strtol/strtod so that
// out-of-range text has defined results (atoi's is undefined).
int toInt(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }
double toDouble(const char* text) { return std::strtod(text, nullptr); }
std::uint32_t toU32(const char* text) {
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

using Flag = void (*)(Options&);
using Setter = void (*)(Options&, const char*);

struct OptionRow {
  const char* name;
  Flag flag;      // set for options without a value
  Setter setter;  // set for options that take the next argument
};

// Table order is the order in which an argument is compared.
const OptionRow kOptions[] = {
    {"--ssh", [](Options& o) { o.ssh = true; }, nullptr},
    {"--window", [](Options& o) { o.window = true; }, nullptr},
    {"--user", nullptr, [](Options& o, const char* v) { o.user = v; }},
    {"--pass", nullptr, [](Options& o, const char* v) { o.pass = v; }},
    {"--frames", nullptr, [](Options& o, const char* v) { o.frames = toInt(v); }},
    {"--shots", nullptr, [](Options& o, const char* v) { o.shots = toInt(v); }},
    {"--iso", nullptr,
     [](Options& o, const char* v) {
       o.exposure.iso = toU32(v);
       o.exposure.hasIso = true;
     }},
    {"--fnumber", nullptr,
     [](Options& o, const char* v) {
       o.exposure.fNumber = toDouble(v);
       o.exposure.hasFNumber = true;
     }},
    {"--shutter", nullptr,
     [](Options& o, const char* v) {
       parseShutter(v, o.exposure.shutterNum, o.exposure.shutterDen);
       o.exposure.hasShutter = true;
     }},
    {"--ev", nullptr,
     [](Options& o, const char* v) {
       o.exposure.ev = toDouble(v);
       o.exposure.hasEv = true;
     }},
    {"--do", nullptr, [](Options& o, const char* v) { o.action = v; }},
    {"--pan", nullptr, [](Options& o, const char* v) { o.pan = toInt(v); }},
    {"--tilt", nullptr, [](Options& o, const char* v) { o.tilt = toInt(v); }},
    {"--speed", nullptr, [](Options& o, const char* v) { o.speed = toInt(v); }},
    {"--num", nullptr, [](Options& o, const char* v) { o.num = toInt(v); }},
    {"--host", nullptr, [](Options& o, const char* v) { o.host = v; }},
    {"--port", nullptr, [](Options& o, const char* v) { o.port = toInt(v); }},
    {"--token", nullptr, [](Options& o, const char* v) { o.token = v; }},
    {"--lv-fps", nullptr,
     [](Options& o, const char* v) {
       o.lvFps = std::clamp(toInt(v), LiveFeed::kMinFps, LiveFeed::kMaxFps);
     }},
    {"--mqtt", nullptr, [](Options& o, const char* v) { o.mqtt = v; }},
    {"--node", nullptr, [](Options& o, const char* v) { o.node = v; }},
    {"--mqtt-user", nullptr, [](Options& o, const char* v) { o.mqttUser = v; }},
    {"--mqtt-ca", nullptr, [](Options& o, const char* v) { o.mqttCa = v; }},
    {"--mqtt-keepalive", nullptr,
     [](Options& o, const char* v) { o.mqttKeepalive = std::clamp(toInt(v), 1, 60); }},
    {"--interval", nullptr,
     [](Options& o, const char* v) {
       o.interval = v;
       o.hasInterval = true;
     }},
    {"--bracket", nullptr, [](Options& o, const char* v) { o.bracket = v; }},
    {"--rig", nullptr, [](Options& o, const char* v) { o.rigFile = v; }},
};

}  // namespace

void scanOptions(int argc, const char* const* argv, int start, Options& options) {
  for (int i = start; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr) continue;
    for (const OptionRow& row : kOptions) {
      if (std::strcmp(arg, row.name) != 0) continue;
      if (row.flag != nullptr) {
        row.flag(options);
      } else if (i + 1 < argc && argv[i + 1] != nullptr) {
        // The value is taken whatever it looks like, even "--ssh".
        row.setter(options, argv[++i]);
      }
      break;
    }
  }
}
