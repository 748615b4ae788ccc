// The rig over MQTT, measured on loopback: commands through the broker
// beside the same requests over HTTP, how soon a dead or hung node is
// reported offline, the spread of volleys across nodes at the cameras, and
// how soon every node and camera is back after the broker restarts. Prints figures; passes or fails
// on nothing but setup.
//
//   mqtt_figures [--commands 1000] [--kill-runs 5] [--hung-runs 0]
//                [--nodes 4] [--cameras 2] [--volleys 100]
//                [--only commands|offline|volleys|restart]
//
// Addresses 127.22.x.y; run it in a network namespace of its own when
// others share the machine (see CONTRIBUTING).
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/perf_stats.h"
#include "tests/support/Broker.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/Vcam.h"

namespace {

using perf::Clock;

constexpr int kBrokerPort = 18830;

std::string address(int block, int host) {
  return "127.22." + std::to_string(block) + "." + std::to_string(host);
}

// Polls cond every ms until it holds; the ms it took, or -1 after limitMs.
template <typename Cond>
double waitMs(Cond cond, double limitMs) {
  const Clock::time_point start = Clock::now();
  while (!cond()) {
    if (perf::msSince(start) > limitMs) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return perf::msSince(start);
}

void line(const char* what, const std::vector<double>& ms) {
  std::printf("%-58s n=%zu p50 %.2f ms  p95 %.2f ms  max %.2f ms\n", what, ms.size(),
              perf::median(ms), perf::percentile(ms, 95), perf::percentile(ms, 100));
}

std::unique_ptr<KamoraServer> node(const Broker& broker, const std::string& host,
                                   const std::string& name, int keepAlive = 5) {
  return KamoraServer::start(
      host, 8080,
      {"--mqtt", broker.address(), "--node", name, "--mqtt-keepalive", std::to_string(keepAlive)});
}

bool connectMain(KamoraServer& server, const VirtualCamera& cam) {
  auto reply = server.client().Post(("/connect?ip=" + cam.ip() + "&mac=" + cam.mac()).c_str());
  return reply && reply->status == 200;
}

// Commands to one camera, one at a time, through the broker (MQTT 5
// response topic) and as HTTP requests, alternating so both see the same
// machine.
bool commands(int count, bool noDelay) {
  BrokerOptions options;
  options.noDelay = noDelay;
  auto broker = Broker::start(address(1, 1), kBrokerPort, options);
  auto cam = VirtualCamera::start(address(1, 10), "02:00:00:00:22:10");
  if (!broker || !cam) return false;
  auto server = node(*broker, address(1, 2), "cmd");
  if (!server || !connectMain(*server, *cam)) return false;
  MqttWatch watch(broker->host(), broker->port(), {"answers/#"});
  if (!watch.ready(5000)) return false;
  httplib::Client http = server->client();
  http.set_keep_alive(true);
  http.set_tcp_nodelay(true);
  std::vector<double> viaMqtt, viaHttp;
  for (int i = 0; i < count; ++i) {
    const std::string params = "iso=" + std::string(i % 2 ? "400" : "800");
    const std::string correlation = std::to_string(i);
    const std::size_t before = watch.messages().size();
    Clock::time_point start = Clock::now();
    watch.publish("kamora/cmd/main/cmd/exposure", params, "answers/bench", correlation);
    const double waited = waitMs([&] { return watch.messages().size() > before; }, 10000);
    const MqttHeard reply = waited < 0 ? MqttHeard() : watch.messages().back();
    if (reply.correlation != correlation) {
      std::printf("commands: no reply to %d\n", i);
      return false;
    }
    // From the time the reply was heard, not when the poll saw it.
    viaMqtt.push_back(std::chrono::duration<double, std::milli>(reply.at - start).count());
    start = Clock::now();
    auto answer = http.Post("/exposure", params, "application/x-www-form-urlencoded");
    if (!answer || answer->status != 200) return false;
    viaHttp.push_back(perf::msSince(start));
  }
  line(noDelay ? "exposure through the broker, set_tcp_nodelay true"
               : "exposure through the broker, its default (Nagle on)",
       viaMqtt);
  line("POST /exposure over HTTP (keep-alive), alternating", viaHttp);
  return true;
}

// SIGKILL: the node's socket is closed by the system and the broker sends
// the will at once. SIGSTOP: the node hangs with its socket open, as a
// machine that freezes or loses its network; only the keep-alive finds it.
bool offline(int runs, int hungRuns) {
  auto broker = Broker::start(address(2, 1), kBrokerPort);
  if (!broker) return false;
  MqttWatch watch(broker->host(), broker->port(), {"kamora/+/status"});
  if (!watch.ready(5000)) return false;
  std::vector<double> killed, stopped;
  for (int i = 0; i < runs + hungRuns; ++i) {
    const bool stop = i >= runs;
    const std::string name = "k" + std::to_string(i);
    auto server = node(*broker, address(2, 2 + i), name);
    const std::string topic = "kamora/" + name + "/status";
    if (!server || waitMs([&] { return watch.last(topic) == "online"; }, 5000) < 0) return false;
    const Clock::time_point signalled = Clock::now();
    server->signal(stop ? SIGSTOP : SIGKILL);
    if (waitMs([&] { return watch.last(topic) == "offline"; }, 30000) < 0) return false;
    if (stop) server->signal(SIGKILL);
    const MqttHeard said = watch.on(topic).back();
    (stop ? stopped : killed)
        .push_back(std::chrono::duration<double, std::milli>(said.at - signalled).count());
  }
  line("node SIGKILLed -> \"offline\" (keep-alive 5 s)", killed);
  if (hungRuns > 0) line("node SIGSTOPped (hung) -> \"offline\" (keep-alive 5 s)", stopped);
  return true;
}

std::int64_t wallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// nodes x perNode virtual cameras, each node's first as "main" and the
// others added to its rig as cam2, cam3, ...
struct BenchRig {
  std::unique_ptr<Broker> broker;
  std::vector<std::unique_ptr<KamoraServer>> nodes;
  std::vector<std::unique_ptr<VirtualCamera>> cams;  // node-major
  int perNode = 1;

  static std::string cameraId(int c) { return c == 0 ? "main" : "cam" + std::to_string(c + 1); }

  bool start(int block, int nodeCount, int cameras) {
    perNode = cameras;
    broker = Broker::start(address(block, 1), kBrokerPort);
    if (!broker) return false;
    for (int n = 0; n < nodeCount; ++n) {
      nodes.push_back(node(*broker, address(block, 2 + n), "n" + std::to_string(n)));
      if (!nodes.back()) return false;
      for (int c = 0; c < cameras; ++c) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "02:00:00:22:%02x:%02x", n, c);
        cams.push_back(VirtualCamera::start(address(block + 1 + n, 1 + c), mac));
        if (!cams.back()) return false;
        const VirtualCamera& cam = *cams.back();
        if (c == 0) {
          if (!connectMain(*nodes.back(), cam)) return false;
          continue;
        }
        const std::string form = "id=" + cameraId(c) + "&ip=" + cam.ip() + "&mac=" + cam.mac();
        auto added =
            nodes.back()->client().Post("/cameras", form, "application/x-www-form-urlencoded");
        if (!added || added->status != 201) return false;
      }
    }
    // Every camera connected, as its node tells the broker.
    MqttWatch watch(broker->host(), broker->port(), {"kamora/#"});
    return waitMs([&] { return allStated(watch); }, 20000) >= 0;
  }

  bool allStated(const MqttWatch& watch) const {
    for (std::size_t n = 0; n < nodes.size(); ++n) {
      const std::string root = "kamora/n" + std::to_string(n);
      if (watch.last(root + "/status") != "online") return false;
      for (int c = 0; c < perNode; ++c) {
        if (watch.last(root + "/" + cameraId(c) + "/state").find("\"conectada\"") ==
            std::string::npos) {
          return false;
        }
      }
    }
    return true;
  }

  // Fires one order; false unless every node answered with every camera ok.
  bool fire(MqttWatch& watch, const std::string& id, std::int64_t at) {
    const std::string order = "{\"id\":\"" + id + "\",\"at\":" + std::to_string(at) + "}";
    watch.publish("kamora/rig/volley", order);
    auto answered = [&] {
      for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (watch.last("kamora/n" + std::to_string(n) + "/volley/" + id).empty()) return false;
      }
      return true;
    };
    if (waitMs(answered, 20000) < 0) {
      std::printf("volley %s: not every node answered\n", id.c_str());
      return false;
    }
    for (std::size_t n = 0; n < nodes.size(); ++n) {
      const std::string result = watch.last("kamora/n" + std::to_string(n) + "/volley/" + id);
      if (result.find("\"ok\":false") != std::string::npos) {
        std::printf("volley %s: %s\n", id.c_str(), result.c_str());
        return false;
      }
    }
    return true;
  }

  int downloads() {
    int total = 0;
    for (auto& cam : cams) total += cam->state()["downloads"].get<int>();
    return total;
  }
};

// Volleys `leadMs` ahead, every camera of every node: the spread of the
// cameras' own press times, and how late they pressed after `at`.
bool volleys(int nodeCount, int perNode, int count, int leadMs) {
  BenchRig rig;
  if (!rig.start(10, nodeCount, perNode)) {
    std::printf("volleys: the rig did not come up\n");
    return false;
  }
  MqttWatch watch(rig.broker->host(), rig.broker->port(), {"kamora/+/volley/#"});
  if (!watch.ready(5000)) return false;
  std::vector<double> spread, late, nodeSpread;
  int failed = 0;
  for (int v = 0; v < count; ++v) {
    const std::int64_t at = wallMs() + leadMs;
    // A volley with a camera that failed (lost on a loaded machine) is
    // counted, and left out of the spread.
    if (!rig.fire(watch, "b" + std::to_string(v), at)) {
      ++failed;
      continue;
    }
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    for (auto& cam : rig.cams) {
      const std::int64_t pressed = cam->state()["last_press_us"].get<std::int64_t>();
      first = std::min(first, pressed);
      last = std::max(last, pressed);
      late.push_back((pressed - at * 1000) / 1000.0);
    }
    spread.push_back((last - first) / 1000.0);
    for (int n = 0; n < nodeCount; ++n) {
      const std::string result =
          watch.last("kamora/n" + std::to_string(n) + "/volley/b" + std::to_string(v));
      const std::size_t at = result.find("\"spread_ms\":");
      if (at != std::string::npos) nodeSpread.push_back(std::atof(result.c_str() + at + 12));
    }
  }
  char what[96];
  std::snprintf(what, sizeof what, "%d x %d cameras, %d ms ahead: last_press_us spread", nodeCount,
                perNode, leadMs);
  line(what, spread);
  line("  each press after `at` (camera's clock - at)", late);
  line("  each node's own spread_ms", nodeSpread);
  const int files = rig.downloads();
  std::printf("  volleys with a camera failed: %d of %d; pictures: %d of %d\n", failed, count,
              files, count * nodeCount * perNode);
  return true;
}

// The broker is killed with the nodes online, kept down for downMs and
// started again: how long until every node is "online" and every camera's
// state retained again, to a watcher that subscribes as soon as the broker
// accepts. A volley fired before is then ordered again (as a broker that
// kept it could deliver it again) beside a new one: each fires once.
bool brokerRestart(int nodeCount, int perNode, int downMs) {
  BenchRig rig;
  if (!rig.start(30, nodeCount, perNode)) return false;
  {
    MqttWatch watch(rig.broker->host(), rig.broker->port(), {"kamora/+/volley/#"});
    if (!watch.ready(5000) || !rig.fire(watch, "before", wallMs() + 250)) return false;
  }
  rig.broker->kill();
  std::this_thread::sleep_for(std::chrono::milliseconds(downMs));
  if (!rig.broker->restart()) return false;
  const Clock::time_point back = Clock::now();
  MqttWatch watch(rig.broker->host(), rig.broker->port(), {"kamora/#"});
  const double ms = waitMs([&] { return rig.allStated(watch); }, 20000);
  const double total = ms < 0 ? -1 : perf::msSince(back);
  watch.publish("kamora/rig/volley",
                "{\"id\":\"before\",\"at\":" + std::to_string(wallMs() + 250) + "}");
  if (!rig.fire(watch, "after", wallMs() + 250)) return false;
  char what[96];
  std::snprintf(what, sizeof what, "broker down %d s, %d nodes: all online + states after",
                downMs / 1000, nodeCount);
  std::printf("%-58s %.0f ms\n", what, total);
  std::printf("  pictures after a volley, the restart, it again and another: %d of %d\n",
              rig.downloads(), 2 * nodeCount * perNode);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000;
  int killRuns = 5;
  int hungRuns = 0;
  std::string only;
  int nodes = 4, perNode = 2, volleyCount = 100;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--commands") && i + 1 < argc) count = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--kill-runs") && i + 1 < argc) killRuns = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--hung-runs") && i + 1 < argc) hungRuns = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
    if (!std::strcmp(argv[i], "--nodes") && i + 1 < argc) nodes = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--cameras") && i + 1 < argc) perNode = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--volleys") && i + 1 < argc) volleyCount = std::atoi(argv[++i]);
  }
  auto wanted = [&](const char* part) { return only.empty() || only == part; };
  bool ok = true;
  if (wanted("commands")) ok = commands(count, false) && commands(count, true);
  if (wanted("offline")) ok = offline(killRuns, hungRuns) && ok;
  if (wanted("volleys")) ok = volleys(nodes, perNode, volleyCount, 250) && ok;
  if (wanted("restart")) {
    for (int down : {2000, 10000}) ok = brokerRestart(nodes, perNode, down) && ok;
  }
  if (!ok) std::printf("mqtt_figures: a setup step failed\n");
  return ok ? 0 : 1;
}
