// Router: turns a request into its reply through the route table, for the
// camera slot it serves. Every request passes the Host/Origin guard and the
// access token first; a path or method no route has answers the frame's
// plain 404. Thread-safe.
#pragma once

#include <string>

#include "server/routes/AccessToken.h"
#include "server/routes/RouteTable.h"

class Router {
 public:
  // machineName: this machine's host name, for the guard.
  Router(CameraSlot& camera, std::string machineName, AccessToken token);

  // Never throws: a failing handler answers 500 "erro interno".
  HttpReply handle(const HttpRequest& request) const;
  // The reply when it needs no waiting (a refusal, a 404, a route's fast
  // answer); nullopt sends the request to handle(). Never blocks or throws.
  std::optional<HttpReply> answerAtOnce(const HttpRequest& request) const;

 private:
  // The guard's or the token's refusal; nullopt when the request may go on.
  std::optional<HttpReply> refusal(const HttpRequest& request) const;
  const Route* find(const HttpRequest& request) const;
  HttpReply withCookie(HttpReply reply, const HttpRequest& request) const;
  HttpReply dispatch(const Route& route, const HttpRequest& request) const;

  CameraSlot& camera_;
  const std::string machineName_;
  const AccessToken token_;
};
