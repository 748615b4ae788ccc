// Volley figures of `kamora --server` from the outside: N virtual cameras in
// one rig, V volleys of one shot through POST /volley, the spread of the
// presses as the cameras saw them (each one's last_press_us, one wall clock
// for all) and as the server measured it (spread_ms); then the same with one
// camera stopped (SIGSTOP) before each volley, a different one each time:
// the others' spread beside the first run's, and how long after the
// request the stopped one was reported; at the end every picture reported
// against the files in each camera's folder.
//
//   volley_spread [--cameras 8] [--volleys 200] [--stopped 200]
//                 [--base 127.0.219] [--still 3000x2000]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/Vcam.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Sample {
  std::vector<double> atCameras, atServer;  // ms
};

void line(const char* what, const std::vector<double>& ms) {
  std::printf("  %-34s n=%zu  p50 %7.3f ms  p95 %7.3f ms  max %7.3f ms\n", what, ms.size(),
              perf::median(ms), perf::percentile(ms, 95.0), perf::percentile(ms, 100.0));
}

void ratio(const char* what, const std::vector<double>& with, const std::vector<double>& without) {
  const double p50 = perf::median(without), p95 = perf::percentile(without, 95.0);
  std::printf("  %-34s p50 %.2f  p95 %.2f\n", what, p50 > 0 ? perf::median(with) / p50 : 0.0,
              p95 > 0 ? perf::percentile(with, 95.0) / p95 : 0.0);
}

class Bench {
 public:
  std::vector<std::unique_ptr<VirtualCamera>> cams;
  std::vector<std::string> ids;
  std::unique_ptr<KamoraServer> server;
  // Every file a volley reported, by camera; a second report counts.
  std::map<std::string, std::multiset<std::string>> reported;

  std::string stateOf(httplib::Client& c, const std::string& id) {
    const httplib::Result r = c.Get("/cameras");
    const json j = r ? json::parse(r->body, nullptr, false) : json();
    if (!j.is_object()) return "no answer";
    for (const json& camera : j["cameras"]) {
      if (camera["id"] == id) return camera["state"];
    }
    return "absent";
  }

  // One volley of one shot over every camera; skips the camera at
  // `stopped` (if any) when reading the presses. False without an answer.
  bool fire(httplib::Client& c, int stopped, Sample& sample, json& answer, double& ms) {
    std::string list;
    for (const std::string& id : ids) list += (list.empty() ? "" : ",") + id;
    const perf::Clock::time_point start = perf::Clock::now();
    const httplib::Result r = c.Post(("/volley?shots=1&cameras=" + list).c_str());
    ms = perf::msSince(start);
    if (!r || r->status != 200) return false;
    answer = json::parse(r->body, nullptr, false);
    if (!answer.is_object()) return false;
    std::int64_t low = INT64_MAX, high = INT64_MIN;
    int ok = 0;
    for (std::size_t k = 0; k < ids.size(); ++k) {
      const json& cam = answer["cameras"][k];
      for (const json& f : cam.value("files", json::array())) reported[ids[k]].insert(f);
      if (cam["ok"] != true || static_cast<int>(k) == stopped) continue;
      const std::int64_t at = cams[k]->state().value("last_press_us", std::int64_t(0));
      low = std::min(low, at);
      high = std::max(high, at);
      ++ok;
    }
    if (ok >= 2) sample.atCameras.push_back(static_cast<double>(high - low) / 1000.0);
    sample.atServer.push_back(answer.value("spread_ms", 0.0));
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int cameras = 8, volleys = 200, stoppedVolleys = 200;
  std::string base = "127.0.219", still;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--cameras") cameras = std::atoi(argv[i + 1]);
    if (name == "--volleys") volleys = std::atoi(argv[i + 1]);
    if (name == "--stopped") stoppedVolleys = std::atoi(argv[i + 1]);
    if (name == "--base") base = argv[i + 1];
    if (name == "--still") still = argv[i + 1];
  }
  if (!perf::isLoopback(base + ".1") || cameras < 2 || cameras > 32 || volleys < 1 ||
      volleys > 10000 || stoppedVolleys < 0 || stoppedVolleys > 10000) {
    std::printf(
        "usage: volley_spread [--cameras 2..32] [--volleys N] [--stopped N] [--base 127.x.y] "
        "[--still WxH]\n");
    return 2;
  }
  Bench b;
  for (int k = 1; k <= cameras; ++k) {
    VcamOptions o;
    o.ip = base + "." + std::to_string(k);
    o.mac = "02:00:00:00:94:" + std::to_string(10 + k);
    o.stillSize = still;
    b.cams.push_back(VirtualCamera::start(o));
    b.ids.push_back("cam" + std::to_string(k));
    if (!b.cams.back()) {
      std::printf("camera %s: %s\n", o.ip.c_str(), VirtualCamera::lastError().c_str());
      return 1;
    }
  }
  b.server = KamoraServer::start(base + ".100");
  if (!b.server) {
    std::printf("server: %s\n", KamoraServer::lastError().c_str());
    return 1;
  }
  httplib::Client c = b.server->client();
  for (int k = 0; k < cameras; ++k) {
    const std::string body =
        "id=" + b.ids[k] + "&ip=" + b.cams[k]->ip() + "&mac=" + b.cams[k]->mac();
    const httplib::Result r = c.Post("/cameras", body, "application/x-www-form-urlencoded");
    if (!r || r->status != 201) {
      std::printf("adding %s: %s\n", b.ids[k].c_str(), r ? r->body.c_str() : "no answer");
      return 1;
    }
  }

  Sample plain;
  int allOk = 0;
  json answer;
  double ms = 0;
  std::vector<double> answerMs;
  for (int v = 0; v < volleys; ++v) {
    if (!b.fire(c, -1, plain, answer, ms)) {
      std::printf("volley %d: no answer\n", v + 1);
      return 1;
    }
    answerMs.push_back(ms);
    bool every = true;
    for (const json& cam : answer["cameras"]) every = every && cam["ok"] == true;
    allOk += every ? 1 : 0;
  }
  std::printf("%d cameras, %d volleys of one shot: every camera ok in %d\n", cameras, volleys,
              allOk);
  line("spread at the cameras", plain.atCameras);
  line("spread at the server (spread_ms)", plain.atServer);
  line("request to answer", answerMs);
  std::size_t plainFiles = 0;
  for (const auto& [id, files] : b.reported) plainFiles += files.size();

  Sample others;
  std::vector<double> reportMs;
  std::map<std::string, int> stoppedErrors;
  for (int v = 0; v < stoppedVolleys; ++v) {
    const int stopped = v % cameras;
    // The camera stopped before this one answers again, is connected, and
    // any loss its stop caused has shown (the stand-in notices one within
    // its 1.5 s poll time-out plus the 0.4 s poll).
    const perf::Clock::time_point stopAt = perf::Clock::now();
    b.cams[stopped]->signal(SIGSTOP);
    const bool answered = b.fire(c, stopped, others, answer, ms);
    b.cams[stopped]->signal(SIGCONT);
    if (!answered) {
      std::printf("stopped volley %d: no answer\n", v + 1);
      return 1;
    }
    reportMs.push_back(ms);
    const json& cam = answer["cameras"][stopped];
    ++stoppedErrors[cam["ok"] == true ? std::string("ok") : cam.value("error", std::string())];
    std::this_thread::sleep_until(stopAt + std::chrono::milliseconds(2000));
    for (int i = 0; i < 100 && b.stateOf(c, b.ids[stopped]) != "conectada"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (stoppedVolleys > 0) {
    std::printf("one camera stopped before each of %d volleys (a different one each time):\n",
                stoppedVolleys);
    std::printf("  the stopped camera reported:");
    for (const auto& [why, n] : stoppedErrors) std::printf(" \"%s\" %d", why.c_str(), n);
    std::printf("\n");
    line("others' spread at the cameras", others.atCameras);
    line("others' spread at the server", others.atServer);
    line("request to answer (stopped one out)", reportMs);
    ratio("with a stopped camera / without:", others.atCameras, plain.atCameras);
    ratio("  at the server:", others.atServer, plain.atServer);
  }

  // Every file once, where its camera saves, and nothing unreported.
  std::size_t total = 0, twice = 0, missing = 0, unreported = 0;
  for (const std::string& id : b.ids) {
    const std::multiset<std::string>& files = b.reported[id];
    std::set<std::string> onDisk;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(b.server->workDir()) / "captures" / id, ec), end;
         !ec && it != end; it.increment(ec)) {
      onDisk.insert(id + "/" + it->path().filename().string());
    }
    total += files.size();
    for (const std::string& f : std::set<std::string>(files.begin(), files.end())) {
      twice += files.count(f) - 1;
      missing += onDisk.count(f) ? 0 : 1;
    }
    for (const std::string& f : onDisk) unreported += files.count(f) ? 0 : 1;
  }
  std::printf(
      "files: %zu reported in the first run (%d x %d = %d), %zu in all; reported twice %zu, "
      "missing from their folder %zu, on disk but unreported %zu\n",
      plainFiles, volleys, cameras, volleys * cameras, total, twice, missing, unreported);
  return 0;
}
