// Kill-and-restart cycles of a virtual camera under a connected `kamora
// --server`, measured from the outside, for the recovery test and the
// reconnect benchmark:
//
//   auto cam = VirtualCamera::start(o);  auto k = KamoraServer::start(...);
//   ... POST /connect ...
//   CycleFigures f = runReconnectCycles(*k, o, cam, 10);
//   f.recovered == 10, f.pictures == files in k->workDir() + "/captures", ...
//
// Each cycle takes one picture, kills the camera, waits until /camera says
// the link is down, starts the camera again on the same address and waits
// until /camera says "conectada" and /liveview.jpg gives a picture. Not
// thread-safe: one call at a time, from the thread that owns the objects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ProcessFigures.h"

class KamoraServer;
class VirtualCamera;
struct VcamOptions;

// ms until GET /camera's state is one of the states ("|"-separated), or -1
// after timeoutMs.
double waitForCameraState(const KamoraServer& server, const std::string& states, int timeoutMs);
// ms until GET /liveview.jpg answers a JPEG, or -1 after timeoutMs.
double waitForLiveView(const KamoraServer& server, int timeoutMs);

struct CycleFigures {
  int cycles = 0;
  int recovered = 0;           // cycles that ended connected with live view
  int pictures = 0;            // pictures the captures said they took
  std::vector<double> lostMs;  // kill -> /camera "perdida" or "reconectando"
  std::vector<double> backMs;  // camera answering again -> "conectada"
  std::vector<double> liveMs;  // "conectada" -> a live-view picture
  // The server after the first cycle (so one loss and return have been
  // through every path once) and after the last, each time once it has
  // been idle for longer than its handler threads wait for work.
  ProcessFigures before, after;
  std::vector<long> residentKb;  // the server's memory after each cycle
  std::string failure;           // why a cycle failed (empty: none did)
};

CycleFigures runReconnectCycles(const KamoraServer& server, const VcamOptions& cameraOptions,
                                std::unique_ptr<VirtualCamera>& camera, int cycles);
