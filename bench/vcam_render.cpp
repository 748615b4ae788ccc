// Figures for the virtual camera's renderer: live-view render + JPEG encode
// per frame (cold panorama tiles and warm), and one still.
#include <cstdio>
#include <vector>

#include "bench/perf_stats.h"
#include "vcam/Renderer.h"
#include "vcam/Scene.h"

namespace {

using perf::Clock;
using perf::msSince;

const int kColumn = 44;  // width of the table's first column

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 300;
  vcam::Scene scene;
  for (bool log : {false, true}) {
    vcam::Renderer renderer(scene, 1024, 680, 3000, 2000, log, "SB_A4");
    vcam::ViewParams view;
    view.stops = 0.7;
    view.wbKelvin = 4300;
    Clock::time_point t0 = Clock::now();
    std::size_t bytes = renderer.renderLiveFrame(view)->jpeg.size();
    double cold = msSince(t0);
    std::vector<double> warm;
    for (int i = 0; i < frames; ++i) {
      view.stops = (i % 7) * 0.3 - 1.0;  // a fresh tone table every frame
      t0 = Clock::now();
      bytes = renderer.renderLiveFrame(view)->jpeg.size();
      warm.push_back(msSince(t0));
    }
    std::printf("live view 1024x680%s: first frame (tiles built) %.2f ms, %zu bytes per frame\n",
                log ? " log" : "", cold, bytes);
    perf::report(log ? "  render+encode, log profile" : "  render+encode", kColumn, warm);

    // Panning keeps moving into tiles not yet built.
    std::vector<double> panning;
    for (int i = 0; i < 120; ++i) {
      view.panDeg = -170 + i * 2.8;
      t0 = Clock::now();
      renderer.renderLiveFrame(view);
      panning.push_back(msSince(t0));
    }
    perf::report("  render+encode while panning 340 deg", kColumn, panning);
    if (!log) {
      t0 = Clock::now();
      std::size_t still = renderer.still(view).size();
      std::printf("still 3000x2000: %.1f ms, %zu bytes\n", msSince(t0), still);
    }
  }
  return 0;
}
