// Figures for the capture review: a thumbnail and a screen copy of a
// 3000 x 2000 still made the first time and served from the cache, and the
// listing of a folder of 5,000 pictures, cold (no summary kept) and warm.
//   capture_review [pictures, default 5000]
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/capture_pictures.h"
#include "bench/perf_stats.h"
#include "camera/CaptureFolder.h"
#include "camera/ScaledJpeg.h"
#include "common/JpegScale.h"
#include "vcam/Renderer.h"
#include "vcam/Scene.h"
#include "vcam/StillExif.h"

namespace {

using benchpictures::fieldsFor;
using benchpictures::writeFile;

void report(const char* what, const std::vector<double>& ms) {
  std::printf("%-46s n=%-3zu median %7.2f ms  p90 %7.2f ms\n", what, ms.size(), perf::median(ms),
              perf::percentile(ms, 90));
}

// A worst case for decoding: noise at high quality, as large as a detailed
// real photograph of the same size.
std::vector<std::uint8_t> noiseJpeg(int w, int h) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  std::uint32_t x = 2463534242u;
  for (std::uint8_t& v : rgb) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    v = static_cast<std::uint8_t>(x);
  }
  std::vector<std::uint8_t> jpeg;
  jpegscale::encodeRgb(rgb.data(), w, h, 95, TJSAMP_444, jpeg);
  return jpeg;
}

void scaledCopies(const std::string& dir, const char* what,
                  const std::vector<std::uint8_t>& still) {
  writeFile(dir + "/KAMORA_00001.JPG", still);
  CaptureFolder folder(dir);
  for (ScaledKind kind : {ScaledKind::Thumb, ScaledKind::Screen}) {
    const bool thumb = kind == ScaledKind::Thumb;
    std::vector<double> first, cached;
    std::size_t bytes = 0;
    for (int i = 0; i < 15; ++i) {
      ScaledJpegCache cache;  // empty: the copy is made
      perf::Clock::time_point t0 = perf::Clock::now();
      std::optional<CaptureFile> file = folder.resolve("KAMORA_00001.JPG");
      auto copy = file ? cache.get(*file, kind) : nullptr;
      first.push_back(perf::msSince(t0));
      if (!copy) {
        std::printf("scaling failed\n");
        return;
      }
      bytes = copy->size();
      for (int j = 0; j < 5; ++j) {
        t0 = perf::Clock::now();
        file = folder.resolve("KAMORA_00001.JPG");
        cache.get(*file, kind);
        cached.push_back(perf::msSince(t0));
      }
    }
    std::printf("%s of a 3000x2000 %s (%zu bytes): %zu bytes\n",
                thumb ? "?size=thumb (<= 320 px)" : "?size=screen (<= 1600 px)", what, still.size(),
                bytes);
    report("  first time (read, decode, shrink, encode)", first);
    report("  again, from the cache", cached);
  }
}

void listing(const std::string& dir, int pictures) {
  // Small stills with the full EXIF block: the listing reads only heads.
  vcam::Scene scene;
  vcam::Renderer small(scene, 320, 200, 640, 426, false, "SB_A4");
  const std::vector<std::uint8_t> base = small.still(vcam::ViewParams{});
  for (int i = 1; i <= pictures; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/KAMORA_%05d.JPG", i);
    std::vector<std::uint8_t> jpeg = base;
    vcam::addStillExif(jpeg, fieldsFor(i));
    writeFile(dir + name, jpeg);
  }
  std::vector<double> cold, coldAll, warm, deep;
  std::string middle;
  for (int round = 0; round < 5; ++round) {
    CaptureFolder folder(dir);  // nothing kept yet
    perf::Clock::time_point t0 = perf::Clock::now();
    CapturePage page = folder.list(50);
    cold.push_back(perf::msSince(t0));
    middle = folder.list(500).entries.back().name;

    CaptureFolder fresh(dir);
    t0 = perf::Clock::now();
    std::string before;
    std::size_t seen = 0;
    for (;;) {
      CapturePage p = fresh.list(CaptureFolder::kMaxLimit, before);
      seen += p.entries.size();
      if (!p.more || p.entries.empty()) break;
      before = p.entries.back().name;
    }
    coldAll.push_back(perf::msSince(t0));
    if (seen != static_cast<std::size_t>(pictures)) std::printf("listed %zu\n", seen);
  }
  CaptureFolder folder(dir);
  folder.list(50);
  folder.list(50, middle);
  for (int i = 0; i < 40; ++i) {
    perf::Clock::time_point t0 = perf::Clock::now();
    folder.list(50);
    warm.push_back(perf::msSince(t0));
    t0 = perf::Clock::now();
    folder.list(50, middle);
    deep.push_back(perf::msSince(t0));
  }
  std::printf("listing %d pictures (page cache warm):\n", pictures);
  report("  list(50), cold: no summary kept", cold);
  report("  every page of 500, cold: all summaries read", coldAll);
  report("  list(50), warm", warm);
  report("  list(50, before=the 500th), warm", deep);
}

}  // namespace

int main(int argc, char** argv) {
  const int pictures = argc > 1 ? std::atoi(argv[1]) : 5000;
  std::string templ = (std::filesystem::temp_directory_path() / "kamora-bench-XXXXXX").string();
  if (::mkdtemp(&templ[0]) == nullptr) return 1;
  const std::string root = templ;
  ::mkdir((root + "/one").c_str(), 0755);
  ::mkdir((root + "/many").c_str(), 0755);

  vcam::Scene scene;
  vcam::Renderer renderer(scene, 1024, 680, 3000, 2000, false, "SB_A4");
  std::vector<std::uint8_t> still = renderer.still(vcam::ViewParams{});
  perf::Clock::time_point t0 = perf::Clock::now();
  const bool tagged = vcam::addStillExif(still, fieldsFor(0));
  std::printf("EXIF block written into a 3000x2000 still: %.2f ms%s\n", perf::msSince(t0),
              tagged ? "" : " (FAILED)");
  scaledCopies(root + "/one", "rendered still", still);
  scaledCopies(root + "/one", "noise picture, quality 95", noiseJpeg(3000, 2000));
  listing(root + "/many", pictures);

  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
