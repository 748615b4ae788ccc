// Routing: the guard, the table lookup, the camera gate and the no-throw rule.
#include "server/routes/Router.h"

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

bool pathMatches(const std::string& routePath, const std::string& path) {
  if (!routePath.empty() && routePath.back() == '/' && routePath.size() > 1) {
    return path.size() > routePath.size() && path.compare(0, routePath.size(), routePath) == 0;
  }
  return routePath == path;
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

Router::Router(CameraSlot& camera, std::string machineName, AccessToken token)
    : camera_(camera), machineName_(std::move(machineName)), token_(std::move(token)) {}

std::optional<HttpReply> Router::refusal(const HttpRequest& request) const {
  if (!isRequestAllowed(request.header("Host"), request.header("Origin"), machineName_)) {
    return statusReply(403, "origem nao permitida");
  }
  if (!token_.admits(request)) return statusReply(401, "token ausente ou invalido");
  return std::nullopt;
}

const Route* Router::find(const HttpRequest& request) const {
  for (const Route& route : apiRoutes()) {
    if (pathMatches(route.path, request.path) && methodMatches(route.method, request.method)) {
      return &route;
    }
  }
  return nullptr;
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
    const Route* route = find(request);
    if (route == nullptr) return notFound();
    return withCookie(dispatch(*route, request), request);
  } catch (...) {
    // Only running out of memory gets here; answer without details.
    return statusReply(500, "erro interno");
  }
}

std::optional<HttpReply> Router::answerAtOnce(const HttpRequest& request) const {
  try {
    if (std::optional<HttpReply> refused = refusal(request)) return refused;
    const Route* route = find(request);
    if (route == nullptr) return notFound();
    if (!route->fast) return std::nullopt;
    std::optional<HttpReply> reply = route->fast({request, camera_, true, 0});
    if (!reply) return std::nullopt;
    return withCookie(std::move(*reply), request);
  } catch (...) {
    return std::nullopt;  // handle() answers it, on a worker
  }
}

HttpReply Router::dispatch(const Route& route, const HttpRequest& request) const {
  if (route.precheck) {
    if (std::optional<HttpReply> refusal = route.precheck(request)) return *refusal;
  }
  const std::uint64_t arrival = camera_.arrive();
  if (route.access == CameraAccess::None) return route.handle({request, camera_, true, arrival});
  if (route.access == CameraAccess::Teardown) {
    // A leased pan/tilt move stops now, not after the capture's shot the
    // teardown may wait for; one started while it waited stops before the
    // connection it was sent on goes.
    camera_.endPtzLease(true);
  }
  CameraGate::Hold hold(camera_.gate(), gateKind(route.access));
  if (route.access == CameraAccess::Teardown) camera_.ptz().endLease(true);
  return route.handle({request, camera_, hold.held(), arrival});
}
