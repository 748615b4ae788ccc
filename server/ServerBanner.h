// The lines the server prints when it starts: where it listens, the address
// with the access token for other machines, or a warning that anyone on the
// network can use the camera.
#pragma once

#include <string>

void printBanner(const std::string& host, int port, const std::string& token);
