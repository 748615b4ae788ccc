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

}  // namespace

std::vector<Route> fixedRoutes() {
  return {
      {HttpMethod::Get,
       "/zef",
       CameraAccess::None,
       [](const RouteCall&) { return content(kZefBanner, "text/plain; charset=utf-8"); },
       {}},
      {HttpMethod::Get,
       "/status",
       CameraAccess::None,
       [](const RouteCall&) { return statusReply("online"); },
       {}},
      {HttpMethod::Get,
       "/",
       CameraAccess::None,
       [](const RouteCall&) {
         return content(std::string(KAMORA_UI_HTML, KAMORA_UI_HTML_SIZE),
                        "text/html; charset=utf-8");
       },
       {}},
  };
}
