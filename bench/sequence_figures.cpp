// Sequence figures: a simulated day at 10 s on the driven clock (every due
// time checked), and against kamora --server and kamora-vcam in real time:
// the camera away 5 s during a 1 s sequence, 200 frames of a 5-step bracket
// at 2 s with every file's EXIF against its step, and 1,000 frames at 1 s
// (start-to-start lateness, the schedule's drift, skipped frames, the
// server's memory). Prints figures; passes or fails on nothing but errors.
//
//   sequence_figures [--parts day,away,bracket,soak] [--soak-frames 1000]
//                    [--bracket-frames 200] [--base 127.23.8]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "camera/SequenceRun.h"
#include "tests/support/DrivenClock.h"
#include "tests/support/EventReader.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/ProcessFigures.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

// ---- The simulated day -------------------------------------------------------

class CostlyFrames : public FrameWork {
 public:
  explicit CostlyFrames(DrivenClock& clock) : clock_(clock) {}
  std::vector<SchedulerClock::Steady::time_point> began;
  FrameOutcome shoot(const FrameCall&) override {
    FrameOutcome out;
    out.started = clock_.now();
    began.push_back(out.started);
    clock_.advance(std::chrono::milliseconds(random_() % 4900));
    out.shots.push_back(ShotReport{0, "x", true, "", "", ""});
    return out;
  }

 private:
  DrivenClock& clock_;
  std::mt19937 random_{3};
};

void simulatedDay() {
  DrivenClock clock;
  CostlyFrames frames(clock);
  SequencePlan plan;
  plan.interval = 10s;
  plan.count = 8640;
  const auto start = clock.now();
  const perf::Clock::time_point t0 = perf::Clock::now();
  SequenceRun run(plan, clock, frames, nullptr);
  run.run();
  const double ms = perf::msSince(t0);
  int onTime = 0;
  for (std::size_t i = 0; i < frames.began.size(); ++i) {
    onTime += frames.began[i] == start + plan.dueAfterStart(i + 1) ? 1 : 0;
  }
  std::printf(
      "simulated 24 h at 10 s (frames costing 0-4.9 s): %d of %zu frames exactly on their "
      "due time, %llu skipped, in %.1f ms\n",
      onTime, frames.began.size(), static_cast<unsigned long long>(run.view().skippedTotal), ms);
}

// ---- Against the real programs ------------------------------------------------

// Milliseconds since the epoch of an ISO UTC text ("2026-01-02T10:00:04.500Z").
long long epochMs(const std::string& iso) {
  std::tm t{};
  int ms = 0;
  if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) != 7) {
    return -1;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  return static_cast<long long>(timegm(&t)) * 1000 + ms;
}

long long wallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct Rig {
  VcamOptions camera;
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> k;
  std::unique_ptr<httplib::Client> c;
  std::unique_ptr<EventReader> events;

  bool start(const std::string& cameraIp, const std::string& serverIp) {
    camera.ip = cameraIp;
    camera.mac = "02:00:00:00:17:80";
    camera.stillSize = "1200x800";
    cam = VirtualCamera::start(camera);
    k = KamoraServer::start(serverIp);
    if (!cam || !k) {
      std::printf("  could not start: %s %s\n", VirtualCamera::lastError().c_str(),
                  KamoraServer::lastError().c_str());
      return false;
    }
    c = std::make_unique<httplib::Client>(k->client());
    httplib::Result r = c->Post(("/connect?ip=" + cameraIp + "&mac=" + camera.mac).c_str());
    events = std::make_unique<EventReader>(*k, "");
    return r && r->body == statusBody("conectado") && events->waitOpen(3000);
  }
  json get(const std::string& path) {
    httplib::Result r = c->Get(path.c_str());
    return r ? json::parse(r->body, nullptr, false) : json();
  }
  bool begin(const std::string& query) {
    httplib::Result r = c->Post(("/sequence?" + query).c_str());
    if (!r || r->status != 201) std::printf("  refused: %s\n", r ? r->body.c_str() : "no answer");
    return r && r->status == 201;
  }
  // Waits for the end (polling every 200 ms); the final object.
  json end(std::chrono::seconds most) {
    const auto until = perf::Clock::now() + most;
    json s;
    while (perf::Clock::now() < until) {
      s = get("/sequence");
      if (s["state"] == "concluida" || s["state"] == "parada") return s;
      std::this_thread::sleep_for(200ms);
    }
    return s;
  }
  std::map<int, json> frames() {
    std::map<int, json> out;
    for (const std::string& data : events->ofType("sequence")) {
      json e = json::parse(data, nullptr, false);
      if (!e.contains("state")) out[e["frame"].get<int>()] = e;
    }
    return out;
  }
  // Every picture's listing entry, by name, page by page.
  std::map<std::string, json> pictures() {
    std::map<std::string, json> out;
    std::string before;
    for (;;) {
      const json page = get("/captures?limit=500" + (before.empty() ? "" : "&before=" + before));
      for (const json& p : page["pictures"]) out[before = p["name"]] = p;
      if (!page.value("more", false) || page["pictures"].empty()) return out;
    }
  }
};

void cameraAway(const std::string& base) {
  Rig rig;
  if (!rig.start(base + ".1", base + ".2") || !rig.begin("interval=1&count=25")) return;
  while (rig.frames().size() < 5) std::this_thread::sleep_for(20ms);
  const long long killed = wallMs();
  rig.cam->kill();
  std::this_thread::sleep_for(5s);
  rig.cam = VirtualCamera::start(rig.camera);
  long long back = -1;
  while (rig.cam && back < 0 && wallMs() - killed < 20000) {
    if (rig.get("/camera")["state"] == "conectada") back = wallMs();
    std::this_thread::sleep_for(20ms);
  }
  const json end = rig.end(40s);
  int lost = 0, dueAway = 0, taken = 0;
  std::set<std::string> files;
  bool twice = false;
  for (const auto& [frame, e] : rig.frames()) {
    const long long due = epochMs(e["due"]);
    dueAway += due > killed && due <= back ? 1 : 0;
    if (e.contains("skipped")) {
      lost += e["reason"] == "perdida" ? 1 : 0;
      continue;
    }
    ++taken;
    twice |= !files.insert(e["shots"][0]["file"].get<std::string>()).second;
  }
  std::printf(
      "camera away 5 s during a 1 s sequence of 25: back (connected) %.1f s after the "
      "kill; frames due meanwhile %d, skipped as perdida %d; taken %d, files %zu on disk "
      "(a file twice: %s); state %s\n",
      (back - killed) / 1000.0, dueAway, lost, taken, rig.pictures().size(), twice ? "yes" : "no",
      end["state"].dump().c_str());
}

void bracket(const std::string& base, int frames) {
  Rig rig;
  if (!rig.start(base + ".3", base + ".4")) return;
  const std::map<double, std::string> step = {
      {-2, "1/500"}, {-1, "1/250"}, {0, "1/125"}, {1, "1/60"}, {2, "1/30"}};
  if (!rig.begin("interval=2&count=" + std::to_string(frames) + "&bracket=-2,-1,0,1,2")) return;
  const json end = rig.end(std::chrono::seconds(frames * 2 + 60));
  const std::map<std::string, json> files = rig.pictures();
  int shots = 0, matching = 0;
  for (const auto& [frame, e] : rig.frames()) {
    for (const json& shot : e.value("shots", json::array())) {
      ++shots;
      const auto it = files.find(shot.value("file", ""));
      matching += it != files.end() && it->second["shutter"] == step.at(shot["ev"].get<double>());
    }
  }
  std::printf(
      "5-step bracket at 2 s, %d frames: %d of %d files' EXIF shutter equal to their step "
      "(%zu files on disk); skipped %s; late p50/p95/max %s ms; state %s\n",
      frames, matching, frames * 5, files.size(), end["skipped_total"].dump().c_str(),
      (end["late_ms"]["p50"].dump() + " / " + end["late_ms"]["p95"].dump() + " / " +
       end["late_ms"]["max"].dump())
          .c_str(),
      end["state"].dump().c_str());
}

void soak(const std::string& base, int count) {
  Rig rig;
  if (!rig.start(base + ".5", base + ".6")) return;
  if (!rig.begin("interval=1&count=" + std::to_string(count))) return;
  ProcessFigures early;
  while (rig.frames().size() < 100 && rig.k->running()) std::this_thread::sleep_for(100ms);
  early = readProcessFigures(rig.k->pid());
  const json end = rig.end(std::chrono::seconds(count + 60));
  const ProcessFigures late = readProcessFigures(rig.k->pid());
  const std::map<int, json> got = rig.frames();
  std::vector<double> lateness;
  for (const auto& [frame, e] : got) {
    if (e.contains("late_ms")) lateness.push_back(e["late_ms"].get<double>());
  }
  const long long first = got.count(1) ? epochMs(got.at(1)["due"]) : -1;
  const long long last = got.count(count) ? epochMs(got.at(count)["due"]) : -1;
  std::printf(
      "%d frames at 1 s: late p50/p95/max from the frames' events %.3f / %.3f / %.3f ms, "
      "as the server keeps them %s / %s / %s ms; due(%d) - due(1) = %lld ms (%d s "
      "asked); skipped %s; state %s; server RSS at frame 100 %ld kB, at the end %ld kB\n",
      count, perf::percentile(lateness, 50), perf::percentile(lateness, 95),
      perf::percentile(lateness, 100), end["late_ms"]["p50"].dump().c_str(),
      end["late_ms"]["p95"].dump().c_str(), end["late_ms"]["max"].dump().c_str(), count,
      last - first, count - 1, end["skipped_total"].dump().c_str(), end["state"].dump().c_str(),
      early.residentKb, late.residentKb);
}

}  // namespace

int main(int argc, char** argv) {
  std::string parts = "day,away", base = "127.23.8";
  int soakFrames = 1000, bracketFrames = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--parts") parts = argv[i + 1];
    if (name == "--soak-frames") soakFrames = std::atoi(argv[i + 1]);
    if (name == "--bracket-frames") bracketFrames = std::atoi(argv[i + 1]);
    if (name == "--base") base = argv[i + 1];
  }
  if (!perf::isLoopback(base + ".1") || soakFrames < 2 || soakFrames > 100000 ||
      bracketFrames < 1 || bracketFrames > 10000) {
    std::printf(
        "usage: sequence_figures [--parts day,away,bracket,soak] [--soak-frames N] "
        "[--bracket-frames N] [--base 127.x.y]\n");
    return 1;
  }
  auto wanted = [&](const char* part) {
    return ("," + parts + ",").find(std::string(",") + part + ",") != std::string::npos;
  };
  if (wanted("day")) simulatedDay();
  if (wanted("away")) cameraAway(base);
  if (wanted("bracket")) bracket(base, bracketFrames);
  if (wanted("soak")) soak(base, soakFrames);
  return 0;
}
