// Starting and stopping `kamora --server` processes for tests.
#include "tests/support/KamoraServer.h"

#include <chrono>
#include <thread>

#include "tests/support/Subprocess.h"

namespace {

std::string g_lastError;

}  // namespace

std::vector<std::string> kamoraServerArgs(const std::string& host, int port) {
  return {binaryPath("kamora"), "--server", "--host", host, "--port", std::to_string(port)};
}

bool waitForRoute(Subprocess& process, const std::string& host, int port, const std::string& path,
                  int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process.running()) return false;
    httplib::Client c(host, port);
    c.set_connection_timeout(0, 200000);
    auto r = c.Get(path.c_str());
    if (r && r->status == 200) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string KamoraServer::lastError() { return g_lastError; }

std::unique_ptr<KamoraServer> KamoraServer::start(const std::string& host, int port,
                                                  const std::vector<std::string>& extraArgs,
                                                  const std::string& workDir) {
  std::unique_ptr<KamoraServer> k(new KamoraServer());
  k->host_ = host;
  k->port_ = port;
  k->workDir_ = workDir.empty() ? makeTempDir("http") : workDir;
  std::vector<std::string> args = kamoraServerArgs(host, port);
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  k->process_ = Subprocess::start(args, k->workDir_);
  if (!k->process_ || !waitForRoute(*k->process_, host, port, "/status", 10000)) {
    g_lastError = "kamora --server did not start on " + host + ":" + std::to_string(port) + ": " +
                  (k->process_ ? k->process_->output() : std::string());
    return nullptr;
  }
  return k;
}

KamoraServer::~KamoraServer() = default;

httplib::Client KamoraServer::client() const {
  httplib::Client c(host_, port_);
  c.set_read_timeout(60, 0);
  return c;
}

bool KamoraServer::running() { return process_ && process_->running(); }

int KamoraServer::pid() const { return process_ ? process_->pid() : -1; }

void KamoraServer::signal(int sig) {
  if (process_) process_->signal(sig);
}

int KamoraServer::wait(int timeoutMs) { return process_ ? process_->wait(timeoutMs) : -1; }

std::string KamoraServer::output() const { return process_ ? process_->output() : std::string(); }
