// ISO 8601 in UTC through the reentrant calendar conversion.
#include "common/IsoTime.h"

#include <cstdio>
#include <ctime>

std::string isoUtc(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  // Floored, so a moment before a second's end never reads as the next one.
  const long long ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  long long seconds = ms / 1000, millis = ms % 1000;
  if (millis < 0) millis += 1000, --seconds;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}
