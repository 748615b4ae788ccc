// Child processes for tests: posix_spawn with output redirected to files.
#include "tests/support/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string binaryPath(const std::string& name) { return std::string(KAMORA_BIN_DIR) + "/" + name; }

std::string makeTempDir(const std::string& tag) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / ("kamora-" + tag + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made ? std::string(made) : std::string();
}

std::unique_ptr<Subprocess> Subprocess::start(const std::vector<std::string>& argv,
                                              const std::string& workDir) {
  if (argv.empty()) return nullptr;
  std::unique_ptr<Subprocess> child(new Subprocess());
  std::string dir = makeTempDir("proc");
  child->outPath_ = dir + "/stdout";
  child->errPath_ = dir + "/stderr";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, child->outPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, child->errPath_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // Each child leads its own process group so a kill reaches what it spawned.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // posix_spawn has no working-directory action everywhere: change in the
  // parent around the call. Tests start processes from one thread.
  std::string previous = std::filesystem::current_path().string();
  if (!workDir.empty()) std::filesystem::current_path(workDir);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  if (!workDir.empty()) std::filesystem::current_path(previous);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return nullptr;
  child->pid_ = pid;
  return child;
}

Subprocess::~Subprocess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    wait(5000);
  }
}

bool Subprocess::running() { return wait(0) == -1; }

int Subprocess::wait(int timeoutMs) {
  if (reaped_) return exitCode_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Subprocess::signal(int sig) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

std::string Subprocess::output() const { return readFile(outPath_); }
std::string Subprocess::errorOutput() const { return readFile(errPath_); }

bool Subprocess::waitForOutput(const std::string& needle, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (output().find(needle) != std::string::npos) return true;
    if (!running()) return output().find(needle) != std::string::npos;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

RunResult runProgram(const std::vector<std::string>& argv, const std::string& workDir,
                     int timeoutMs) {
  RunResult result;
  std::unique_ptr<Subprocess> child = Subprocess::start(argv, workDir);
  if (!child) return result;
  result.exitCode = child->wait(timeoutMs);
  if (result.exitCode == -1) {
    child->signal(SIGKILL);
    child->wait(5000);
    result.exitCode = -1;
  }
  result.output = child->output();
  result.errorOutput = child->errorOutput();
  return result;
}
