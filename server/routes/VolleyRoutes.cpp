// The volley route: several cameras fired together (POST /volley).
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "server/rig/Rig.h"
#include "server/rig/Volley.h"
#include "server/routes/RigCameras.h"
#include "server/routes/RouteTable.h"

namespace {

// "shots": a whole number from 1 to Volley::kMostShots; 1 when absent.
bool shotsFromText(const std::string& text, int& shots) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < 1 || n > Volley::kMostShots) return false;
  shots = static_cast<int>(n);
  return true;
}

std::optional<HttpReply> volleyCheck(const HttpRequest& request) {
  int shots = 1;
  if (!shotsFromText(request.param("shots", "1"), shots)) return statusReply(400, "shots invalido");
  return std::nullopt;
}

HttpReply volley(const RouteCall& call) {
  int shots = 1;
  shotsFromText(call.request.param("shots", "1"), shots);  // checked before
  std::vector<VolleyCamera> cameras;
  if (!camerasFor(call.request, call.rig, cameras)) return statusReply(404, "camera desconhecida");
  HttpReply reply;
  reply.contentType = "application/json";
  reply.body = volleyJson(call.rig.volley().fire(cameras, shots, VolleyRelease()));
  return reply;
}

}  // namespace

std::vector<Route> volleyRoutes() {
  return {
      {HttpMethod::Post,
       "/volley",
       CameraAccess::None,
       volley,
       volleyCheck,
       {},
       RouteScope::Server},
  };
}
