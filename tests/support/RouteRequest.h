// A request as the transport hands it to the router, for the unit tests
// that drive routes without a socket.
#pragma once

#include <string>
#include <utility>

#include "server/http/HttpTypes.h"

inline HttpRequest routeRequest(HttpMethod method, const std::string& path,
                                HttpFields params = {}) {
  HttpRequest r;
  r.method = method;
  r.methodText = method == HttpMethod::Post     ? "POST"
                 : method == HttpMethod::Delete ? "DELETE"
                                                : "GET";
  r.path = path;
  r.params = std::move(params);
  r.headers = {{"Host", "127.0.0.1:8080"}};
  r.remoteAddress = "127.0.0.1";
  return r;
}
