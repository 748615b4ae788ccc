// The cycles and the waits on /camera and /liveview.jpg.
#include "tests/support/ReconnectCycles.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "server/http/HttpLimits.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool oneOf(const std::string& state, const std::string& states) {
  return ("|" + states + "|").find("|" + state + "|") != std::string::npos;
}

// Read once the server has been idle long enough to let its idle handler
// threads go and close the connections our own requests left, so that the
// figures count what the server keeps, not what it lends to requests.
ProcessFigures settledFigures(int pid) {
  std::this_thread::sleep_for(httplimits::kWorkerIdleExit + std::chrono::milliseconds(500));
  return readProcessFigures(pid);
}

}  // namespace

double waitForCameraState(const KamoraServer& server, const std::string& states, int timeoutMs) {
  httplib::Client c = server.client();
  c.set_keep_alive(true);
  const Clock::time_point start = Clock::now();
  while (msSince(start) < timeoutMs) {
    httplib::Result r = c.Get("/camera");
    if (r && r->status == 200) {
      const nlohmann::json j = nlohmann::json::parse(r->body, nullptr, false);
      if (j.is_object() && oneOf(j.value("state", std::string()), states)) return msSince(start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

double waitForLiveView(const KamoraServer& server, int timeoutMs) {
  httplib::Client c = server.client();
  c.set_keep_alive(true);
  const Clock::time_point start = Clock::now();
  while (msSince(start) < timeoutMs) {
    httplib::Result r = c.Get("/liveview.jpg");
    if (r && r->status == 200 && r->get_header_value("Content-Type") == "image/jpeg") {
      return msSince(start);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

CycleFigures runReconnectCycles(const KamoraServer& server, const VcamOptions& cameraOptions,
                                std::unique_ptr<VirtualCamera>& camera, int cycles) {
  CycleFigures f;
  httplib::Client c = server.client();
  for (int i = 0; i < cycles && f.failure.empty(); ++i) {
    ++f.cycles;
    httplib::Result shot = c.Post("/capture?shots=1");
    if (shot && shot->body == statusBody("1 foto(s)")) ++f.pictures;

    const Clock::time_point killed = Clock::now();
    camera->kill();
    if (waitForCameraState(server, "perdida|reconectando", 5000) < 0) {
      f.failure = "cycle " + std::to_string(i + 1) + ": the loss was not noticed";
      break;
    }
    f.lostMs.push_back(msSince(killed));
    camera = VirtualCamera::start(cameraOptions);
    if (!camera) {
      f.failure = "cycle " + std::to_string(i + 1) + ": " + VirtualCamera::lastError();
      break;
    }
    const double back = waitForCameraState(server, "conectada", 10000);
    const double live = back < 0 ? -1 : waitForLiveView(server, 5000);
    if (back < 0 || live < 0) {
      f.failure = "cycle " + std::to_string(i + 1) + ": not back (" + server.output() + ")\n" +
                  camera->describe();
      break;
    }
    f.backMs.push_back(back);
    f.liveMs.push_back(live);
    ++f.recovered;
    if (i == 0) f.before = settledFigures(server.pid());
    f.residentKb.push_back(readProcessFigures(server.pid()).residentKb);
  }
  f.after = settledFigures(server.pid());
  return f;
}
