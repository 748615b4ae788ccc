// Reply and parameter helpers shared by every route: the status reply and
// the one way a route reads a request parameter.
#pragma once

#include <httplib.h>

#include <string>

// Writes the status reply {"status":"<text>"} as application/json; the
// status code is left to the caller. The text must need no JSON escaping.
void ok(httplib::Response& response, const std::string& text);

// The parameter's first value (query string first, then a form body), or a
// copy of the fallback when the name does not occur at all.
std::string param(const httplib::Request& request, const std::string& name,
                  const std::string& fallback);

// The request guard's 403 reply. A wrapped handler does not run on a
// response that already carries it.
void refuse(httplib::Response& response);

// Wraps a handler so that nothing it throws reaches the library, which would
// echo the exception text to the client, and so that it never runs for a
// request the guard refused.
httplib::Server::Handler noThrow(httplib::Server::Handler handler);
