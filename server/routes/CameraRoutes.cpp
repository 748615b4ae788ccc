// The camera routes: connect, disconnect, exposure, capture and settings
// read-out.
#include <cstdlib>
#include <vector>

#include "camera/Defaults.h"
#include "camera/Exposure.h"
#include "server/routes/Params.h"
#include "server/routes/RouteTable.h"
#include "server/routes/SettingsJson.h"
#include "server/slot/CameraSlot.h"

namespace {

std::optional<HttpReply> needIpAndMac(const HttpRequest& request) {
  if (request.param("ip", "").empty() || request.param("mac", "").empty()) {
    return statusReply(400, "ip e mac obrigatorios");
  }
  return std::nullopt;
}

HttpReply connect(const RouteCall& call) {
  const HttpRequest& request = call.request;
  const std::string ip = request.param("ip", "");
  const std::string mac = request.param("mac", "");
  const bool ssh = sshFromText(request.param("ssh", "0"));
  const VCSDK::VcCameraDeviceModelList model = modelFromName(request.param("model", "SB_A4"));
  CameraController& camera = call.camera.controller();
  CameraHealth& health = call.camera.health();
  // A malformed address leaves the camera held before (and its health) as
  // it was; any other request replaces it, and ends a reconnection.
  const bool requested = camera.connectIp(ip, mac, model, ssh, "", "");
  if (requested) health.userConnecting({ip, mac, model, ssh, "", ""});
  if (!requested || !camera.waitConnected(defaults::kConnectWaitMs)) {
    if (requested || !camera.hasDevice()) health.userConnectFailed(camera.events().lastError());
    return statusReply(502, "falha ao conectar");
  }
  call.camera.notify(&SlotObserver::connected);
  health.userConnected();
  return statusReply("conectado");
}

HttpReply disconnect(const RouteCall& call) {
  call.camera.controller().disconnect();
  call.camera.health().userDisconnected();
  return statusReply("desconectado");
}

// Each value that is present, in the fixed order of applyExposure.
HttpReply exposure(const RouteCall& call) {
  const HttpRequest& request = call.request;
  Exposure values;
  if ((values.hasIso = request.hasParam("iso"))) values.iso = isoFromText(request.param("iso", ""));
  if ((values.hasFNumber = request.hasParam("fnumber"))) {
    values.fNumber = std::atof(request.param("fnumber", "").c_str());
  }
  if ((values.hasShutter = request.hasParam("shutter"))) {
    parseShutter(request.param("shutter", "").c_str(), values.shutterNum, values.shutterDen);
  }
  if ((values.hasEv = request.hasParam("ev"))) {
    values.ev = std::atof(request.param("ev", "").c_str());
  }
  applyExposure(call.camera.controller(), values);
  if (values.hasIso || values.hasFNumber || values.hasShutter || values.hasEv) {
    call.camera.publishExposure();
  }
  return statusReply("ok");
}

HttpReply capture(const RouteCall& call) {
  const int shots = std::atoi(call.request.param("shots", "1").c_str());
  int downloaded = 0;
  for (int i = 0; i < shots; ++i) {
    // A waiting connect/disconnect or a shutdown ends the run after the
    // shot under way rather than after all of them.
    if (call.camera.shouldYield()) break;
    if (call.camera.controller().capturePhoto(defaults::kDownloadWaitMs)) ++downloaded;
  }
  return statusReply(std::to_string(downloaded) + " foto(s)");
}

HttpReply properties(const RouteCall& call) {
  HttpReply reply;
  reply.contentType = "application/json";
  reply.body =
      settingsJson(call.cameraHeld ? call.camera.controller().readSettings() : std::nullopt);
  return reply;
}

}  // namespace

std::vector<Route> cameraRoutes() {
  return {
      {HttpMethod::Post, "/connect", CameraAccess::Teardown, connect, needIpAndMac},
      {HttpMethod::Post, "/disconnect", CameraAccess::Teardown, disconnect, {}},
      {HttpMethod::Post, "/exposure", CameraAccess::Command, exposure, {}},
      {HttpMethod::Post, "/capture", CameraAccess::Command, capture, {}},
      {HttpMethod::Get, "/properties", CameraAccess::Reader, properties, {}},
  };
}
