// Connection benchmark for an HTTP server on loopback: holds many idle
// connections and clients that send one byte a second, and meanwhile times a
// normal client's GETs; or announces a 1 GB body and times the refusal. Reads
// the server's memory, threads and descriptors from /proc/<pid> (Linux).
// Prints figures; never fails on timing. Bounded in time.
//
//   http_connections --host 127.7.9.9 --port 18081 --path /status [--pid N]
//                    [--idle 1000] [--slow 200] [--requests 200] [--gap-ms 20]
//   http_connections --host ... --port ... --path /status --pid N --big-body
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "common/ListenSocket.h"
#include "tests/unit/HttpTestClient.h"

namespace {

using perf::Clock;
using std::chrono::milliseconds;

struct Settings {
  std::string host = "127.7.9.9";
  int port = 18081;
  std::string path = "/status";
  int pid = 0;
  int idle = 1000;
  int slow = 200;
  int requests = 200;
  int gapMs = 20;
  bool bigBody = false;
  long bigSendCap = 256L << 20;  // bytes of body sent at most
};

struct ProcessFigures {
  double rssMb = 0;
  long threads = 0;
  long fds = 0;
};

ProcessFigures readProcess(int pid) {
  ProcessFigures figures;
  if (pid <= 0) return figures;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") status >> figures.rssMb, figures.rssMb /= 1024.0;
    if (key == "Threads:") status >> figures.threads;
  }
  if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* entry = ::readdir(dir)) figures.fds += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return figures;
}

void printProcess(const char* when, const ProcessFigures& f) {
  std::printf("%-8s server rss %7.1f MB, threads %4ld, fds %5ld\n", when, f.rssMb, f.threads,
              f.fds);
}

// True when the server has closed fd (or it failed).
bool closedByServer(int fd) {
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// One request on a new connection; the time to the whole reply, or -1.
double timedGet(const Settings& s) {
  const auto start = Clock::now();
  const int fd = httptest::connectTo(s.host, s.port);
  if (fd < 0) return -1;
  httptest::sendAll(
      fd, "GET " + s.path + " HTTP/1.1\r\nHost: " + s.host + "\r\nConnection: close\r\n\r\n");
  const std::string reply = httptest::readReply(fd, milliseconds(10000));
  ::close(fd);
  if (reply.rfind("HTTP/1.1 ", 0) != 0) return -1;
  return perf::msSince(start);
}

int runConnections(const Settings& s) {
  printProcess("before", readProcess(s.pid));
  std::vector<int> idle;
  for (int i = 0; i < s.idle; ++i) {
    const int fd = httptest::connectTo(s.host, s.port);
    if (fd >= 0) idle.push_back(fd);
  }
  std::printf("idle connections open: %zu of %d\n", idle.size(), s.idle);

  // Slow clients: a request one byte a second; a new one when the server
  // drops a connection, so the pressure stays.
  const std::string slowRequest = "GET " + s.path + " HTTP/1.1\r\nX-Slow: " + std::string(200, 'v');
  std::atomic<bool> done{false};
  std::atomic<long> slowDropped{0};
  std::thread slowThread([&] {
    std::vector<int> fds(static_cast<std::size_t>(s.slow), -1);
    std::vector<std::size_t> sent(fds.size(), 0);
    while (!done) {
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i] >= 0 && closedByServer(fds[i])) {
          ::close(fds[i]);
          fds[i] = -1;
          ++slowDropped;
        }
        if (fds[i] < 0) {
          fds[i] = httptest::connectTo(s.host, s.port);
          sent[i] = 0;
        }
        if (fds[i] >= 0 && sent[i] < slowRequest.size()) {
          httptest::sendAll(fds[i], slowRequest.substr(sent[i]++, 1));
        }
      }
      for (int i = 0; i < 10 && !done; ++i) std::this_thread::sleep_for(milliseconds(100));
    }
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  });
  std::this_thread::sleep_for(milliseconds(1500));

  std::vector<double> times;
  int failures = 0;
  const ProcessFigures during = readProcess(s.pid);
  const auto start = Clock::now();
  for (int i = 0; i < s.requests && perf::msSince(start) < 60000; ++i) {
    const double ms = timedGet(s);
    if (ms < 0) {
      ++failures;
    } else {
      times.push_back(ms);
    }
    std::this_thread::sleep_for(milliseconds(s.gapMs));
  }
  printProcess("during", during);
  long idleDropped = 0;
  for (int fd : idle) idleDropped += closedByServer(fd);
  done = true;
  slowThread.join();
  for (int fd : idle) ::close(fd);
  std::printf(
      "GET %s with %zu idle + %d slow clients: %zu ok, %d failed, p50 %.2f ms, "
      "p99 %.2f ms, max %.2f ms\n",
      s.path.c_str(), idle.size(), s.slow, times.size(), failures, perf::percentile(times, 50),
      perf::percentile(times, 99), perf::percentile(times, 100));
  std::printf("closed by the server meanwhile: %ld idle, %ld slow\n", idleDropped,
              slowDropped.load());
  std::this_thread::sleep_for(milliseconds(1500));
  printProcess("after", readProcess(s.pid));
  return 0;
}

// Announces a gigabyte and sends body bytes until the reply comes, the
// server closes, the send cap or 20 s.
int runBigBody(const Settings& s) {
  const ProcessFigures before = readProcess(s.pid);
  printProcess("before", before);
  const int fd = httptest::connectTo(s.host, s.port);
  if (fd < 0) {
    std::printf("cannot connect to %s:%d\n", s.host.c_str(), s.port);
    return 0;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  const auto start = Clock::now();
  const std::string head =
      "POST " + s.path + " HTTP/1.1\r\nHost: " + s.host + "\r\nContent-Length: 1000000000\r\n\r\n";
  ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
  const std::string block(1 << 16, 'x');
  std::string reply;
  long sent = 0;
  double replyMs = -1;
  double peakRss = before.rssMb;
  bool closed = false;
  while (perf::msSince(start) < 20000 && !closed && replyMs < 0) {
    pollfd watch{fd, static_cast<short>(POLLIN | (sent < s.bigSendCap ? POLLOUT : 0)), 0};
    ::poll(&watch, 1, 100);
    if (watch.revents & POLLIN) {
      char chunk[4096];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) closed = true;
      if (n > 0) reply.append(chunk, static_cast<std::size_t>(n));
      if (reply.find("\r\n") != std::string::npos) replyMs = perf::msSince(start);
    } else if (watch.revents & POLLOUT) {
      const ssize_t n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) closed = true;
      if (n > 0) sent += n;
    }
    peakRss = std::max(peakRss, readProcess(s.pid).rssMb);
  }
  ::close(fd);
  const std::string status = reply.substr(0, reply.find("\r\n"));
  std::printf("1 GB Content-Length: %s after %.1f ms, %.1f MB of body sent, connection %s\n",
              status.empty() ? "no reply" : status.c_str(), replyMs, sent / 1048576.0,
              closed ? "closed" : "open");
  std::printf("server rss peak %.1f MB (%+.1f MB)\n", peakRss, peakRss - before.rssMb);
  std::this_thread::sleep_for(milliseconds(500));
  printProcess("after", readProcess(s.pid));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (arg == "--big-body") {
      s.bigBody = true;
      continue;
    }
    ++i;
    if (arg == "--host")
      s.host = value;
    else if (arg == "--port")
      s.port = std::atoi(value);
    else if (arg == "--path")
      s.path = value;
    else if (arg == "--pid")
      s.pid = std::atoi(value);
    else if (arg == "--idle")
      s.idle = std::atoi(value);
    else if (arg == "--slow")
      s.slow = std::atoi(value);
    else if (arg == "--requests")
      s.requests = std::atoi(value);
    else if (arg == "--gap-ms")
      s.gapMs = std::atoi(value);
    else {
      std::printf("unknown option %s\n", arg.c_str());
      return 1;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  // A thousand connections need more than the usual 1024 descriptors.
  std::printf("open-file limit: %ld\n", raiseOpenFileLimit());
  return s.bigBody ? runBigBody(s) : runConnections(s);
}
