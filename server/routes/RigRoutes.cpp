// The rig's own routes: every camera (GET /cameras), adding one (POST
// /cameras), removing one (DELETE /cameras/<id>) and every camera's
// pictures in one stream (GET /tiles.mjpg, its full picture moved by POST
// /tiles/full).
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "camera/Defaults.h"
#include "server/rig/Rig.h"
#include "server/rig/TileStream.h"
#include "server/routes/CameraJson.h"
#include "server/routes/Params.h"
#include "server/routes/RouteTable.h"

namespace {

using Json = nlohmann::ordered_json;

HttpReply jsonReply(int status, const Json& body) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = jsonText(body);
  return reply;
}

HttpReply listCameras(const RouteCall& call) { return jsonReply(200, camerasJson(call.rig)); }

std::optional<HttpReply> addable(const HttpRequest& request) {
  if (!Rig::validId(request.param("id", ""))) return statusReply(400, "id invalido");
  const std::string ip = request.param("ip", "");
  const std::string mac = request.param("mac", "");
  if (ip.empty() || mac.empty()) return statusReply(400, "ip e mac obrigatorios");
  if (!CameraController::addressValid(ip, mac)) return statusReply(400, "ip ou mac invalido");
  return std::nullopt;
}

// Answers once the camera's first connection attempt has ended (or the
// time a connect may take has passed), with the camera as it is then: a
// camera not there yet is in the rig all the same, and comes when it can.
HttpReply addCamera(const RouteCall& call) {
  const HttpRequest& request = call.request;
  CameraRequest camera;
  camera.ip = request.param("ip", "");
  camera.mac = request.param("mac", "");
  camera.model = modelFromName(request.param("model", "SB_A4"));
  camera.ssh = sshFromText(request.param("ssh", "0"));
  camera.user = request.param("user", "");
  camera.pass = request.param("pass", "");
  const std::shared_ptr<CameraSlot> slot = call.rig.add(request.param("id", ""), camera);
  if (!slot) return statusReply(409, "id em uso");  // the id was checked before
  slot->health().waitUntil(
      [](const CameraHealthView& view) {
        return view.state != CameraState::Connecting || !view.serverConnects;
      },
      std::chrono::steady_clock::now() +
          std::chrono::milliseconds(defaults::kConnectWaitMs + 1000));
  return jsonReply(201, cameraJson(*slot, true));
}

HttpReply removeCamera(const RouteCall& call) {
  switch (call.rig.remove(call.camera.id())) {
    case Rig::Refusal::None:
      return statusReply("removida");
    case Rig::Refusal::Main:
      return statusReply(409, "main nao pode ser removida");
    default:
      // Removed by another request meanwhile.
      return statusReply(404, "camera desconhecida");
  }
}

// fps: 1 to the feed's most (LiveFeed::kMaxFps); empty for every picture.
std::optional<HttpReply> tileParams(const HttpRequest& request) {
  const std::string fps = request.param("fps", "");
  if (fps.empty()) return std::nullopt;
  char* end = nullptr;
  const long n = std::strtol(fps.c_str(), &end, 10);
  if (*end != '\0' || n < LiveFeed::kMinFps || n > LiveFeed::kMaxFps) {
    return statusReply(400, "fps invalido");
  }
  return std::nullopt;
}

// The full pictures asked for: full=<id> (none when empty), at most fps=N a
// second; a reply when the camera is unknown.
std::optional<HttpReply> fullAsked(const RouteCall& call, TileStreamOptions& options) {
  const std::string id = call.request.param("full", "");
  if (!id.empty()) {
    options.full = call.rig.find(id);
    if (!options.full) return statusReply(404, "camera desconhecida");
  }
  // Checked by tileParams: empty or 1 to LiveFeed::kMaxFps.
  options.fullFps = std::atoi(call.request.param("fps", "0").c_str());
  return std::nullopt;
}

// Small pictures of every camera, and with full=<id> that camera's full
// live view too (at most fps=N a second), on one connection.
HttpReply tileStream(const RouteCall& call) {
  TileStreamOptions options;
  if (std::optional<HttpReply> refused = fullAsked(call, options)) return std::move(*refused);
  return tileStreamReply(call.rig, std::move(options));
}

// Moves the full pictures of a running tile stream (its X-Stream id) to
// another camera, or with an empty full to none, without a new connection.
HttpReply moveTileStream(const RouteCall& call) {
  const std::shared_ptr<TileStream> stream =
      call.rig.tileStreams().find(call.request.param("stream", ""));
  if (!stream) return statusReply(404, "stream desconhecido");
  TileStreamOptions options;
  if (std::optional<HttpReply> refused = fullAsked(call, options)) return std::move(*refused);
  stream->moveFull(std::move(options));
  return statusReply("ok");
}

}  // namespace

std::vector<Route> rigRoutes() {
  return {
      {HttpMethod::Get, "/cameras", CameraAccess::None, listCameras, {}, {}, RouteScope::Server},
      {HttpMethod::Post,
       "/cameras",
       CameraAccess::None,
       addCamera,
       addable,
       {},
       RouteScope::Server},
      {HttpMethod::Delete,
       kCameraPrefix,
       CameraAccess::None,
       removeCamera,
       {},
       {},
       RouteScope::Server},
      {HttpMethod::Get,
       "/tiles.mjpg",
       CameraAccess::None,
       tileStream,
       tileParams,
       {},
       RouteScope::Server},
      {HttpMethod::Post,
       "/tiles/full",
       CameraAccess::None,
       moveTileStream,
       tileParams,
       {},
       RouteScope::Server},
  };
}
