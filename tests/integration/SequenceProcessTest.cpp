// Sequences against real kamora and kamora-vcam processes, in real time:
// brackets whose files' EXIF shows each step (M moves the shutter, A the
// compensation, a refused step is reported), frames on their due times, a
// camera lost and back, a busy camera and a manual capture beside the
// sequence, the server stopping mid-sequence, and the command-line mode
// with its Ctrl+C.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "tests/support/EventReader.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/Sanitized.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Milliseconds into the day of an ISO time ("2026-01-02T10:00:04.500Z").
long dayMs(const std::string& iso) {
  int h = 0, m = 0, sec = 0, ms = 0;
  std::sscanf(iso.c_str() + 11, "%d:%d:%d.%d", &h, &m, &sec, &ms);
  return ((h * 60L + m) * 60L + sec) * 1000L + ms;
}

json getJson(httplib::Client& c, const std::string& path) {
  httplib::Result r = c.Get(path.c_str());
  return r ? json::parse(r->body, nullptr, false) : json();
}

class SequenceProcessTest : public ::testing::Test {
 protected:
  void start(const std::string& cameraIp, const std::string& serverIp,
             std::vector<std::string> vcamArgs = {}) {
    options.ip = cameraIp;
    options.mac = "02:00:00:00:17:01";
    options.stillSize = "1200x800";
    options.extraArgs = std::move(vcamArgs);
    cam = VirtualCamera::start(options);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    k = KamoraServer::start(serverIp);
    ASSERT_TRUE(k) << KamoraServer::lastError();
    c = std::make_unique<httplib::Client>(k->client());
    const std::string connect = "/connect?ip=" + cameraIp + "&mac=" + options.mac;
    httplib::Result r = c->Post(connect.c_str());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->body, statusBody("conectado"));
    events = std::make_unique<EventReader>(*k, "");
    ASSERT_TRUE(events->waitOpen(3000));
  }

  json begin(const std::string& query) {
    httplib::Result r = c->Post(("/sequence?" + query).c_str());
    EXPECT_TRUE(r && r->status == 201) << (r ? r->body : "no answer");
    return r ? json::parse(r->body, nullptr, false) : json();
  }
  // Waits for the sequence to end (its last event read too: every frame's
  // event comes before it) and returns its object.
  json ended(std::chrono::milliseconds deadline, const std::string& route = "/sequence") {
    json seen;
    auto over = [](const json& s) {
      return s.is_object() &&
             (s.value("state", "") == "concluida" || s.value("state", "") == "parada");
    };
    EXPECT_TRUE(until(
        [&] {
          const std::vector<std::string> got = events->ofType("sequence");
          seen = got.empty() ? json() : json::parse(got.back(), nullptr, false);
          return over(seen);
        },
        deadline, [&] { return seen.dump(); }));
    return getJson(*c, route);
  }
  // The frame events so far, by frame number (each must come once).
  std::map<int, json> frames() {
    std::map<int, json> out;
    for (const std::string& data : events->ofType("sequence")) {
      const json e = json::parse(data, nullptr, false);
      if (e.contains("state")) continue;
      EXPECT_TRUE(out.emplace(e["frame"].get<int>(), e).second) << "frame twice: " << data;
    }
    return out;
  }
  // The capture folder's pictures by name, with their EXIF exposure.
  std::map<std::string, json> pictures() {
    std::map<std::string, json> out;
    const json listing = getJson(*c, "/captures?limit=500");
    for (const json& p : listing["pictures"]) out[p["name"]] = p;
    return out;
  }

  VcamOptions options;
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> k;
  std::unique_ptr<httplib::Client> c;
  std::unique_ptr<EventReader> events;
};

TEST_F(SequenceProcessTest, EachBracketStepIsInItsFilesExifAndTheBaseComesBack) {
  struct Case {
    const char* mode;
    const char* bracket;
    const char* field;  // the EXIF member that steps
    std::vector<json> exif;
    const char* base;  // that setting in /properties afterwards
  } cases[] = {
      {"M", "-1,0,1", "shutter", {"1/250", "1/125", "1/60"}, "1/125"},
      {"A", "-2,0,2", "ev", {-2.0, 0.0, 2.0}, "+0.0"},
  };
  int n = 0;
  for (const Case& t : cases) {
    SCOPED_TRACE(t.mode);
    const std::string at = std::to_string(++n);
    ASSERT_NO_FATAL_FAILURE(start("127.23.1." + at, "127.23.2." + at, {"--mode", t.mode}));
    // The camera refuses the first step's setting once: that step is
    // reported, not shot at the base exposure.
    const char* prop = t.field == std::string("shutter") ? "0x0103" : "0x0101";
    ASSERT_TRUE(cam->fault("refuse-prop", {{"prop", prop}, {"count", "1"}}));
    const json started = begin(std::string("interval=2&count=3&bracket=") + t.bracket);
    const json end = ended(15s);
    EXPECT_EQ(end["state"], "concluida");
    EXPECT_EQ(end["shots"], 8);
    const std::map<int, json> got = frames();
    ASSERT_EQ(got.size(), 3u);
    const std::map<std::string, json> files = pictures();
    EXPECT_EQ(files.size(), 8u);
    for (const auto& [frame, e] : got) {
      SCOPED_TRACE(frame);
      ASSERT_EQ(e["shots"].size(), 3u);
      for (std::size_t i = 0; i < 3; ++i) {
        const json& shot = e["shots"][i];
        if (frame == 1 && i == 0) {
          EXPECT_EQ(shot["ok"], false);
          EXPECT_EQ(shot["error"], "recusada");
          EXPECT_TRUE(shot["file"].is_null());
          continue;
        }
        ASSERT_EQ(shot["ok"], true) << shot.dump();
        ASSERT_EQ(files.count(shot["file"]), 1u) << shot.dump();
        EXPECT_EQ(files.at(shot["file"])[t.field], t.exif[i]) << shot.dump();
      }
      EXPECT_GE(e["late_ms"].get<double>(), 0.0);
    }
    // Due on the schedule from the start, to the millisecond.
    EXPECT_EQ(got.at(1)["due"], started["start"]);
    for (const auto& [frame, e] : got) {
      EXPECT_EQ((dayMs(e["due"]) - dayMs(started["start"]) + 86400000) % 86400000,
                (frame - 1) * 2000L);
    }
    EXPECT_EQ(getJson(*c, "/properties")[t.field], t.base);
  }
}

TEST_F(SequenceProcessTest, FramesDueWhileTheCameraIsAwayAreSkippedAndTheSequenceGoesOn) {
  ASSERT_NO_FATAL_FAILURE(start("127.23.1.10", "127.23.2.10"));
  begin("interval=1&count=9");
  ASSERT_TRUE(until([&] { return frames().size() >= 2; }, 5s));
  cam->kill();
  // Away until the server has skipped two frames as lost.
  auto lost = [&] {
    int n = 0;
    for (const auto& [frame, e] : frames()) n += e.value("reason", "") == "perdida" ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(until([&] { return lost() >= 2; }, 6s, [&] { return std::to_string(lost()); }));
  cam = VirtualCamera::start(options);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  const json end = ended(20s);
  EXPECT_EQ(end["state"], "concluida");
  const std::map<int, json> got = frames();
  ASSERT_EQ(got.size(), 9u) << "every frame reported once";
  EXPECT_EQ(got.rbegin()->first, 9);
  EXPECT_FALSE(got.at(9).contains("skipped")) << "taken again once the camera was back";
  std::set<std::string> named;
  int taken = 0;
  for (const auto& [frame, e] : got) {
    if (e.contains("skipped")) {
      EXPECT_EQ(e["reason"], "perdida") << e.dump();
      continue;
    }
    ++taken;
    EXPECT_TRUE(named.insert(e["shots"][0]["file"].get<std::string>()).second) << "a file twice";
  }
  EXPECT_EQ(end["taken"], taken);
  EXPECT_EQ(end["skipped_total"], 9 - taken);
  EXPECT_EQ(pictures().size(), static_cast<std::size_t>(taken));
}

TEST_F(SequenceProcessTest, BusyIsRetriedAManualCaptureWaitsOneFrameAndShutdownEndsIt) {
  ASSERT_NO_FATAL_FAILURE(start("127.23.1.11", "127.23.2.11"));
  // The next two shots are answered busy: the frame is still taken.
  ASSERT_TRUE(cam->fault("capture-error", {{"code", "0x00008006"}, {"count", "2"}}));
  // Two seconds: a busy answer is asked again for up to half of it.
  begin("interval=2&count=0&bracket=-1,0,1");
  ASSERT_TRUE(until([&] { return frames().size() >= 1; }, 8s));
  const json first = frames().at(1);
  EXPECT_FALSE(first.contains("skipped")) << first.dump();
  for (const json& shot : first["shots"]) EXPECT_EQ(shot["ok"], true) << first.dump();

  // Live view and settings answer between frames; a manual capture waits
  // for at most the frame under way.
  httplib::Client other = k->client();
  for (int i = 0; i < 3; ++i) {
    httplib::Result lv = other.Get("/liveview.jpg");
    ASSERT_TRUE(lv);
    EXPECT_EQ(lv->status, 200);
    const auto sent = Clock::now();
    httplib::Result shot = other.Post("/capture");
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->body, statusBody("1 foto(s)"));
    // A frame's three shots and the capture's own (about a second here);
    // waiting for a second frame would add its interval and its shots.
    EXPECT_LT(ms, kSanitized ? 6000 : 3000) << "capture waited " << ms << " ms";
  }
  // A long manual capture keeps the camera past a frame's slack.
  const std::size_t before = frames().size();
  EXPECT_EQ(other.Post("/capture?shots=12")->body, statusBody("12 foto(s)"));
  ASSERT_TRUE(until([&] { return frames().size() >= before + 2; }, 8s));
  bool busy = false;
  for (const auto& [frame, e] : frames()) busy |= e.value("reason", "") == "ocupada";
  EXPECT_TRUE(busy) << "a frame skipped as busy";

  // Stopping the server ends the sequence after the shot under way.
  k->signal(SIGTERM);
  EXPECT_EQ(k->wait(10000), 0) << k->output();
  for (const auto& entry : std::filesystem::directory_iterator(k->workDir() + "/captures")) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9") << entry.path() << " cut short";
  }
}

TEST_F(SequenceProcessTest, TheRigsTimelapseFiresBothCamerasAtEachStepAndTheirExifSaysIt) {
  ASSERT_NO_FATAL_FAILURE(start("127.23.1.30", "127.23.2.30"));
  VcamOptions second = options;
  second.ip = "127.23.1.31";
  second.mac = "02:00:00:00:17:31";
  auto other = VirtualCamera::start(second);
  ASSERT_TRUE(other) << VirtualCamera::lastError();
  const std::string add = "/cameras?id=left&ip=" + second.ip + "&mac=" + second.mac;
  ASSERT_EQ(c->Post(add.c_str())->status, 201);
  ASSERT_TRUE(
      until([&] { return getJson(*c, "/cameras/left/camera")["state"] == "conectada"; }, 10s));

  httplib::Result r = c->Post("/volley/sequence?interval=2&count=2&bracket=-1,1&cameras=main,left");
  ASSERT_TRUE(r && r->status == 201) << (r ? r->body : "no answer");
  const json end = ended(20s, "/volley/sequence");
  EXPECT_EQ(end["state"], "concluida") << end.dump();
  EXPECT_EQ(end["taken"], 2);

  // Each step's volley: both cameras' files, each at the step's shutter.
  std::map<std::string, json> files;
  for (const auto& [name, p] : pictures()) files[name] = p;
  const json left = getJson(*c, "/cameras/left/captures?limit=500");
  for (const json& p : left["pictures"]) files["left/" + p["name"].get<std::string>()] = p;
  EXPECT_EQ(files.size(), 8u);
  int frames = 0;
  for (const std::string& data : events->ofType("sequence")) {
    const json e = json::parse(data, nullptr, false);
    if (!e.contains("rig") || e.contains("state")) continue;
    ++frames;
    ASSERT_EQ(e["shots"].size(), 2u) << data;
    for (std::size_t i = 0; i < 2; ++i) {
      const json& volley = e["shots"][i]["volley"];
      ASSERT_EQ(volley["cameras"].size(), 2u) << data;
      for (const json& camera : volley["cameras"]) {
        ASSERT_EQ(camera["files"].size(), 1u) << data;
        const std::string file = camera["files"][0];
        ASSERT_EQ(files.count(file), 1u) << file;
        EXPECT_EQ(files.at(file)["shutter"], i == 0 ? "1/250" : "1/60") << file;
      }
    }
  }
  EXPECT_EQ(frames, 2);
  EXPECT_EQ(getJson(*c, "/cameras/left/properties")["shutter"], "1/125");
}

TEST(SequenceCommandLine, OneLinePerFrameAClosingLineAndCtrlCEndsAfterTheShotUnderWay) {
  using namespace clitest;
  VcamOptions o;
  o.ip = "127.23.1.20";
  o.mac = "02:00:00:00:17:20";
  o.stillSize = "1200x800";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  // A frame of three stills downloaded must start within half an interval of its
  // due time; sanitized builds take several times as long over them.
  const std::string interval = kSanitized ? "6" : "1.5";
  const CliRun run = runKamora({"--capture", "127.23.1.20", "02:00:00:00:17:20", "--interval",
                                interval, "--shots", "3", "--bracket", "-1,0,1"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  std::vector<std::string> frameLines;
  for (const std::string& line : run.mainLines) {
    if (line.rfind("[info] quadro", 0) == 0) frameLines.push_back(line);
  }
  ASSERT_EQ(frameLines.size(), 3u) << run.output;
  for (std::size_t i = 0; i < 3; ++i) {
    // "[info] quadro 2/3 2026-01-02T10:00:01.500Z +0.1 ms 1/250:KAMORA_00004.JPG ..."
    std::istringstream words(frameLines[i]);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    ASSERT_EQ(w.size(), 9u) << frameLines[i];
    EXPECT_EQ(w[2], std::to_string(i + 1) + "/3");
    EXPECT_TRUE(w[3].size() == 24 && w[3][10] == 'T' && w[3].back() == 'Z') << w[3];
    EXPECT_TRUE(w[4][0] == '+' && w[5] == "ms") << frameLines[i];
    const char* steps[] = {"1/250:KAMORA_", "1/125:KAMORA_", "1/60:KAMORA_"};
    for (int s = 0; s < 3; ++s) {
      EXPECT_EQ(w[6 + s].rfind(steps[s], 0), 0u) << w[6 + s];
      EXPECT_EQ(w[6 + s].substr(w[6 + s].size() - 4), ".JPG") << w[6 + s];
    }
  }
  EXPECT_EQ(run.mainLines.back(), "[info] sequencia encerrada (3 quadros, 0 pulados, 9 fotos).");
  EXPECT_EQ(run.files().size(), 9u);

  // An open-ended sequence, ended by Ctrl+C.
  const std::string dir = makeTempDir("cli");
  auto p = Subprocess::start({binaryPath("kamora"), "--capture", "127.23.1.20", "02:00:00:00:17:20",
                              "--interval", "1", "--shots", "0"},
                             dir);
  ASSERT_TRUE(p);
  ASSERT_TRUE(p->waitForOutput("[info] quadro 2 ", 10000)) << p->output();
  p->signal(SIGINT);
  EXPECT_EQ(p->wait(10000), 0) << p->output();
  const std::string out = p->output();
  int frames = -1, skipped = -1, photos = -1;
  const std::size_t at = out.find("[info] sequencia encerrada (");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at,
                        "[info] sequencia encerrada (%d quadros, %d pulados, %d fotos).", &frames,
                        &skipped, &photos),
            3);
  EXPECT_GE(frames, 2);
  EXPECT_EQ(skipped, 0);
  EXPECT_EQ(photos, frames);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir + "/captures")) {
    files += entry.path().filename().string()[0] == '.' ? 0 : 1;
  }
  EXPECT_EQ(static_cast<int>(files), photos) << "each frame's picture downloaded whole";
}

}  // namespace
