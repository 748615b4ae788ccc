// Runs a program as a child process for tests and benchmarks, with its
// standard output and standard error captured to files.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Path of a built program (kamora, kamora-vcam) in the build tree.
std::string binaryPath(const std::string& name);

class Subprocess {
 public:
  // Starts argv[0] (a path) with the given arguments in workDir (empty: the
  // current directory). Returns null if the process could not be started.
  static std::unique_ptr<Subprocess> start(const std::vector<std::string>& argv,
                                           const std::string& workDir = "");
  ~Subprocess();  // kills the process if it still runs, and reaps it
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  int pid() const { return pid_; }
  bool running();
  // Waits for the exit; returns the exit code, 128 + signal when killed by a
  // signal, or -1 when it still runs after timeoutMs.
  int wait(int timeoutMs);
  void signal(int sig);
  // Everything the process wrote so far.
  std::string output() const;
  std::string errorOutput() const;
  // Polls the output until it contains needle; false after timeoutMs or
  // when the process ended without printing it.
  bool waitForOutput(const std::string& needle, int timeoutMs);

 private:
  Subprocess() = default;
  int pid_ = -1;
  int exitCode_ = -1;
  bool reaped_ = false;
  std::string outPath_;
  std::string errPath_;
};

struct RunResult {
  int exitCode = -1;  // -1: timed out (the process was killed)
  std::string output;
  std::string errorOutput;
};

// Runs a program to its end (killed after timeoutMs).
RunResult runProgram(const std::vector<std::string>& argv, const std::string& workDir = "",
                     int timeoutMs = 60000);

// A fresh empty directory under the system's temporary directory.
std::string makeTempDir(const std::string& tag);
