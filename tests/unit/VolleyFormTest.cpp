// The volley's release instants and its reply, without cameras.
#include <gtest/gtest.h>

#include "server/rig/Volley.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(VolleyRelease, InstantsFromTheWallClockKeepTheLeadAndCountFromTheTimeAsked) {
  const Clock::time_point now = Clock::now();
  const std::int64_t wallUs = 1'700'000'000'000'000;  // read together with now
  struct Case {
    const char* what;
    VolleyRelease release;
    Clock::duration origin, fire;  // after now
  };
  const Case cases[] = {
      {"as soon as armed", VolleyRelease(), 5ms, 5ms},
      {"a time ahead", VolleyRelease{1'700'000'000'250}, 250ms, 250ms},
      {"a time closer than the lead", VolleyRelease{1'700'000'000'002}, 2ms, 5ms},
      {"a time past", VolleyRelease{1'699'999'999'900}, -100ms, 5ms},
      {"no overflow from outside input", VolleyRelease{INT64_MAX},
       4102444800000ms - 1'700'000'000'000ms, 4102444800000ms - 1'700'000'000'000ms},
  };
  for (const Case& c : cases) {
    const ReleaseInstants at = releaseInstants(c.release, now, wallUs, 5ms);
    EXPECT_EQ(at.origin - now, c.origin) << c.what;
    EXPECT_EQ(at.fire - now, c.fire) << c.what;
  }
}

TEST(VolleyReply, OffsetsInMillisecondsAndFailuresWithTheirReason) {
  VolleyResult r;
  r.number = 7;
  r.spreadUs = 1250;
  r.cameras = {{"left", true, 420, {"left/KAMORA_00007.JPG"}, ""},
               {"right", true, 1670, {"right/KAMORA_00003.JPG"}, ""},
               {"top", false, 0, {}, "ocupada"},
               {"back", false, 900, {"back/KAMORA_00001.JPG"}, "sem resposta"}};
  EXPECT_EQ(
      volleyJson(r),
      "{\"volley\":7,\"spread_ms\":1.25,\"cameras\":["
      "{\"id\":\"left\",\"ok\":true,\"offset_ms\":0.42,\"files\":[\"left/KAMORA_00007.JPG\"]},"
      "{\"id\":\"right\",\"ok\":true,\"offset_ms\":1.67,\"files\":[\"right/KAMORA_00003.JPG\"]},"
      "{\"id\":\"top\",\"ok\":false,\"error\":\"ocupada\"},"
      "{\"id\":\"back\",\"ok\":false,\"error\":\"sem "
      "resposta\",\"files\":[\"back/KAMORA_00001.JPG\"]}]}");
}

}  // namespace
