// The three routes that never touch the camera: banner, liveness, console.
#include <string>

#include "server/Replies.h"
#include "server/Routes.h"
#include "web/ConsolePage.h"

// Indents 20, 19, 20, 18, 17, 16 and 15; the face carries a U+00AC.
const char kZefBanner[] =
    "                    .---.\n"
    "                   ( o\xC2\xACo )\n"
    "                    \\ - /\n"
    "                  /-|   |-\\\n"
    "                 /  |___|  \\\n"
    "                /   /   \\     Zef \xE2\x9A\xA1\n"
    "               _/  _/   \\_    \xE2\x80\x94pirwol\n";

void addFixedRoutes(httplib::Server& server) {
  server.Get("/zef", noThrow([](const httplib::Request&, httplib::Response& response) {
               response.set_content(kZefBanner, "text/plain; charset=utf-8");
             }));
  server.Get("/status", noThrow([](const httplib::Request&, httplib::Response& response) {
               ok(response, "online");
             }));
  server.Get("/", noThrow([](const httplib::Request&, httplib::Response& response) {
               response.set_content(std::string(KAMORA_UI_HTML, KAMORA_UI_HTML_SIZE),
                                    "text/html; charset=utf-8");
             }));
}
