// Recovery figures of `kamora --server` from the outside: N cycles of
// killing and restarting its virtual camera (time to notice the loss, to be
// connected again once the camera answers, to a live-view picture), the
// server's descriptors, threads and memory after the first and the last
// cycle, the pictures taken against the files on disk; then one camera away
// for a long while (30 s by default).
//
//   reconnect_cycles [--cycles 100] [--away-ms 30000] [--base 127.0.218]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/perf_stats.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/ReconnectCycles.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

int filesIn(const std::string& folder) {
  int n = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().filename().string()[0] != '.') ++n;
  }
  return n;
}

void ratio(const char* what, double before, double after) {
  std::printf("  %-12s before %8.0f  after %8.0f  after/before %.3f\n", what, before, after,
              before > 0 ? after / before : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int cycles = 100, awayMs = 30000;
  std::string base = "127.0.218";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--cycles") cycles = std::atoi(argv[i + 1]);
    if (name == "--away-ms") awayMs = std::atoi(argv[i + 1]);
    if (name == "--base") base = argv[i + 1];
  }
  if (!perf::isLoopback(base + ".1") || cycles < 1 || cycles > 1000 || awayMs < 0) {
    std::printf("usage: reconnect_cycles [--cycles N<=1000] [--away-ms MS] [--base 127.x.y]\n");
    return 2;
  }
  VcamOptions camera;
  camera.ip = base + ".1";
  camera.mac = "02:00:00:00:93:01";
  camera.stillSize = "1200x800";
  std::unique_ptr<VirtualCamera> cam = VirtualCamera::start(camera);
  std::unique_ptr<KamoraServer> k = cam ? KamoraServer::start(base + ".2") : nullptr;
  if (!k) {
    std::printf("could not start: %s%s\n", VirtualCamera::lastError().c_str(),
                KamoraServer::lastError().c_str());
    return 1;
  }
  httplib::Client c = k->client();
  const std::string connect = "/connect?ip=" + camera.ip + "&mac=" + camera.mac;
  if (!c.Post(connect.c_str())) return 1;

  const perf::Clock::time_point start = perf::Clock::now();
  const CycleFigures f = runReconnectCycles(*k, camera, cam, cycles);
  const double totalS = perf::msSince(start) / 1000;
  std::printf("%d kill-restart cycles in %.1f s: %d recovered%s%s\n", f.cycles, totalS, f.recovered,
              f.failure.empty() ? "" : "; ", f.failure.c_str());
  perf::report("  loss noticed after kill", 38, f.lostMs);
  perf::report("  connected after camera answers", 38, f.backMs);
  perf::report("  live-view picture after connected", 38, f.liveMs);
  std::printf("  pictures taken %d, files on disk %d\n", f.pictures,
              filesIn(k->workDir() + "/captures"));
  ratio("descriptors", f.before.descriptors, f.after.descriptors);
  ratio("threads", f.before.threads, f.after.threads);
  ratio("memory kB", f.before.residentKb, f.after.residentKb);
  std::printf("  memory kB every 10 cycles:");
  for (std::size_t i = 0; i < f.residentKb.size(); i += 10) std::printf(" %ld", f.residentKb[i]);
  std::printf("\n");
  if (f.residentKb.size() >= 2) {
    // The second half alone: glibc's per-thread arenas fill up early on
    // (MALLOC_ARENA_MAX=1 shows the run without them).
    ratio("memory kB, second half", f.residentKb[f.residentKb.size() / 2], f.residentKb.back());
  }

  if (awayMs > 0 && cam) {
    cam->kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(awayMs));
    cam = VirtualCamera::start(camera);
    const double back = cam ? waitForCameraState(*k, "conectada", 10000) : -1;
    const double live = back < 0 ? -1 : waitForLiveView(*k, 5000);
    std::printf(
        "camera away %.1f s: connected %.0f ms after it answered, live view %.0f ms later\n",
        awayMs / 1000.0, back, live);
  }
  return f.failure.empty() && f.recovered == f.cycles ? 0 : 1;
}
