// Figures of one server holding several cameras (virtual ones on this
// machine): "/status" and "/cameras/<id>/properties" latency with every
// camera's live view streamed to one viewer each, against the same with one
// camera streaming, side by side in one run (one, all, one again); the
// server's threads and memory per idle camera, and its memory per camera
// whose feed runs.
//
//   rig_figures [--cameras 8] [--seconds 20] [--lv-size 1024x680] [--base 127.0.152]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/MjpegReader.h"
#include "tests/support/ProcessFigures.h"
#include "tests/support/Vcam.h"

namespace {

// Long enough for the server's idle request threads to leave (10 s).
constexpr int kSettleMs = 11000;

struct Latencies {
  std::vector<double> status, properties;
};

// Asks "/status" and a camera's "/properties" in turn, one every 10 ms,
// for `seconds`; the properties of the cameras in `ids`, round robin.
Latencies measure(const KamoraServer& k, const std::vector<std::string>& ids, int seconds) {
  Latencies out;
  httplib::Client c = k.client();
  c.set_keep_alive(true);
  const perf::Clock::time_point end = perf::Clock::now() + std::chrono::seconds(seconds);
  std::size_t turn = 0;
  while (perf::Clock::now() < end) {
    const bool status = turn % 2 == 0;
    const std::string path =
        status ? "/status" : "/cameras/" + ids[(turn / 2) % ids.size()] + "/properties";
    const perf::Clock::time_point start = perf::Clock::now();
    httplib::Result r = c.Get(path.c_str());
    if (!r) r = c.Get(path.c_str());  // a kept-alive link the server closed
    if (r && r->status == 200)
      (status ? out.status : out.properties).push_back(perf::msSince(start));
    ++turn;
    std::this_thread::sleep_until(start + std::chrono::milliseconds(10));
  }
  return out;
}

void line(const char* what, const Latencies& l) {
  std::printf(
      "  %-28s /status p50 %.2f p99 %.2f ms (n=%zu)   /properties p50 %.2f p99 %.2f ms (n=%zu)\n",
      what, perf::median(l.status), perf::percentile(l.status, 99), l.status.size(),
      perf::median(l.properties), perf::percentile(l.properties, 99), l.properties.size());
}

std::string stateOf(httplib::Client& c, const std::string& id) {
  const httplib::Result r = c.Get(("/cameras/" + id + "/camera").c_str());
  if (!r) return "";
  const nlohmann::json j = nlohmann::json::parse(r->body, nullptr, false);
  return j.is_object() ? j.value("state", "") : "";
}

}  // namespace

int main(int argc, char** argv) {
  int cameras = 8, seconds = 20;
  std::string base = "127.0.152", lvSize = "1024x680";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--cameras") cameras = std::atoi(argv[i + 1]);
    if (name == "--seconds") seconds = std::atoi(argv[i + 1]);
    if (name == "--base") base = argv[i + 1];
    if (name == "--lv-size") lvSize = argv[i + 1];
  }
  if (!perf::isLoopback(base + ".1") || cameras < 2 || cameras > 32 || seconds < 1 ||
      seconds > 600) {
    std::printf(
        "usage: rig_figures [--cameras 2..32] [--seconds 1..600] [--lv-size WxH] [--base "
        "127.x.y]\n");
    return 2;
  }
  std::vector<std::unique_ptr<VirtualCamera>> vcams;
  std::vector<std::string> ids;
  for (int n = 1; n <= cameras; ++n) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:00:98:%02x", n);
    VcamOptions o;
    o.ip = base + "." + std::to_string(n);
    o.mac = mac;
    o.lvSize = lvSize;
    vcams.push_back(VirtualCamera::start(o));
    if (!vcams.back()) {
      std::printf("camera %d did not start: %s\n", n, VirtualCamera::lastError().c_str());
      return 1;
    }
    ids.push_back("c" + std::to_string(n));
  }
  std::unique_ptr<KamoraServer> k = KamoraServer::start(base + ".200");
  if (!k) {
    std::printf("server did not start: %s\n", KamoraServer::lastError().c_str());
    return 1;
  }
  httplib::Client c = k->client();
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  const ProcessFigures bare = readProcessFigures(k->pid());

  for (int n = 0; n < cameras; ++n) {
    const std::string body = "id=" + ids[n] + "&ip=" + vcams[n]->ip() + "&mac=" + vcams[n]->mac();
    const httplib::Result r = c.Post("/cameras", body, "application/x-www-form-urlencoded");
    if (!r || r->status != 201 || stateOf(c, ids[n]) != "conectada") {
      std::printf("camera %s was not added and connected: %s\n", ids[n].c_str(),
                  r ? r->body.c_str() : "no answer");
      return 1;
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
  const ProcessFigures idle = readProcessFigures(k->pid());

  std::printf("%d cameras (SB_A4, %s live view), %d s per phase\n", cameras, lvSize.c_str(),
              seconds);
  std::printf(
      "  idle: threads %d -> %d (%.2f per camera), memory %ld -> %ld kB (%.0f kB per camera)\n",
      bare.threads, idle.threads, double(idle.threads - bare.threads) / cameras, bare.residentKb,
      idle.residentKb, double(idle.residentKb - bare.residentKb) / cameras);

  // One viewer per camera streaming, the first camera's always.
  std::vector<std::unique_ptr<MjpegReader>> viewers(cameras);
  const auto watch = [&](int n) {
    MjpegReaderOptions o;
    o.path = "/cameras/" + ids[n] + "/liveview.mjpg";
    viewers[n] = MjpegReader::open(k->host(), k->port(), o);
    return viewers[n] && viewers[n]->waitParts(5, 10000);
  };
  if (!watch(0)) return 1;
  const Latencies one = measure(*k, {ids[0]}, seconds);
  const ProcessFigures oneFeed = readProcessFigures(k->pid());

  std::vector<std::size_t> partsBefore(cameras);
  for (int n = 1; n < cameras; ++n) {
    if (!watch(n)) {
      std::printf("camera %s: no live view\n", ids[n].c_str());
      return 1;
    }
  }
  for (int n = 0; n < cameras; ++n) partsBefore[n] = viewers[n]->count();
  const perf::Clock::time_point allStart = perf::Clock::now();
  const Latencies all = measure(*k, ids, seconds);
  const double allSeconds = perf::msSince(allStart) / 1000;
  const ProcessFigures allFeeds = readProcessFigures(k->pid());
  std::vector<double> rates;
  for (int n = 0; n < cameras; ++n) {
    rates.push_back(double(viewers[n]->count() - partsBefore[n]) / allSeconds);
  }
  for (int n = 1; n < cameras; ++n) viewers[n].reset();
  const Latencies again = measure(*k, {ids[0]}, seconds);

  line("one camera streaming", one);
  line("all cameras streaming", all);
  line("one camera again", again);
  // Against each one-camera run: before the others streamed and after.
  std::printf("  p99 all / one (first run, again): /status %.2f, %.2f   /properties %.2f, %.2f\n",
              perf::percentile(all.status, 99) / perf::percentile(one.status, 99),
              perf::percentile(all.status, 99) / perf::percentile(again.status, 99),
              perf::percentile(all.properties, 99) / perf::percentile(one.properties, 99),
              perf::percentile(all.properties, 99) / perf::percentile(again.properties, 99));
  std::sort(rates.begin(), rates.end());
  std::printf(
      "  pictures/s per viewer with all streaming: lowest %.1f, median %.1f, highest %.1f\n",
      rates.front(), perf::median(rates), rates.back());
  std::printf(
      "  with feeds: threads %d (one) -> %d (all), memory %ld -> %ld kB "
      "(%.0f kB per further camera streaming)\n",
      oneFeed.threads, allFeeds.threads, oneFeed.residentKb, allFeeds.residentKb,
      double(allFeeds.residentKb - oneFeed.residentKb) / (cameras - 1));
  std::printf("  memory per added camera with its feed running: %.0f kB (idle %.0f + feed %.0f)\n",
              double(idle.residentKb - bare.residentKb) / cameras +
                  double(allFeeds.residentKb - oneFeed.residentKb) / (cameras - 1),
              double(idle.residentKb - bare.residentKb) / cameras,
              double(allFeeds.residentKb - oneFeed.residentKb) / (cameras - 1));
  viewers.clear();
  return 0;
}
