// Capture overhead: the time from POST "/capture?shots=1" to its answer
// through a running `kamora --server`, against the camera's own time to
// render and hand over a picture, measured on a twin virtual camera driven
// directly over its loopback protocol (press, release, wait for the picture
// event, download). Interleaved, one of each per round.
//
//   perf_capture --kamora 127.0.85.2:8080 --twin 127.0.85.3 --mac 02:00:00:00:00:01
//                [--shots 8]
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/perf_stats.h"
#include "sdk/standin/Wire.h"
#include "tests/support/StatusReply.h"
#include "vcsdk/VcTypes.h"

namespace {

using nlohmann::json;

json post(httplib::Client& c, const char* path, const json& body) {
  httplib::Result r = c.Post(path, body.dump(), "application/json");
  if (!r || r->status != 200) return json();
  return json::parse(r->body, nullptr, false);
}

// One picture straight from the camera: ms from the press to the last byte
// of the download; negative on failure.
double directShot(httplib::Client& c, const std::string& session) {
  const perf::Clock::time_point start = perf::Clock::now();
  post(c, vcwire::kCommand,
       {{"session", session},
        {"id", VCSDK::VcCommand_Release},
        {"param", VCSDK::VcCommandParam_Down}});
  post(c, vcwire::kCommand,
       {{"session", session},
        {"id", VCSDK::VcCommand_Release},
        {"param", VCSDK::VcCommandParam_Up}});
  for (int polls = 0; polls < 20; ++polls) {
    const std::string path = std::string(vcwire::kEvents) + "?session=" + session + "&wait=1000";
    httplib::Result r = c.Get(path.c_str());
    if (!r || r->status != 200) return -1.0;
    const json j = json::parse(r->body, nullptr, false);
    for (const json& e : j.value("events", json::array())) {
      if (e.value("type", std::string()) != vcwire::kEventPicture) continue;
      const std::string get = std::string(vcwire::kPicture) + "?session=" + session +
                              "&id=" + std::to_string(e.value("id", 0ull));
      httplib::Result pic = c.Get(get.c_str());
      if (!pic || pic->status != 200 || !perf::looksLikeJpeg(pic->body)) return -1.0;
      return perf::msSince(start);
    }
  }
  return -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string kamora = "127.0.85.2:8080", twin = "127.0.85.3", mac = "02:00:00:00:00:01";
  int shots = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--kamora")
      kamora = argv[i + 1];
    else if (name == "--twin")
      twin = argv[i + 1];
    else if (name == "--mac")
      mac = argv[i + 1];
    else if (name == "--shots")
      shots = std::atoi(argv[i + 1]);
  }
  std::string kHost;
  int kPort = 0;
  perf::splitHostPort(kamora, 8080, kHost, kPort);
  if (!perf::isLoopback(kHost) || !perf::isLoopback(twin) || shots < 1 || shots > 100) {
    std::printf(
        "usage: perf_capture --kamora 127.x.y.z:port --twin 127.x.y.z --mac M [--shots N<=100]\n");
    return 2;
  }

  httplib::Client camera(twin, vcwire::port());
  camera.set_tcp_nodelay(true);
  camera.set_read_timeout(10, 0);
  const json link = post(camera, vcwire::kConnect, {{"mac", mac}, {"ssh", false}});
  const std::string session = link.value("session", std::string());
  if (session.empty() || link.value("error", 1u) != 0) {
    std::printf("could not link to the twin camera at %s\n", twin.c_str());
    return 1;
  }
  // What the program's PC-capture set-up does: pictures go to the host.
  post(camera, vcwire::kSetProp,
       {{"session", session},
        {"code", VCSDK::VcDeviceProperty_StillImageStoreDestination},
        {"value", VCSDK::VcStillImageStore_HostPC}});
  post(camera, vcwire::kSaveInfo,
       {{"session", session}, {"folder", "captures"}, {"prefix", "TWIN"}});
  // The link is up once its first event has come.
  camera.Get((std::string(vcwire::kEvents) + "?session=" + session + "&wait=1000").c_str());

  httplib::Client through(kHost, kPort);
  through.set_tcp_nodelay(true);
  through.set_read_timeout(40, 0);

  std::vector<double> viaKamora, direct;
  int failures = 0;
  for (int i = 0; i < shots; ++i) {
    const perf::Clock::time_point start = perf::Clock::now();
    httplib::Result r = through.Post("/capture?shots=1");
    const double ms = perf::msSince(start);
    if (r && r->status == 200 && r->body == statusBody("1 foto(s)")) {
      viaKamora.push_back(ms);
    } else {
      ++failures;
    }
    const double own = directShot(camera, session);
    if (own < 0) {
      ++failures;
    } else {
      direct.push_back(own);
    }
  }
  post(camera, (std::string(vcwire::kDisconnect) + "?session=" + session).c_str(), json::object());

  const double k = perf::median(viaKamora), d = perf::median(direct);
  std::printf("capture, %d shots each (%d failed)\n", shots, failures);
  std::printf("  /capture through kamora: median %.1f ms (min %.1f, max %.1f)\n", k,
              perf::percentile(viaKamora, 0), perf::percentile(viaKamora, 100));
  std::printf("  camera's own render + transfer: median %.1f ms\n", d);
  std::printf("  overhead %.1f ms\n", k - d);
  std::printf(
      "RESULT capture_kamora_ms=%.1f capture_camera_ms=%.1f capture_overhead_ms=%.1f failures=%d\n",
      k, d, k - d, failures);
  return failures == 0 ? 0 : 1;
}
