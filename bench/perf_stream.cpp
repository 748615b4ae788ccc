// Live-view stream figures against a running `kamora --server` connected to
// a virtual camera: delivered rate per viewer against the feed's rate for 1,
// 4 and 10 viewers, camera grabs with 10 viewers against 1, a viewer that
// reads one picture a second beside 4 others, the delay from the camera's
// render stamp to a viewer, the server's CPU time per viewer, /status,
// /properties, /liveview.jpg at the console's pace and a capture with 1, 10
// and 100 streams open against none, and (soak)
// the server's memory with 10 viewers after 1 and after N minutes.
//
//   perf_stream --kamora 127.0.85.2:8080 --camera 127.0.85.1 --pid PID
//               [--seconds 10] [--soak-minutes 0]
// Prints a RESULT line; figures to read, no pass mark.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "sdk/standin/Wire.h"
#include "tests/support/MjpegReader.h"

namespace {

struct Setup {
  std::string host;
  int port = 8080;
  std::string camera;
  int pid = 0;
  int seconds = 10;
  int soakMinutes = 0;
};

long cameraFrames(const Setup& s) {
  httplib::Client c(s.camera, vcwire::port());
  auto r = c.Get("/vcam/state");
  if (!r || r->status != 200) return -1;
  return nlohmann::json::parse(r->body, nullptr, false).value("lv_frames", -1L);
}

// Server CPU time (user + system) in seconds, from /proc/<pid>/stat.
double cpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::size_t at = close + 2;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    fields.push_back(text.substr(at, space - at));
    if (space == std::string::npos) break;
    at = space + 1;
  }
  // Fields after the name: state is [0], utime [11], stime [12].
  if (fields.size() < 13) return 0;
  return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) /
         static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long rssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct Window {
  double feedRate = 0;  // pictures the feed published per second
  double minRatio = 0;  // the lowest viewer's delivered / published
  double meanRate = 0;  // pictures per second per viewer (fast ones)
  double grabsPerSecond = 0;
  double cpuSeconds = 0;
  std::vector<double> delaysMs;  // render stamp to arrival
};

// Opens `count` viewers (plus a slow one when asked), lets them settle, and
// measures over `seconds`.
Window measure(const Setup& s, int count, bool withSlowViewer) {
  std::vector<std::unique_ptr<MjpegReader>> viewers;
  for (int i = 0; i < count; ++i) viewers.push_back(MjpegReader::open(s.host, s.port));
  std::unique_ptr<MjpegReader> slow;
  if (withSlowViewer) {
    MjpegReaderOptions o;
    o.pauseAfterPartMs = 1000;
    o.receiveBufferBytes = 16384;
    slow = MjpegReader::open(s.host, s.port, o);
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double from = wallSeconds();
  const long frames0 = cameraFrames(s);
  const double cpu0 = cpuSeconds(s.pid);
  std::this_thread::sleep_for(std::chrono::seconds(s.seconds));
  const double to = wallSeconds();
  const long frames1 = cameraFrames(s);
  const double cpu1 = cpuSeconds(s.pid);

  Window w;
  w.grabsPerSecond = (frames1 - frames0) / (to - from);
  w.cpuSeconds = cpu1 - cpu0;
  std::uint64_t first = UINT64_MAX, last = 0;
  std::vector<std::size_t> got;
  for (const auto& v : viewers) {
    std::size_t n = 0;
    for (const MjpegPart& p : v ? v->parts() : std::vector<MjpegPart>()) {
      if (p.arrival < from || p.arrival >= to) continue;
      ++n;
      first = std::min(first, p.frame);
      last = std::max(last, p.frame);
      if (p.renderStamp > 0) w.delaysMs.push_back((p.arrival - p.renderStamp) * 1000.0);
    }
    got.push_back(n);
  }
  const double published = last >= first ? static_cast<double>(last - first + 1) : 0;
  w.feedRate = published / (to - from);
  w.minRatio = published > 0 ? *std::min_element(got.begin(), got.end()) / published : 0;
  double sum = 0;
  for (std::size_t n : got) sum += n;
  w.meanRate = sum / got.size() / (to - from);
  return w;
}

// Median time of a request, `n` times, `gapMs` apart.
double medianMs(const Setup& s, const std::string& method, const std::string& path, int n,
                int gapMs) {
  httplib::Client c(s.host, s.port);
  c.set_read_timeout(30, 0);
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    const perf::Clock::time_point start = perf::Clock::now();
    auto r = method == "POST" ? c.Post(path.c_str()) : c.Get(path.c_str());
    if (r && r->status == 200) ms.push_back(perf::msSince(start));
    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
  }
  return perf::median(ms);
}

struct Answers {
  double status = 0, properties = 0, liveview = 0, capture = 0;
};

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

Answers answers(const Setup& s) {
  Answers a;
  a.status = medianMs(s, "GET", "/status", 100, 10);
  a.properties = medianMs(s, "GET", "/properties", 100, 10);
  // The console's own pace: one picture every 150 ms.
  a.liveview = medianMs(s, "GET", "/liveview.jpg", 40, 150);
  a.capture = medianMs(s, "POST", "/capture", 8, 200);
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  Setup s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--kamora")
      perf::splitHostPort(argv[i + 1], 8080, s.host, s.port);
    else if (name == "--camera")
      s.camera = argv[i + 1];
    else if (name == "--pid")
      s.pid = std::atoi(argv[i + 1]);
    else if (name == "--seconds")
      s.seconds = std::clamp(std::atoi(argv[i + 1]), 2, 120);
    else if (name == "--soak-minutes")
      s.soakMinutes = std::clamp(std::atoi(argv[i + 1]), 0, 60);
  }
  if (!perf::isLoopback(s.host) || !perf::isLoopback(s.camera) || s.pid <= 0) {
    std::printf("usage: perf_stream --kamora 127.x.y.z:port --camera 127.x.y.z --pid PID\n");
    return 2;
  }

  const Answers quiet = answers(s);
  const Window one = measure(s, 1, false);
  const Window four = measure(s, 4, false);
  const Window fourSlow = measure(s, 4, true);
  const Window ten = measure(s, 10, false);
  std::printf("viewers  feed/s  delivered/feed (lowest)  camera grabs/s  server CPU s\n");
  for (const auto& [n, w] :
       {std::make_pair(1, one), std::make_pair(4, four), std::make_pair(10, ten)}) {
    std::printf("%7d  %6.2f  %23.3f  %14.2f  %12.3f\n", n, w.feedRate, w.minRatio, w.grabsPerSecond,
                w.cpuSeconds);
  }
  std::printf("4 + one reading a picture a second: %.2f/s each against %.2f/s without\n",
              fourSlow.meanRate, four.meanRate);
  std::vector<double> delays = one.delaysMs;
  delays.insert(delays.end(), ten.delaysMs.begin(), ten.delaysMs.end());
  perf::report("delay camera render -> viewer (1 and 10 viewers)", 50, delays);
  const double perViewerPerMinute = (ten.cpuSeconds - one.cpuSeconds) / 9.0 * 60.0 / s.seconds;
  const double oneViewerPerMinute = one.cpuSeconds * 60.0 / s.seconds;
  std::printf("server CPU per minute: %.3f s with one viewer, %.3f s per further viewer\n",
              oneViewerPerMinute, perViewerPerMinute);

  // Requests beside one open stream (the feed running) and beside ten.
  std::vector<std::unique_ptr<MjpegReader>> streams;
  streams.push_back(MjpegReader::open(s.host, s.port));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Answers single = answers(s);
  for (int i = 1; i < 10; ++i) streams.push_back(MjpegReader::open(s.host, s.port));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Answers busy = answers(s);
  // A crowd: 100 streams open, as a hundred viewers of another program.
  for (int i = 10; i < 100; ++i) streams.push_back(MjpegReader::open(s.host, s.port));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Answers crowd = answers(s);
  std::size_t crowdOpen = 0;
  for (const auto& v : streams) crowdOpen += v && v->count() > 0 ? 1 : 0;
  std::printf(
      "median ms, no stream / 1 / 10 / 100 streams: /status %.3f / %.3f / %.3f / %.3f, "
      "/properties %.3f / %.3f / %.3f / %.3f, /liveview.jpg %.3f / %.3f / %.3f / %.3f, "
      "/capture %.1f / %.1f / %.1f / %.1f (%zu of 100 streams receiving)\n",
      quiet.status, single.status, busy.status, crowd.status, quiet.properties, single.properties,
      busy.properties, crowd.properties, quiet.liveview, single.liveview, busy.liveview,
      crowd.liveview, quiet.capture, single.capture, busy.capture, crowd.capture, crowdOpen);
  streams.resize(10);

  long rss1 = 0, rssN = 0;
  if (s.soakMinutes > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(59));
    rss1 = rssKb(s.pid);
    std::this_thread::sleep_for(std::chrono::minutes(s.soakMinutes - 1));
    rssN = rssKb(s.pid);
    std::size_t received = 0;
    for (const auto& v : streams) received += v ? v->count() : 0;
    std::printf("soak, 10 viewers: RSS %ld kB after 1 min, %ld kB after %d min (%zu pictures)\n",
                rss1, rssN, s.soakMinutes, received);
  }
  streams.clear();

  std::printf(
      "RESULT feed_fps=%.2f ratio1=%.3f ratio4=%.3f ratio10=%.3f grabs10_over_1=%.3f "
      "slow_ratio=%.3f delay_p50=%.2f delay_p95=%.2f cpu_one_min=%.3f cpu_viewer_min=%.3f "
      "status_ratio=%.3f properties_ratio=%.3f capture_ratio=%.3f capture_ratio1=%.3f rss1=%ld "
      "rssN=%ld status100=%.3f properties100=%.3f liveview100=%.3f capture100=%.3f "
      "status100q=%.3f properties100q=%.3f liveview100q=%.3f capture100q=%.3f\n",
      ten.feedRate, one.minRatio, four.minRatio, ten.minRatio,
      one.grabsPerSecond > 0 ? ten.grabsPerSecond / one.grabsPerSecond : 0,
      four.meanRate > 0 ? fourSlow.meanRate / four.meanRate : 0, perf::median(delays),
      perf::percentile(delays, 95), oneViewerPerMinute, perViewerPerMinute,
      quiet.status > 0 ? busy.status / quiet.status : 0,
      quiet.properties > 0 ? busy.properties / quiet.properties : 0,
      quiet.capture > 0 ? busy.capture / quiet.capture : 0,
      single.capture > 0 ? busy.capture / single.capture : 0, rss1, rssN,
      ratio(crowd.status, single.status), ratio(crowd.properties, single.properties),
      ratio(crowd.liveview, single.liveview), ratio(crowd.capture, single.capture),
      ratio(crowd.status, quiet.status), ratio(crowd.properties, quiet.properties),
      ratio(crowd.liveview, quiet.liveview), ratio(crowd.capture, quiet.capture));
  return 0;
}
