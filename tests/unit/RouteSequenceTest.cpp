// The sequence routes against an in-process server (fake SDK, no camera, so
// every frame is skipped as the camera's absence): parameters refused by
// name, one sequence at a time, the object's shape, and its states through
// pause, resume and stop.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "ServerTestHarness.h"
#include "server/rig/Rig.h"
#include "server/routes/Router.h"
#include "tests/support/DrivenClock.h"
#include "tests/support/RouteRequest.h"
#include "tests/support/Until.h"
#include "tests/unit/RigHarness.h"

namespace {

using json = nlohmann::ordered_json;
using namespace std::chrono_literals;

json body(const httplib::Result& r) { return r ? json::parse(r->body, nullptr, false) : json(); }

class RouteSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

TEST_F(RouteSequenceTest, BadParametersAreRefusedByNameBeforeAnythingStarts) {
  RunningServer running("127.23.0.1");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  struct Case {
    std::string query;
    const char* bad;
  } cases[] = {
      {"", "interval"},
      {"interval=0.4", "interval"},
      {"interval=1e1", "interval"},
      {"interval=1&count=-1", "count"},
      {"interval=1&count=ten", "count"},
      {"interval=1&bracket=-2,,2", "bracket"},
      {"interval=1&bracket=7", "bracket"},
      {"interval=1&start=", "start"},
      {"interval=1&start=" + std::to_string(now - 5000), "start"},
      {"interval=1&start=" + std::to_string(now + 8LL * 24 * 3600 * 1000), "start"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.query);
    const httplib::Result r = c.Post(("/sequence?" + k.query).c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(r->body, statusBody(std::string("parametro invalido: ") + k.bad));
  }
  for (const char* path : {"/sequence/stop", "/sequence/pause", "/sequence/resume"}) {
    const httplib::Result r = c.Post(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(r->body, statusBody("nenhuma sequencia"));
  }
  const httplib::Result none = c.Get("/sequence");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 404);
}

TEST_F(RouteSequenceTest, OneSequenceAtATimeThroughItsStates) {
  RunningServer running("127.23.0.2");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  const httplib::Result started = c.Post("/sequence?interval=0.5&count=0&bracket=-1,0,1.3");
  ASSERT_TRUE(started);
  EXPECT_EQ(started->status, 201);
  const json s = body(started);
  // The members clients rely on, in this order.
  std::vector<std::string> keys;
  for (auto it = s.begin(); it != s.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"state", "frame", "count", "interval_s", "next_due",
                                            "shots", "skipped", "late_ms", "bracket", "camera",
                                            "start", "taken", "skipped_total"}));
  EXPECT_EQ(s["state"], "rodando");
  EXPECT_EQ(s["interval_s"].dump(), "0.5");
  EXPECT_EQ(s["bracket"].dump(), "[-1,0,1.3]");
  EXPECT_EQ(s["late_ms"].dump(), R"({"p50":null,"p95":null,"max":null})");
  EXPECT_EQ(s["camera"], "main");
  EXPECT_EQ(s["next_due"], s["start"]);

  const httplib::Result again = c.Post("/sequence?interval=1");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 409);
  EXPECT_EQ(again->body, statusBody("sequencia em andamento"));

  // No camera: each frame due is skipped as its absence, in one run.
  json seen;
  EXPECT_TRUE(until([&] { return (seen = body(c.Get("/sequence")))["frame"].get<int>() >= 2; }, 5s,
                    [&] { return seen.dump(); }));
  EXPECT_EQ(seen["skipped"][0]["frame"], 1);
  EXPECT_EQ(seen["skipped"][0]["reason"], "perdida");
  EXPECT_EQ(seen["skipped"][0]["frames"], seen["frame"]);

  EXPECT_EQ(body(c.Post("/sequence/pause"))["state"], "pausada");
  EXPECT_EQ(body(c.Post("/sequence/pause"))["state"], "pausada");
  EXPECT_EQ(body(c.Post("/sequence/resume"))["state"], "rodando");
  (void)c.Post("/sequence/stop");
  EXPECT_TRUE(until([&] { return (seen = body(c.Get("/sequence")))["state"] == "parada"; }, 5s,
                    [&] { return seen.dump(); }));
  EXPECT_TRUE(seen["next_due"].is_null());
  EXPECT_EQ(body(c.Post("/sequence/resume"))["state"], "parada") << "an ended sequence stays so";

  // Ended: the next one may start.
  const httplib::Result next = c.Post("/sequence?interval=2&count=3");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 201);
  EXPECT_EQ(body(next)["count"], 3);
}

// A rig whose sequences run on the driven clock, its router called directly.
class RigSequenceTest : public RigHarness {
 protected:
  void SetUp() override {
    options.sequenceClock = &clock;
    RigHarness::SetUp();
  }
  // The object at path once its sequence is "concluida".
  json ended(const std::string& path) {
    json end;
    EXPECT_TRUE(until(
        [&] {
          end = json::parse(call(HttpMethod::Get, path).body, nullptr, false);
          return end.is_object() && end.value("state", "") == "concluida";
        },
        15s, [&] { return end.dump(); }));
    return end;
  }

  DrivenClock clock;
};

TEST_F(RigSequenceTest, EachCameraRunsItsOwnSequenceUnderItsIdAndItsEventsSayWhose) {
  fake::sdk().setProperties({{0x0105, 1}, {0x0103, 0x1007D}, {0x0101, 0}});  // M, 1/125
  ASSERT_EQ(call(HttpMethod::Post, "/cameras",
                 {{"id", "left"}, {"ip", "127.23.0.9"}, {"mac", "02:00:00:00:17:09"}})
                .status,
            201);
  std::shared_ptr<CameraSlot> left = rig->find("left");
  ASSERT_TRUE(until([&] { return left->health().view().state == CameraState::Connected; }, 5s));

  const HttpReply started = call(HttpMethod::Post, "/cameras/left/sequence",
                                 {{"interval", "10"}, {"count", "4"}, {"bracket", "-1,1"}});
  ASSERT_EQ(started.status, 201) << started.body;
  EXPECT_EQ(json::parse(started.body)["camera"], "left");
  const json end = ended("/cameras/left/sequence");
  EXPECT_EQ(end["shots"], 8);
  EXPECT_EQ(end["late_ms"].dump(), R"({"p50":0,"p95":0,"max":0})") << "on the driven clock";
  EXPECT_EQ(call(HttpMethod::Get, "/sequence").body, statusBody("nenhuma sequencia"));
  EXPECT_EQ(call(HttpMethod::Get, "/cameras/nope/sequence").body,
            statusBody("camera desconhecida"));

  // Each event names the camera first; frame n is due (n - 1) x 10 s after
  // the start, on the wall clock as shown.
  std::vector<json> frames;
  for (const ServerEvent& e : log.since(0)) {
    if (e.type != "sequence") continue;
    EXPECT_EQ(e.camera, "left");
    EXPECT_EQ(e.data.rfind(R"({"camera":"left",)", 0), 0u) << e.data;
    const json data = json::parse(e.data);
    if (!data.contains("state")) frames.push_back(data);
  }
  ASSERT_EQ(frames.size(), 4u);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(frames[n - 1]["due"], "2026-01-02T10:00:" + std::to_string(n - 1) + "0.000Z");
    EXPECT_EQ(frames[n - 1]["shots"][0]["applied"], "1/250");
    EXPECT_EQ(frames[n - 1]["shots"][1]["applied"], "1/60");
  }
  // The camera leaves: its sequencer takes no new sequence.
  EXPECT_EQ(call(HttpMethod::Delete, "/cameras/left").body, statusBody("removida"));
  SequenceView ignored;
  EXPECT_FALSE(left->sequence().start(SequencePlan(), std::nullopt, ignored));
}

TEST_F(RigSequenceTest, TheRigsSequenceFiresOneVolleyPerStepAtEachDueTime) {
  fake::sdk().setProperties({{0x0105, 1}, {0x0103, 0x1007D}, {0x0101, 0}});  // M, 1/125
  // Nothing connected, nothing named: nothing to fire.
  EXPECT_EQ(call(HttpMethod::Post, "/volley/sequence", {{"interval", "10"}}).body,
            statusBody("parametro invalido: cameras"));
  ASSERT_EQ(
      call(HttpMethod::Post, "/connect", {{"ip", "127.23.0.10"}, {"mac", "02:00:00:00:17:10"}})
          .body,
      statusBody("conectado"));
  ASSERT_EQ(call(HttpMethod::Post, "/cameras",
                 {{"id", "left"}, {"ip", "127.23.0.11"}, {"mac", "02:00:00:00:17:11"}})
                .status,
            201);
  std::shared_ptr<CameraSlot> left = rig->find("left");
  ASSERT_TRUE(until([&] { return left->health().view().state == CameraState::Connected; }, 5s));
  const struct {
    HttpFields params;
    int status;
    const char* body;
  } refused[] = {
      {{{"interval", "10"}, {"cameras", "main,nope"}}, 404, "camera desconhecida"},
      {{{"interval", "0.1"}, {"cameras", "main"}}, 400, "parametro invalido: interval"},
      {{{"interval", "10"}, {"bracket", "x"}}, 400, "parametro invalido: bracket"},
  };
  for (const auto& r : refused) {
    const HttpReply reply = call(HttpMethod::Post, "/volley/sequence", r.params);
    EXPECT_EQ(reply.status, r.status);
    EXPECT_EQ(reply.body, statusBody(r.body));
  }

  const HttpReply started =
      call(HttpMethod::Post, "/volley/sequence",
           {{"interval", "10"}, {"count", "2"}, {"bracket", "-1,1"}, {"cameras", "main,left"}});
  ASSERT_EQ(started.status, 201) << started.body;
  const json s = json::parse(started.body);
  EXPECT_EQ(s["rig"], true);
  EXPECT_EQ(s["cameras"].dump(), R"(["main","left"])");
  EXPECT_EQ(call(HttpMethod::Get, "/sequence").body, statusBody("nenhuma sequencia"))
      << "the rig's sequence is not main's";
  const json end = ended("/volley/sequence");
  EXPECT_EQ(end["taken"], 2);

  // The server's own events: each frame has one volley per step, each
  // volley both cameras' pictures.
  std::vector<json> frames;
  for (const ServerEvent& e : log.since(0)) {
    if (e.type != "sequence" || !e.camera.empty()) continue;
    const json data = json::parse(e.data);
    EXPECT_EQ(data["rig"], true);
    if (!data.contains("state")) frames.push_back(data);
  }
  ASSERT_EQ(frames.size(), 2u);
  for (const json& f : frames) {
    ASSERT_EQ(f["shots"].size(), 2u) << f.dump();
    for (const json& shot : f["shots"]) {
      EXPECT_EQ(shot["ok"], true) << shot.dump();
      ASSERT_EQ(shot["volley"]["cameras"].size(), 2u) << shot.dump();
      for (const json& camera : shot["volley"]["cameras"]) EXPECT_EQ(camera["files"].size(), 1u);
    }
  }
  // Each camera's exposure stepped, then put back: 1/250, 1/60, 1/125.
  std::vector<std::int64_t> shutters;
  for (const fake::Call& c : fake::sdk().calls("SetDeviceProperty")) {
    if (c.handle == fake::sdk().lastHandle() && c.ints[0] == 0x0103) shutters.push_back(c.ints[2]);
  }
  EXPECT_EQ(shutters,
            (std::vector<std::int64_t>{0x100FA, 0x1003C, 0x1007D, 0x100FA, 0x1003C, 0x1007D}));
}

}  // namespace
