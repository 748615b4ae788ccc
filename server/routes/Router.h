// Router: turns a request into its reply through the route table, for the
// camera the request addresses among the rig's. Every request passes the
// Host/Origin guard and the access token first; a path or method no route
// has answers the frame's plain 404, an unknown camera 404 "camera
// desconhecida". Thread-safe.
#pragma once

#include <memory>
#include <string>

#include "server/routes/AccessToken.h"
#include "server/routes/RouteTable.h"

class Router {
 public:
  // machineName: this machine's host name, for the guard.
  Router(Rig& rig, std::string machineName, AccessToken token);

  // Never throws: a failing handler answers 500 "erro interno".
  HttpReply handle(const HttpRequest& request) const;
  // The reply for a caller inside the process that is its own trust
  // boundary (the MQTT bridge: whoever may publish on the broker may
  // command the rig): the route table, its checks and the camera gate, but
  // neither the Host/Origin guard, which is for browsers, nor the token,
  // which is for other machines on HTTP. Never throws.
  HttpReply handleTrusted(const HttpRequest& request) const;
  // The reply when it needs no waiting (a refusal, a 404, a route's fast
  // answer); nullopt sends the request to handle(). Never blocks or throws.
  std::optional<HttpReply> answerAtOnce(const HttpRequest& request) const;

 private:
  // A row that serves the request, with the camera it addresses.
  struct Found {
    const Route* route = nullptr;
    std::shared_ptr<CameraSlot> slot;  // null: the camera named is unknown
    std::string path;                  // as the row sees it
  };

  // The guard's or the token's refusal; nullopt when the request may go on.
  std::optional<HttpReply> refusal(const HttpRequest& request) const;
  // The route for the request; nullopt with the reply when there is none.
  std::optional<HttpReply> find(const HttpRequest& request, Found& found) const;
  HttpReply withCookie(HttpReply reply, const HttpRequest& request) const;
  HttpReply dispatch(const Found& found, const HttpRequest& request) const;

  Rig& rig_;
  const std::string machineName_;
  const AccessToken token_;
};
