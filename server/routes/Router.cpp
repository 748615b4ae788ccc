// Routing: the guard, the table lookup, the camera gate and the no-throw rule.
#include "server/routes/Router.h"

#include "server/routes/Replies.h"
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

}  // namespace

Router::Router(CameraSlot& camera, std::string machineName, AccessToken token)
    : camera_(camera), machineName_(std::move(machineName)), token_(std::move(token)) {}

HttpReply Router::handle(const HttpRequest& request) const {
  try {
    if (!isRequestAllowed(request.header("Host"), request.header("Origin"), machineName_)) {
      return statusReply(403, "origem nao permitida");
    }
    if (!token_.admits(request)) return statusReply(401, "token ausente ou invalido");
    for (const Route& route : apiRoutes()) {
      if (pathMatches(route.path, request.path) && methodMatches(route.method, request.method)) {
        HttpReply reply = dispatch(route, request);
        if (std::optional<std::string> cookie = token_.cookieFor(request)) {
          reply.headers.emplace_back("Set-Cookie", *cookie);
        }
        return reply;
      }
    }
    return notFound();
  } catch (...) {
    // Only running out of memory gets here; answer without details.
    return statusReply(500, "erro interno");
  }
}

HttpReply Router::dispatch(const Route& route, const HttpRequest& request) const {
  if (route.precheck) {
    if (std::optional<HttpReply> refusal = route.precheck(request)) return *refusal;
  }
  CameraGate& gate = camera_.gate();
  switch (route.access) {
    case CameraAccess::None:
      return route.handle({request, camera_, true});
    case CameraAccess::Reader: {
      CameraGate::Reader read(gate);
      return route.handle({request, camera_, read.held()});
    }
    case CameraAccess::Command: {
      CameraGate::Command turn(gate);
      return route.handle({request, camera_, true});
    }
    case CameraAccess::Teardown: {
      CameraGate::Teardown alone(gate);
      return route.handle({request, camera_, true});
    }
  }
  return notFound();
}
