// The body of the server's status replies, {"status":"TEXT"}, as unit and
// integration tests expect it byte for byte.
#pragma once

#include <string>

inline std::string statusBody(const std::string& text) { return "{\"status\":\"" + text + "\"}"; }
