// `kamora --server` as a child process for integration tests and benchmarks.
//
//   auto k = KamoraServer::start("127.0.50.1");  // one address per test
//   ASSERT_TRUE(k) << KamoraServer::lastError();
//   httplib::Client c = k->client();
//   ... k->workDir() holds captures/, k->output() what it printed ...
//
// start() runs the program in a fresh working directory and waits (up to
// 10 s) until GET /status answers 200, failing fast if the process exited.
// The destructor kills the process. Not thread-safe: use one object from one
// thread (client() may be called from any).
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

class Subprocess;

// The command line that starts `kamora --server` on host:port.
std::vector<std::string> kamoraServerArgs(const std::string& host, int port = 8080);

// True once GET path answers 200 at host:port; false when timeoutMs passes
// or the process ends first.
bool waitForRoute(Subprocess& process, const std::string& host, int port, const std::string& path,
                  int timeoutMs);

class KamoraServer {
 public:
  // extraArgs follow the host and port; workDir (empty: a fresh one) is
  // where it runs, so a second server can take over the first one's files.
  static std::unique_ptr<KamoraServer> start(const std::string& host, int port = 8080,
                                             const std::vector<std::string>& extraArgs = {},
                                             const std::string& workDir = "");
  // Why the last start() returned null (with the program's output).
  static std::string lastError();
  ~KamoraServer();
  KamoraServer(const KamoraServer&) = delete;
  KamoraServer& operator=(const KamoraServer&) = delete;

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& workDir() const { return workDir_; }
  // A client for this server, with a read time-out long enough for a capture.
  httplib::Client client() const;

  bool running();
  void signal(int sig);
  int pid() const;  // for reading /proc/<pid>
  // The exit code, or -1 while it still runs after timeoutMs (see Subprocess).
  int wait(int timeoutMs);
  std::string output() const;

 private:
  KamoraServer() = default;
  std::string host_;
  int port_ = 8080;
  std::string workDir_;
  std::unique_ptr<Subprocess> process_;
};
