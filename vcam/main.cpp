// kamora-vcam: one virtual camera listening on a loopback address.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "common/ListenSocket.h"
#include "sdk/standin/Wire.h"
#include "vcam/Camera.h"
#include "vcam/Options.h"
#include "vcam/Routes.h"
#include "vcam/Scene.h"

namespace {

// The library binds its own socket with SO_REUSEPORT, which would let a second
// camera bind the same address and port silently; it is handed ours instead.
class CameraServer : public httplib::Server {
 public:
  void adopt(int listenFd) { svr_sock_ = listenFd; }
};

}  // namespace

#if defined(__SANITIZE_THREAD__)
#define KAMORA_VCAM_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KAMORA_VCAM_TSAN 1
#endif
#endif

#ifdef KAMORA_VCAM_TSAN
// Under ThreadSanitizer: the system's HTTP library is not instrumented, and its
// workers read statics another worker set up first behind a guard TSan cannot
// see (memcpy in one worker, then memcmp in the next, on one small block). That
// false report ended this camera under load. The memory calls made from inside
// the library go unchecked in this test camera only; its own code, which the
// library calls, and the program under test are still checked.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
#endif

int main(int argc, char** argv) {
  // A client that hangs up mid-answer must not end the camera.
  std::signal(SIGPIPE, SIG_IGN);
  // Tests read this output from a file while the camera runs.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  vcam::Options options;
  std::string error;
  if (!vcam::parseOptions(argc, argv, options, error)) {
    std::printf("[vcam] erro: %s\n%s", error.c_str(), vcam::usageText());
    return 2;
  }
  vcam::Scene scene;
  if (!options.scene.empty()) {
    double vfov = vcam::Renderer::kHorizontalFov * options.lvH / options.lvW;
    // The photo covers the home view with room to pan and tilt a little.
    if (!scene.loadPhoto(options.scene, vcam::Renderer::kHorizontalFov * 1.6, vfov * 1.6, error)) {
      std::printf("[vcam] erro: %s\n", error.c_str());
      return 2;
    }
  }
  vcam::Camera camera(options, scene);

  CameraServer server;
  server.set_tcp_nodelay(true);
  // Each open link holds a worker in its event long poll, and idle
  // keep-alive connections hold one each: give them room.
  server.new_task_queue = [] { return new httplib::ThreadPool(48); };
  server.set_keep_alive_timeout(2);
  vcam::installRoutes(server, camera);

  std::string listenError;
  const int listenFd = openListenSocket(options.ip, vcwire::port(), listenError);
  if (listenFd < 0) {
    std::printf("[vcam] erro: nao foi possivel escutar em %s:%d (porta em uso?)\n",
                options.ip.c_str(), vcwire::port());
    return 3;
  }
  std::printf("[vcam] %s %s em %s:%d%s\n", options.model.c_str(), options.mac.c_str(),
              options.ip.c_str(), vcwire::port(), options.user.empty() ? "" : " (ssh)");
  server.adopt(listenFd);
  server.listen_after_bind();
  return 0;
}
