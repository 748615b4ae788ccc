// Virtual cameras (kamora-vcam processes) for integration tests and benchmarks.
//
//   VcamOptions o;
//   o.ip = "127.0.31.1";                    // one address per camera per test
//   auto cam = VirtualCamera::start(o);     // null if it did not come up
//   (or VirtualCamera::start(ip, mac, model) when the defaults do for the rest)
//   ASSERT_TRUE(cam) << VirtualCamera::lastError();
//   ... run kamora against cam->ip(), cam->mac() ...
//   nlohmann::json s = cam->state();        // GET /vcam/state (null on failure)
//   cam->fault("refuse-prop", {{"prop", "0x0104"}, {"code", "0x8204"}});
//   cam->fault("clear");
//   cam->waitFor([](const nlohmann::json& s) { return s["downloads"] == 2; }, 3000);
//   cam->kill();                            // SIGKILL, as a camera that dies
//
// start() waits (up to startTimeoutMs) until the camera printed its ready
// line and answers /vcam/state, and fails fast if the process exited (port
// in use, bad option). The destructor kills the process. Not thread-safe:
// use one object from one thread. See docs/virtual-camera.md for the state
// fields, the fault names and their parameters.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class Subprocess;

struct VcamOptions {
  std::string ip = "127.0.0.1";
  std::string mac = "02:00:00:00:00:01";
  std::string model = "SB_A4";
  std::string user, pass;  // both set: SSH only, with a fingerprint
  std::string lvSize;      // "WxH", empty: the camera's default 1024x680
  std::string stillSize;   // "WxH", empty: 3000x2000
  std::string scene;       // a JPEG to look at instead of the test scene
  bool log = false;        // flat log rendering
  std::vector<std::string> extraArgs;
  int startTimeoutMs = 5000;
};

// The command line that starts kamora-vcam as options describe it.
std::vector<std::string> vcamArgs(const VcamOptions& options);

class VirtualCamera {
 public:
  static std::unique_ptr<VirtualCamera> start(const VcamOptions& options);
  static std::unique_ptr<VirtualCamera> start(const std::string& ip, const std::string& mac,
                                              const std::string& model = "SB_A4");
  // Why the last start() returned null (with the camera's output).
  static std::string lastError();
  ~VirtualCamera();
  VirtualCamera(const VirtualCamera&) = delete;
  VirtualCamera& operator=(const VirtualCamera&) = delete;

  const std::string& ip() const { return options_.ip; }
  const std::string& mac() const { return options_.mac; }
  const std::string& model() const { return options_.model; }
  std::string url() const;  // http://ip:port, the port the stand-in SDK uses

  // GET /vcam/state; a null json when the camera does not answer.
  nlohmann::json state();
  // POST /vcam/fault?name=NAME&k=v...; params as text, e.g. {"code","0x8204"}.
  bool fault(const std::string& name, const std::map<std::string, std::string>& params = {});
  // Polls state() every 20 ms until pred holds; false after timeoutMs.
  bool waitFor(const std::function<bool(const nlohmann::json&)>& pred, int timeoutMs);
  // One live-view frame straight from the renderer (no session needed).
  std::string frame();

  void kill();           // SIGKILL and reap
  void signal(int sig);  // e.g. SIGSTOP / SIGCONT for a camera that hangs
  bool running();
  std::string output() const;
  // Whether it runs and answers, and what it printed on both outputs: for a failure's message.
  std::string describe();

 private:
  VirtualCamera() = default;
  VcamOptions options_;
  std::unique_ptr<Subprocess> process_;
};
