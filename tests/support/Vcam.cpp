// Starting, inspecting and killing kamora-vcam processes for tests.
#include "tests/support/Vcam.h"

#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "sdk/standin/Wire.h"
#include "tests/support/Subprocess.h"

namespace {

std::string g_lastError;

std::unique_ptr<httplib::Client> clientFor(const std::string& ip, int timeoutMs) {
  auto client = std::make_unique<httplib::Client>(ip, vcwire::port());
  client->set_tcp_nodelay(true);
  client->set_connection_timeout(1, 0);
  client->set_read_timeout(timeoutMs / 1000, (timeoutMs % 1000) * 1000);
  return client;
}

}  // namespace

std::vector<std::string> vcamArgs(const VcamOptions& o) {
  std::vector<std::string> argv = {
      binaryPath("kamora-vcam"), "--ip", o.ip, "--mac", o.mac, "--model", o.model};
  if (!o.user.empty() || !o.pass.empty())
    argv.insert(argv.end(), {"--user", o.user, "--pass", o.pass});
  if (!o.lvSize.empty()) argv.insert(argv.end(), {"--lv-size", o.lvSize});
  if (!o.stillSize.empty()) argv.insert(argv.end(), {"--still-size", o.stillSize});
  if (!o.scene.empty()) argv.insert(argv.end(), {"--scene", o.scene});
  if (o.log) argv.push_back("--log");
  argv.insert(argv.end(), o.extraArgs.begin(), o.extraArgs.end());
  return argv;
}

std::string VirtualCamera::lastError() { return g_lastError; }

std::unique_ptr<VirtualCamera> VirtualCamera::start(const VcamOptions& o) {
  const std::vector<std::string> argv = vcamArgs(o);
  std::unique_ptr<VirtualCamera> cam(new VirtualCamera());
  cam->options_ = o;
  cam->process_ = Subprocess::start(argv);
  if (!cam->process_) {
    g_lastError = "could not start " + argv[0];
    return nullptr;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.startTimeoutMs);
  // The ready line; an error line also names the address, so match the model too.
  if (!cam->process_->waitForOutput("[vcam] " + o.model + " ", o.startTimeoutMs) ||
      cam->process_->output().find(" em " + o.ip + ":" + std::to_string(vcwire::port())) ==
          std::string::npos) {
    g_lastError = "vcam on " + o.ip + " did not come up: " + cam->process_->output();
    return nullptr;
  }
  while (std::chrono::steady_clock::now() < deadline) {
    if (!cam->state().is_null()) return cam;
    if (!cam->process_->running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  g_lastError = "vcam on " + o.ip + " does not answer: " + cam->process_->output();
  return nullptr;
}

std::unique_ptr<VirtualCamera> VirtualCamera::start(const std::string& ip, const std::string& mac,
                                                    const std::string& model) {
  VcamOptions o;
  o.ip = ip;
  o.mac = mac;
  o.model = model;
  return start(o);
}

VirtualCamera::~VirtualCamera() = default;

std::string VirtualCamera::url() const {
  return "http://" + options_.ip + ":" + std::to_string(vcwire::port());
}

nlohmann::json VirtualCamera::state() {
  auto res = clientFor(options_.ip, 2000)->Get("/vcam/state");
  if (!res || res->status != 200) return nlohmann::json();
  return nlohmann::json::parse(res->body, nullptr, false);
}

bool VirtualCamera::fault(const std::string& name,
                          const std::map<std::string, std::string>& params) {
  httplib::Params form{{"name", name}};
  for (auto& [k, v] : params) form.emplace(k, v);
  auto res = clientFor(options_.ip, 2000)->Post("/vcam/fault", form);
  return res && res->status == 200;
}

bool VirtualCamera::waitFor(const std::function<bool(const nlohmann::json&)>& pred, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    nlohmann::json s = state();
    if (!s.is_null() && pred(s)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string VirtualCamera::frame() {
  auto res = clientFor(options_.ip, 3000)->Get("/vcam/liveview.jpg");
  return res && res->status == 200 ? res->body : std::string();
}

void VirtualCamera::kill() {
  if (!process_) return;
  process_->signal(SIGKILL);
  process_->wait(5000);
}

void VirtualCamera::signal(int sig) {
  if (process_) process_->signal(sig);
}

bool VirtualCamera::running() { return process_ && process_->running(); }

std::string VirtualCamera::output() const { return process_ ? process_->output() : std::string(); }

std::string VirtualCamera::describe() {
  if (!process_) return "no camera process";
  const bool runs = running();
  const bool answers = runs && !state().is_null();
  return std::string("camera ") + (runs ? "running" : "gone") +
         (answers ? ", answering" : ", silent") + "; its output: " + process_->output() +
         "; its errors: " + process_->errorOutput();
}
