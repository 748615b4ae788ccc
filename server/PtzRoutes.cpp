// The pan/tilt routes: each reads its numbers, hands one command to the head
// and answers "ok" whatever the head said (refusals are printed by the
// controller).
#include <cstdlib>

#include "server/Params.h"
#include "server/Replies.h"
#include "server/Routes.h"

namespace {

int intParam(const httplib::Request& request, const char* name, const char* fallback) {
  return std::atoi(param(request, name, fallback).c_str());
}

}  // namespace

void addPtzRoutes(httplib::Server& server, CameraController& controller, CameraGate& gate) {
  CameraController* camera = &controller;
  CameraGate* access = &gate;

  server.Post("/ptz/move", noThrow([camera, access](const httplib::Request& request,
                                                    httplib::Response& response) {
                const int pan = intParam(request, "pan", "0");
                const int tilt = intParam(request, "tilt", "0");
                CameraGate::Command turn(*access);
                camera->ptzMove(pan, tilt);
                ok(response, "ok");
              }));
  server.Post("/ptz/absolute", noThrow([camera, access](const httplib::Request& request,
                                                        httplib::Response& response) {
                const int pan = intParam(request, "pan", "0");
                const int tilt = intParam(request, "tilt", "0");
                const int speed = intParam(request, "speed", "10");
                CameraGate::Command turn(*access);
                camera->ptzAbsolute(pan, tilt, speed);
                ok(response, "ok");
              }));
  server.Post("/ptz/home",
              noThrow([camera, access](const httplib::Request&, httplib::Response& response) {
                CameraGate::Command turn(*access);
                camera->ptzHome();
                ok(response, "ok");
              }));
  server.Post("/ptz/stop",
              noThrow([camera, access](const httplib::Request&, httplib::Response& response) {
                CameraGate::Command turn(*access);
                camera->ptzStop();
                ok(response, "ok");
              }));
  server.Post("/ptz/preset/set", noThrow([camera, access](const httplib::Request& request,
                                                          httplib::Response& response) {
                const std::uint16_t num = presetFromText(param(request, "num", "1"));
                CameraGate::Command turn(*access);
                camera->ptzPresetSet(num);
                ok(response, "ok");
              }));
  server.Post("/ptz/preset/recall", noThrow([camera, access](const httplib::Request& request,
                                                             httplib::Response& response) {
                const std::uint16_t num = presetFromText(param(request, "num", "1"));
                CameraGate::Command turn(*access);
                camera->ptzPresetRecall(num);
                ok(response, "ok");
              }));
  server.Post("/ptz/preset/clear", noThrow([camera, access](const httplib::Request& request,
                                                            httplib::Response& response) {
                const std::uint16_t num = presetFromText(param(request, "num", "1"));
                CameraGate::Command turn(*access);
                camera->ptzPresetClear(num);
                ok(response, "ok");
              }));
}
