// The camera routes: connect, disconnect, exposure, capture, settings
// read-out and one live-view picture.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "camera/Exposure.h"
#include "server/Params.h"
#include "server/Replies.h"
#include "server/Routes.h"
#include "server/SettingsJson.h"

namespace {

const int kConnectTimeoutMs = 15000;
const int kDownloadTimeoutMs = 15000;

}  // namespace

void addCameraRoutes(httplib::Server& server, CameraController& controller, CameraGate& gate,
                     const std::atomic<bool>& stopping) {
  CameraController* camera = &controller;
  CameraGate* access = &gate;

  server.Post("/connect", noThrow([camera, access](const httplib::Request& request,
                                                   httplib::Response& response) {
                const std::string ip = param(request, "ip", "");
                const std::string mac = param(request, "mac", "");
                const bool ssh = sshFromText(param(request, "ssh", "0"));
                const VCSDK::VcCameraDeviceModelList model =
                    modelFromName(param(request, "model", "SB_A4"));
                if (ip.empty() || mac.empty()) {
                  response.status = 400;
                  ok(response, "ip e mac obrigatorios");
                  return;
                }
                CameraGate::Teardown alone(*access);
                const bool connected = camera->connectIp(ip, mac, model, ssh, "", "") &&
                                       camera->waitConnected(kConnectTimeoutMs);
                if (connected) {
                  camera->setupForPcCapture("captures", "KAMORA");
                  ok(response, "conectado");
                } else {
                  response.status = 502;
                  ok(response, "falha ao conectar");
                }
              }));

  server.Post("/disconnect",
              noThrow([camera, access](const httplib::Request&, httplib::Response& response) {
                {
                  CameraGate::Teardown alone(*access);
                  camera->disconnect();
                }
                ok(response, "desconectado");
              }));

  server.Post("/exposure", noThrow([camera, access](const httplib::Request& request,
                                                    httplib::Response& response) {
                CameraGate::Command turn(*access);
                if (request.has_param("iso")) {
                  camera->setIso(isoFromText(param(request, "iso", "")));
                }
                if (request.has_param("fnumber")) {
                  camera->setFNumber(std::atof(param(request, "fnumber", "").c_str()));
                }
                if (request.has_param("shutter")) {
                  std::uint16_t numerator = 0, denominator = 1;
                  parseShutter(param(request, "shutter", "").c_str(), numerator, denominator);
                  camera->setShutterSpeed(numerator, denominator);
                }
                if (request.has_param("ev")) {
                  camera->setExposureBias(std::atof(param(request, "ev", "").c_str()));
                }
                ok(response, "ok");
              }));

  server.Post("/capture", noThrow([camera, access, &stopping](const httplib::Request& request,
                                                              httplib::Response& response) {
                const int shots = std::atoi(param(request, "shots", "1").c_str());
                int downloaded = 0;
                {
                  CameraGate::Command turn(*access);
                  for (int i = 0; i < shots; ++i) {
                    // A waiting connect/disconnect or a shutdown ends the run
                    // after the shot under way rather than after all of them.
                    if (access->teardownPending() || stopping.load()) break;
                    if (camera->capturePhoto(kDownloadTimeoutMs)) ++downloaded;
                  }
                }
                ok(response, std::to_string(downloaded) + " foto(s)");
              }));

  server.Get("/properties",
             noThrow([camera, access](const httplib::Request&, httplib::Response& response) {
               CameraGate::Reader read(*access);
               response.set_content(
                   settingsJson(read.held() ? camera->readSettings() : std::nullopt),
                   "application/json");
             }));

  server.Get("/liveview.jpg",
             noThrow([camera, access](const httplib::Request&, httplib::Response& response) {
               std::vector<std::uint8_t> picture;
               bool grabbed = false;
               {
                 CameraGate::Reader read(*access);
                 grabbed = read.held() && camera->grabLiveViewFrame(picture);
               }
               if (grabbed) {
                 response.set_content(reinterpret_cast<const char*>(picture.data()), picture.size(),
                                      "image/jpeg");
               } else {
                 response.status = 503;
                 ok(response, "live view indisponivel");
               }
             }));
}
