// The three routes that never touch the camera: banner, liveness, console.
#include <string>

#include "server/routes/RouteTable.h"
#include "web/ConsolePage.h"

namespace {

// Indents 20, 19, 20, 18, 17, 16 and 15; the face carries a U+00AC.
const char kZefBanner[] =
    "                    .---.\n"
    "                   ( o\xC2\xACo )\n"
    "                    \\ - /\n"
    "                  /-|   |-\\\n"
    "                 /  |___|  \\\n"
    "                /   /   \\     Zef \xE2\x9A\xA1\n"
    "               _/  _/   \\_    \xE2\x80\x94pirwol\n";

HttpReply content(const std::string& body, const char* type) {
  HttpReply reply;
  reply.contentType = type;
  reply.body = body;
  return reply;
}

// A route that never waits for anything: answered on the event loop.
Route fixed(const char* path, HttpReply (*answer)()) {
  return {HttpMethod::Get,
          path,
          CameraAccess::None,
          [answer](const RouteCall&) { return answer(); },
          {},
          [answer](const RouteCall&) { return std::optional<HttpReply>(answer()); },
          RouteScope::Server};
}

}  // namespace

std::vector<Route> fixedRoutes() {
  return {
      fixed("/zef", [] { return content(kZefBanner, "text/plain; charset=utf-8"); }),
      fixed("/status", [] { return statusReply("online"); }),
      fixed("/",
            [] {
              return content(std::string(KAMORA_UI_HTML, KAMORA_UI_HTML_SIZE),
                             "text/html; charset=utf-8");
            }),
  };
}
