// The cameras a rig request names: "cameras" (comma-separated ids), or
// every camera connected now when it is absent. Shared by the volley and
// the rig's sequence.
#pragma once

#include <vector>

#include "server/http/HttpTypes.h"
#include "server/rig/Volley.h"

class Rig;

// False when a name is no camera's.
bool camerasFor(const HttpRequest& request, Rig& rig, std::vector<VolleyCamera>& out);
