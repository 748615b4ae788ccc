// The status reply, the answer shape every command route shares:
// {"status":"<text>"} as application/json.
#pragma once

#include <string>

#include "server/http/HttpTypes.h"

// The text must need no JSON escaping (every text the API sends is plain
// Portuguese without quotes, backslashes or control characters).
HttpReply statusReply(int status, const std::string& text);
inline HttpReply statusReply(const std::string& text) { return statusReply(200, text); }
