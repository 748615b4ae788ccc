// Routing: the guard, the table lookup, the camera gate and the no-throw rule.
#include "server/routes/Router.h"

#include <algorithm>

#include "server/rig/Rig.h"
#include "server/routes/RequestGuard.h"
#include "server/slot/CameraSlot.h"

namespace {

// HEAD is answered as GET (the transport drops the body).
bool methodMatches(HttpMethod routeMethod, HttpMethod requestMethod) {
  return routeMethod == requestMethod ||
         (routeMethod == HttpMethod::Get && requestMethod == HttpMethod::Head);
}

HttpReply notFound() {
  HttpReply reply;
  reply.status = 404;
  return reply;
}

const char kIdParam[] = "{id}";

// Whether path is one the pattern serves: exactly, or as a prefix when the
// pattern ends in '/' (and the path goes on). A "{id}" segment matches any
// one non-empty segment, which goes to id.
bool pathMatches(const std::string& pattern, const std::string& path, std::string& id) {
  std::size_t p = 0;  // in the pattern
  std::size_t q = 0;  // in the path
  const std::size_t param = pattern.find(kIdParam);
  if (param != std::string::npos) {
    if (path.compare(0, param, pattern, 0, param) != 0) return false;
    const std::size_t end = std::min(path.find('/', param), path.size());
    if (end == param) return false;
    id = path.substr(param, end - param);
    p = param + sizeof kIdParam - 1;
    q = end;
  }
  const std::size_t rest = pattern.size() - p;
  if (rest > 1 && pattern.back() == '/') {
    return path.size() - q > rest && path.compare(q, rest, pattern, p, rest) == 0;
  }
  return path.size() - q == rest && path.compare(q, rest, pattern, p, rest) == 0;
}

CameraGate::Kind gateKind(CameraAccess access) {
  switch (access) {
    case CameraAccess::Reader:
      return CameraGate::Kind::Reader;
    case CameraAccess::Urgent:
      return CameraGate::Kind::Urgent;
    case CameraAccess::Command:
      return CameraGate::Kind::Command;
    case CameraAccess::None:
    case CameraAccess::Teardown:
      break;
  }
  return CameraGate::Kind::Teardown;
}

}  // namespace

Router::Router(Rig& rig, std::string machineName, AccessToken token)
    : rig_(rig), machineName_(std::move(machineName)), token_(std::move(token)) {}

std::optional<HttpReply> Router::refusal(const HttpRequest& request) const {
  if (!isRequestAllowed(request.header("Host"), request.header("Origin"), machineName_)) {
    return statusReply(403, "origem nao permitida");
  }
  if (!token_.admits(request)) return statusReply(401, "token ausente ou invalido");
  return std::nullopt;
}

std::optional<HttpReply> Router::find(const HttpRequest& request, Found& found) const {
  static const std::string prefix = kCameraPrefix;
  const std::string& path = request.path;
  for (const Route& route : apiRoutes()) {
    if (!methodMatches(route.method, request.method)) continue;
    std::string id;
    if (pathMatches(route.path, path, id)) {
      found.path = path;
    } else if (route.scope == RouteScope::Camera && pathMatches(prefix + route.path, path, id)) {
      // "/cameras/<id>" then the row's own path.
      found.path = path.substr(prefix.size() - (sizeof kIdParam - 1) + id.size());
    } else {
      continue;
    }
    found.route = &route;
    found.slot = id.empty() ? rig_.find(CameraSlot::kMainId) : rig_.find(id);
    if (!found.slot) return statusReply(404, "camera desconhecida");
    return std::nullopt;
  }
  return notFound();
}

HttpReply Router::withCookie(HttpReply reply, const HttpRequest& request) const {
  if (std::optional<std::string> cookie = token_.cookieFor(request)) {
    reply.headers.emplace_back("Set-Cookie", *cookie);
  }
  return reply;
}

HttpReply Router::handle(const HttpRequest& request) const {
  try {
    if (std::optional<HttpReply> refused = refusal(request)) return *refused;
    Found found;
    if (std::optional<HttpReply> missing = find(request, found)) return *missing;
    return withCookie(dispatch(found, request), request);
  } catch (...) {
    // Only running out of memory gets here; answer without details.
    return statusReply(500, "erro interno");
  }
}

HttpReply Router::handleTrusted(const HttpRequest& request) const {
  try {
    Found found;
    if (std::optional<HttpReply> missing = find(request, found)) return *missing;
    return dispatch(found, request);
  } catch (...) {
    return statusReply(500, "erro interno");
  }
}

std::optional<HttpReply> Router::answerAtOnce(const HttpRequest& request) const {
  try {
    if (std::optional<HttpReply> refused = refusal(request)) return refused;
    Found found;
    if (std::optional<HttpReply> missing = find(request, found)) return missing;
    if (!found.route->fast) return std::nullopt;
    std::optional<HttpReply> reply =
        found.route->fast({request, *found.slot, true, 0, rig_, found.slot, found.path});
    if (!reply) return std::nullopt;
    return withCookie(std::move(*reply), request);
  } catch (...) {
    return std::nullopt;  // handle() answers it, on a worker
  }
}

HttpReply Router::dispatch(const Found& found, const HttpRequest& request) const {
  const Route& route = *found.route;
  if (route.precheck) {
    if (std::optional<HttpReply> refusal = route.precheck(request)) return *refusal;
  }
  CameraSlot& camera = *found.slot;
  const std::uint64_t arrival = camera.arrive();
  if (route.access == CameraAccess::None) {
    return route.handle({request, camera, true, arrival, rig_, found.slot, found.path});
  }
  const bool teardown = route.access == CameraAccess::Teardown;
  // The camera's parts hear of a connect or disconnect before it waits for
  // its turn (a leased move stops now, not after a capture's shot) and once
  // it holds the camera (one started meanwhile stops before its link goes).
  if (teardown) camera.notify(&SlotObserver::beforeHandover);
  CameraGate::Hold hold(camera.gate(), gateKind(route.access));
  if (teardown) camera.notify(&SlotObserver::handover);
  return route.handle({request, camera, hold.held(), arrival, rig_, found.slot, found.path});
}
