// Figures for the capture review through `kamora --server` on loopback: the
// listing of a folder of 5,000 pictures (first request, then warm, deep in the
// folder, and while pictures arrive), and a thumbnail and a screen copy of a
// 3000 x 2000 still the first time each is asked for, then from the cache.
//   capture_server [--host 127.0.174.20] [--pictures 5000]
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/capture_pictures.h"
#include "bench/perf_stats.h"
#include "tests/support/KamoraServer.h"
#include "vcam/Renderer.h"
#include "vcam/Scene.h"
#include "vcam/StillExif.h"

namespace {

using benchpictures::fieldsFor;
using benchpictures::writeFile;

std::string pictureName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "KAMORA_%05d.JPG", i);
  return name;
}

// One GET; the time in ms, or a negative number when it did not answer 200.
double timedGet(httplib::Client& c, const std::string& path, std::size_t* bytes = nullptr) {
  const perf::Clock::time_point t0 = perf::Clock::now();
  auto r = c.Get(path.c_str());
  const double ms = perf::msSince(t0);
  if (!r || r->status != 200) return -1;
  if (bytes != nullptr) *bytes = r->body.size();
  return ms;
}

bool sample(httplib::Client& c, const std::string& path, int n, std::vector<double>& out) {
  for (int i = 0; i < n; ++i) {
    const double ms = timedGet(c, path);
    if (ms < 0) {
      std::printf("GET %s failed\n", path.c_str());
      return false;
    }
    out.push_back(ms);
  }
  return true;
}

void report(const char* what, const std::vector<double>& ms) {
  std::printf("%-52s n=%-3zu median %7.2f ms  p95 %7.2f ms  max %7.2f ms\n", what, ms.size(),
              perf::median(ms), perf::percentile(ms, 95), perf::percentile(ms, 100));
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.174.20";
  int pictures = 5000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--host") == 0) host = argv[i + 1];
    if (std::strcmp(argv[i], "--pictures") == 0) pictures = std::atoi(argv[i + 1]);
  }
  if (!perf::isLoopback(host)) {
    std::printf("capture_server: %s is not a loopback address\n", host.c_str());
    return 2;
  }
  auto server = KamoraServer::start(host);
  if (!server) {
    std::printf("capture_server: %s\n", KamoraServer::lastError().c_str());
    return 1;
  }
  const std::string dir = server->workDir() + "/captures";
  ::mkdir(dir.c_str(), 0755);

  // Small stills with the full EXIF block (the listing reads only heads),
  // then 3000 x 2000 stills to scale, each asked for once.
  vcam::Scene scene;
  vcam::Renderer small(scene, 320, 200, 640, 426, false, "SB_A4");
  const std::vector<std::uint8_t> base = small.still(vcam::ViewParams{});
  for (int i = 1; i <= pictures; ++i) {
    std::vector<std::uint8_t> jpeg = base;
    vcam::addStillExif(jpeg, fieldsFor(i));
    writeFile(dir + "/" + pictureName(i), jpeg);
  }
  vcam::Renderer big(scene, 1024, 680, 3000, 2000, false, "SB_A4");
  std::vector<std::uint8_t> still = big.still(vcam::ViewParams{});
  vcam::addStillExif(still, fieldsFor(0));
  const int kStills = 15;
  for (int i = 0; i < 2 * kStills; ++i) writeFile(dir + "/BIG_" + pictureName(i), still);
  ::sync();  // and a moment for the write-back, so it is not what the listing waits on
  std::this_thread::sleep_for(std::chrono::seconds(2));

  httplib::Client c = server->client();
  std::printf("kamora --server at %s, %d pictures + %d stills of 3000x2000 (%zu bytes)\n",
              host.c_str(), pictures, 2 * kStills, still.size());

  std::vector<double> cold, warm, deep, arriving;
  cold.push_back(timedGet(c, "/captures?limit=50"));
  const std::string middle = pictureName(pictures / 2);
  timedGet(c, "/captures?limit=50&before=" + middle);
  if (!sample(c, "/captures?limit=50", 100, warm) ||
      !sample(c, "/captures?limit=50&before=" + middle, 100, deep))
    return 1;

  // A camera adds a picture every 50 ms (written aside, then linked).
  std::atomic<bool> stop{false};
  std::thread camera([&] {
    for (int n = pictures + 1; !stop.load(); ++n) {
      const std::string tmp = dir + "/.vcdl-bench.part";
      writeFile(tmp, base);
      ::link(tmp.c_str(), (dir + "/" + pictureName(n)).c_str());
      ::unlink(tmp.c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const bool ok = sample(c, "/captures?limit=50", 100, arriving);
  stop = true;
  camera.join();
  if (!ok) return 1;

  std::printf("GET /captures?limit=50 with %d pictures:\n", pictures);
  report("  first request (no summary kept yet)", cold);
  report("  again (summaries kept)", warm);
  report("  before= the middle picture", deep);
  report("  while a picture arrives every 50 ms", arriving);

  for (const char* size : {"thumb", "screen"}) {
    std::vector<double> first, cached;
    std::size_t bytes = 0;
    const int offset = std::strcmp(size, "thumb") == 0 ? 0 : kStills;
    for (int i = 0; i < kStills; ++i) {
      const std::string path = "/captures/BIG_" + pictureName(offset + i) + "?size=" + size;
      const double ms = timedGet(c, path, &bytes);
      if (ms < 0 || !sample(c, path, 5, cached)) return 1;
      first.push_back(ms);
    }
    std::printf("GET /captures/<3000x2000 still>?size=%s (%zu bytes):\n", size, bytes);
    report("  first time (read, decode, shrink, encode)", first);
    report("  again, from the cache", cached);
  }
  return 0;
}
