// The request target and url-encoded parameters, read exactly as the HTTP
// library the server used before did, since the routes and their clients
// rely on its quirks ("a=b=c" is a -> c, a malformed %-escape stays as
// sent, %uXXXX is a UTF-16 unit). Thread-safe (pure functions).
#pragma once

#include <string>

#include "server/http/HttpTypes.h"

namespace formparams {

// Percent-decodes `text`: %XX to a byte, %uXXXX to its UTF-8 (nothing for a
// lone surrogate), anything malformed kept literally, and '+' as a space when
// asked (parameters, not paths).
std::string decodeUrl(const std::string& text, bool plusAsSpace);

// Appends the parameters of a query string or form body to `out`, in order:
// pieces split on '&' and trimmed of spaces and tabs; in a piece the first
// non-empty '='-separated part is the name and the last the value; an exact
// repeat of an earlier piece is skipped.
void parseQueryText(const std::string& text, HttpFields& out);

// Splits a request target into its decoded path and its parameters. False
// when the target has more than one '?', which the old library refused.
bool parseTarget(const std::string& target, std::string& path, HttpFields& params);

}  // namespace formparams
