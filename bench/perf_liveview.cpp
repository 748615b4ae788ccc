// Live-view path overhead: the median time of GET "/liveview.jpg" through a
// running `kamora --server` against fetching the same virtual camera's
// picture straight from it ("/vcam/liveview.jpg"), requests interleaved so
// the machine's noise falls on both alike.
//
//   perf_liveview --kamora 127.0.85.2:8080 --camera 127.0.85.1 [--requests 300]
//                 [--gap-ms 0]
// With a gap longer than the camera's frame interval (33 ms) every request
// meets a frame the camera must render, as at the console's pace; without
// one, most requests get the frame the camera already holds, and the figure
// shows the transport alone.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "sdk/standin/Wire.h"

namespace {

httplib::Client client(const std::string& host, int port) {
  httplib::Client c(host, port);
  c.set_tcp_nodelay(true);
  c.set_keep_alive(true);
  c.set_read_timeout(10, 0);
  return c;
}

// Milliseconds for one picture; negative when the answer was not a JPEG.
double fetch(httplib::Client& c, const char* path) {
  const perf::Clock::time_point start = perf::Clock::now();
  httplib::Result r = c.Get(path);
  const double ms = perf::msSince(start);
  return r && r->status == 200 && perf::looksLikeJpeg(r->body) ? ms : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string kamora = "127.0.85.2:8080", camera = "127.0.85.1";
  int requests = 300;
  int gapMs = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--kamora")
      kamora = argv[i + 1];
    else if (name == "--camera")
      camera = argv[i + 1];
    else if (name == "--requests")
      requests = std::atoi(argv[i + 1]);
    else if (name == "--gap-ms")
      gapMs = std::atoi(argv[i + 1]);
  }
  std::string kHost;
  int kPort = 0;
  perf::splitHostPort(kamora, 8080, kHost, kPort);
  if (!perf::isLoopback(kHost) || !perf::isLoopback(camera) || requests < 1 || requests > 100000) {
    std::printf("usage: perf_liveview --kamora 127.x.y.z:port --camera 127.x.y.z [--requests N]\n");
    return 2;
  }

  httplib::Client through = client(kHost, kPort);
  httplib::Client direct = client(camera, vcwire::port());
  for (int i = 0; i < 20; ++i) {  // warm-up: connections, caches
    fetch(through, "/liveview.jpg");
    fetch(direct, "/vcam/liveview.jpg");
  }
  std::vector<double> viaKamora, straight;
  int failures = 0;
  for (int i = 0; i < requests; ++i) {
    // Alternate which goes first so neither always meets a fresh frame.
    const bool kamoraFirst = i % 2 == 0;
    for (int leg = 0; leg < 2; ++leg) {
      const bool viaK = (leg == 0) == kamoraFirst;
      if (gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
      const double ms =
          viaK ? fetch(through, "/liveview.jpg") : fetch(direct, "/vcam/liveview.jpg");
      if (ms < 0) {
        ++failures;
        continue;
      }
      (viaK ? viaKamora : straight).push_back(ms);
    }
  }
  const double k = perf::median(viaKamora), d = perf::median(straight);
  std::printf("live view, %d interleaved requests each, %d ms apart (%d failed)\n", requests, gapMs,
              failures);
  std::printf("  through kamora: median %.3f ms, p90 %.3f ms\n", k,
              perf::percentile(viaKamora, 90));
  std::printf("  camera direct:  median %.3f ms, p90 %.3f ms\n", d, perf::percentile(straight, 90));
  std::printf("  ratio %.2f\n", d > 0 ? k / d : 0.0);
  std::printf(
      "RESULT liveview_kamora_ms=%.3f liveview_direct_ms=%.3f liveview_ratio=%.3f failures=%d\n", k,
      d, d > 0 ? k / d : 0.0, failures);
  return failures == 0 ? 0 : 1;
}
