// The HTTP routes of a virtual camera: the SDK's loopback protocol under
// /sdk and the inspection and fault interface under /vcam.
#pragma once

namespace httplib {
class Server;
}

namespace vcam {

class Camera;
void installRoutes(httplib::Server& server, Camera& camera);

}  // namespace vcam
