// Load client: several console-like clients poll "/status", "/properties"
// and "/liveview.jpg" of a running `kamora --server` while a capture client
// fires "/capture" now and then. Bounded in time and in request count.
// Prints requests served, errors and latency percentiles per route, and a
// RESULT line per route for scripts; exits 1 when any request failed.
//
//   load_client --host 127.0.80.2 --port 8080 [--clients 4] [--seconds 60]
//               [--pace console|flat] [--capture-every-ms 4000]
//               [--max-requests 200000] [--liveview-only N] [--status-probe-ms M]
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "tests/support/StatusReply.h"

namespace {

struct Settings {
  std::string host = "127.0.80.2";
  int port = 8080;
  int clients = 4;
  int seconds = 60;
  bool flat = false;          // no pauses: as fast as the server answers
  int captureEveryMs = 4000;  // 0: no captures
  long maxRequests = 200000;  // over all clients
  long liveViewOnly = 0;      // >0: just this many sequential live-view requests
  int statusProbeMs = 0;      // >0: one more client polling "/status" this often
};

struct RouteStats {
  std::vector<double> ms;
  long errors = 0;
  std::string firstError;
};

class Tally {
 public:
  void add(const std::string& route, double ms, bool ok, const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    RouteStats& s = routes[route];
    s.ms.push_back(ms);
    if (!ok) {
      ++s.errors;
      if (s.firstError.empty()) s.firstError = why;
    }
  }
  long errors() {
    std::lock_guard<std::mutex> lock(mutex);
    long n = 0;
    for (auto& [name, s] : routes) n += s.errors;
    return n;
  }
  void print(double seconds) {
    std::lock_guard<std::mutex> lock(mutex);
    long total = 0, errors = 0;
    std::printf("%-14s %8s %7s %9s %9s %9s %9s\n", "route", "requests", "errors", "p50 ms",
                "p90 ms", "p99 ms", "max ms");
    for (auto& [name, s] : routes) {
      total += static_cast<long>(s.ms.size());
      errors += s.errors;
      std::printf("%-14s %8zu %7ld %9.2f %9.2f %9.2f %9.2f\n", name.c_str(), s.ms.size(), s.errors,
                  perf::percentile(s.ms, 50), perf::percentile(s.ms, 90),
                  perf::percentile(s.ms, 99), perf::percentile(s.ms, 100));
    }
    std::printf("total: %ld requests in %.1f s (%.1f/s), %ld errors\n", total, seconds,
                seconds > 0 ? total / seconds : 0.0, errors);
    for (auto& [name, s] : routes) {
      std::printf("RESULT route=%s n=%zu errors=%ld p50=%.3f p90=%.3f p99=%.3f max=%.3f\n",
                  name.c_str(), s.ms.size(), s.errors, perf::percentile(s.ms, 50),
                  perf::percentile(s.ms, 90), perf::percentile(s.ms, 99),
                  perf::percentile(s.ms, 100));
      if (!s.firstError.empty())
        std::printf("first error on %s: %s\n", name.c_str(), s.firstError.c_str());
    }
  }

 private:
  std::mutex mutex;
  std::map<std::string, RouteStats> routes;
};

httplib::Client makeClient(const Settings& s, int readTimeoutSeconds) {
  httplib::Client c(s.host, s.port);
  c.set_tcp_nodelay(true);
  c.set_keep_alive(true);
  c.set_connection_timeout(2, 0);
  c.set_read_timeout(readTimeoutSeconds, 0);
  return c;
}

// One request; checks the answer the route must give with a camera connected.
void poll(httplib::Client& c, const std::string& route, Tally& tally) {
  const perf::Clock::time_point start = perf::Clock::now();
  httplib::Result r = c.Get(route.c_str());
  const double ms = perf::msSince(start);
  std::string why;
  if (!r) {
    why = "transport: " + httplib::to_string(r.error());
  } else if (r->status != 200) {
    why = "status " + std::to_string(r->status) + " " + r->body.substr(0, 80);
  } else if (route == "/liveview.jpg" && !perf::looksLikeJpeg(r->body)) {
    why = "not a JPEG";
  } else if (route == "/status" && r->body != statusBody("online")) {
    why = "body " + r->body.substr(0, 80);
  } else if (route == "/properties" && (r->body.size() < 2 || r->body == "{}")) {
    why = "no settings: " + r->body.substr(0, 80);
  }
  tally.add(route, ms, why.empty(), why);
}

void consoleClient(const Settings& s, Tally& tally, std::atomic<long>& budget,
                   perf::Clock::time_point end) {
  httplib::Client c = makeClient(s, 20);
  struct Poll {
    const char* route;
    int everyMs;
    perf::Clock::time_point next;
  };
  const perf::Clock::time_point now = perf::Clock::now();
  // The console's own periods: status 3 s, settings 1.5 s, live view 150 ms.
  std::vector<Poll> polls = {
      {"/liveview.jpg", 150, now}, {"/properties", 1500, now}, {"/status", 3000, now}};
  while (perf::Clock::now() < end && budget.fetch_sub(1) > 0) {
    Poll* due = &polls[0];
    for (Poll& p : polls) {
      if (p.next < due->next) due = &p;
    }
    if (!s.flat) std::this_thread::sleep_until(std::min(due->next, end));
    if (perf::Clock::now() >= end) break;
    poll(c, due->route, tally);
    due->next = (s.flat ? perf::Clock::now() : due->next) + std::chrono::milliseconds(due->everyMs);
  }
}

void captureClient(const Settings& s, Tally& tally, perf::Clock::time_point end) {
  httplib::Client c = makeClient(s, 40);
  while (perf::Clock::now() + std::chrono::milliseconds(s.captureEveryMs) < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(s.captureEveryMs));
    const perf::Clock::time_point start = perf::Clock::now();
    httplib::Result r = c.Post("/capture?shots=1");
    const double ms = perf::msSince(start);
    std::string why;
    if (!r) {
      why = "transport: " + httplib::to_string(r.error());
    } else if (r->status != 200 || r->body != statusBody("1 foto(s)")) {
      why = "status " + std::to_string(r->status) + " " + r->body.substr(0, 80);
    }
    tally.add("/capture", ms, why.empty(), why);
  }
}

// A tight "/status" poll, recorded apart from the consoles' own polls: the
// server's answer time to a liveness check while everything else runs.
void statusProbe(const Settings& s, Tally& tally, perf::Clock::time_point end) {
  httplib::Client c = makeClient(s, 20);
  while (perf::Clock::now() < end) {
    const perf::Clock::time_point start = perf::Clock::now();
    httplib::Result r = c.Get("/status");
    const double ms = perf::msSince(start);
    const bool ok = r && r->status == 200 && r->body == statusBody("online");
    tally.add("/status(probe)", ms, ok, ok ? "" : "bad answer");
    std::this_thread::sleep_for(std::chrono::milliseconds(s.statusProbeMs));
  }
}

bool parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* v = argv[i + 1];
    if (name == "--host")
      s.host = v;
    else if (name == "--port")
      s.port = std::atoi(v);
    else if (name == "--clients")
      s.clients = std::atoi(v);
    else if (name == "--seconds")
      s.seconds = std::atoi(v);
    else if (name == "--pace")
      s.flat = std::string(v) == "flat";
    else if (name == "--capture-every-ms")
      s.captureEveryMs = std::atoi(v);
    else if (name == "--max-requests")
      s.maxRequests = std::atol(v);
    else if (name == "--liveview-only")
      s.liveViewOnly = std::atol(v);
    else if (name == "--status-probe-ms")
      s.statusProbeMs = std::atoi(v);
    else
      return false;
  }
  // Loopback only: this client must never load anything off the machine.
  return perf::isLoopback(s.host) && s.clients > 0 && s.clients <= 64 && s.seconds > 0 &&
         s.seconds <= 3600;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!parse(argc, argv, s)) {
    std::printf(
        "usage: load_client --host 127.x.y.z --port P [--clients N<=64] [--seconds S<=3600]\n"
        "       [--pace console|flat] [--capture-every-ms M] [--max-requests N]\n"
        "       [--liveview-only N] [--status-probe-ms M]\n");
    return 2;
  }
  Tally tally;
  const perf::Clock::time_point start = perf::Clock::now();
  if (s.liveViewOnly > 0) {
    httplib::Client c = makeClient(s, 20);
    const perf::Clock::time_point end = start + std::chrono::seconds(s.seconds);
    for (long i = 0; i < s.liveViewOnly && perf::Clock::now() < end; ++i) {
      poll(c, "/liveview.jpg", tally);
    }
  } else {
    const perf::Clock::time_point end = start + std::chrono::seconds(s.seconds);
    std::atomic<long> budget{s.maxRequests};
    std::vector<std::thread> threads;
    for (int i = 0; i < s.clients; ++i) {
      threads.emplace_back([&] { consoleClient(s, tally, budget, end); });
    }
    if (s.captureEveryMs > 0) threads.emplace_back([&] { captureClient(s, tally, end); });
    if (s.statusProbeMs > 0) threads.emplace_back([&] { statusProbe(s, tally, end); });
    for (std::thread& t : threads) t.join();
  }
  tally.print(perf::msSince(start) / 1000.0);
  return tally.errors() == 0 ? 0 : 1;
}
