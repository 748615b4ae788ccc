// The status reply, parameter reading and the no-throw handler wrapper.
#include "server/Replies.h"

#include <cstdio>
#include <utility>

void ok(httplib::Response& response, const std::string& text) {
  response.set_content("{\"status\":\"" + text + "\"}", "application/json");
}

std::string param(const httplib::Request& request, const std::string& name,
                  const std::string& fallback) {
  if (request.has_param(name.c_str())) return request.get_param_value(name.c_str(), 0);
  return fallback;
}

void refuse(httplib::Response& response) {
  response.status = 403;
  ok(response, "origem nao permitida");
}

httplib::Server::Handler noThrow(httplib::Server::Handler handler) {
  return
      [handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
        if (response.status == 403) return;  // refused before routing
        try {
          handler(request, response);
        } catch (...) {
          // Only out-of-memory can get here; answer without details.
          response.status = 500;
          ok(response, "erro interno");
        }
      };
}
