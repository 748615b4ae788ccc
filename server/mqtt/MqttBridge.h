// MqttBridge: the server as one node of a rig coordinated through an MQTT
// broker. It keeps kamora/<node>/status (retained "online", "offline" as
// the connection's will and on a clean stop), publishes each camera's state
// and events (StatePublisher), runs the commands the broker sends through
// the server's own routes, and fires the rig's volleys at their shared
// wall-clock time. Thread-safe: start() and stop() from the owner's thread;
// messages are taken on the link's thread and their work done on the
// bridge's workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/http/HttpTypes.h"
#include "server/mqtt/SeenIds.h"
#include "server/mqtt/StatePublisher.h"

class BrokerLink;
class EventLog;
class WorkerPool;
struct BrokerMessage;

namespace mqtt {
struct Heard;
}

struct MqttOptions {
  std::string host;  // empty: no broker, and nothing of this runs
  int port = 1883;
  std::string node;  // [a-z0-9_-]{1,32}
  std::string user;  // empty: no user name
  std::string password;
  std::string caFile;  // set: TLS
  int keepAliveS = 5;
};

// What the bridge asks of the server, so that it knows nothing of how the
// server holds its cameras.
struct BridgeHooks {
  CameraStateSource cameras;
  // A request answered through the route table as from a trusted caller:
  // the camera gate and every route's checks, without the Host/Origin rule
  // and the token, which are for browsers and other machines on HTTP.
  std::function<HttpReply(const HttpRequest&)> route;
  // Fires these cameras of this node (nullopt: every connected one) at the
  // wall-clock time atMs; returns the volley object.
  std::function<std::string(const std::optional<std::vector<std::string>>& cameras, int shots,
                            std::int64_t atMs)>
      volley;
  // The wall clock, ms since 1970.
  std::function<std::int64_t()> wallClockMs;
};

class MqttBridge {
 public:
  // Commands waiting for a worker beyond this are answered "ocupada".
  static constexpr int kMaxPendingCommands = 64;
  static constexpr int kMaxPendingVolleys = 4;
  // An order further ahead than this is refused: its cameras would stay
  // armed, closed to every other command, and a stop would wait, until then.
  static constexpr std::int64_t kMaxLeadMs = 10000;

  MqttBridge(MqttOptions options, EventLog& events, BridgeHooks hooks);
  ~MqttBridge();  // stop()
  MqttBridge(const MqttBridge&) = delete;
  MqttBridge& operator=(const MqttBridge&) = delete;

  // Starts the link (it connects, and keeps trying, on its own thread);
  // false with why when the settings cannot work.
  bool start(std::string& why);
  // Stops taking messages, lets the work under way end, publishes
  // "offline" and disconnects.
  void stop();

  bool connected() const;

 private:
  void onMessage(const BrokerMessage& message);
  void command(const mqtt::Heard& heard, const BrokerMessage& message);
  HttpReply runCommand(const mqtt::Heard& heard, const std::string& payload);
  void answer(const mqtt::Heard& heard, const BrokerMessage& message, const HttpReply& reply);
  void volley(const BrokerMessage& message);
  void report(const std::string& id, const std::string& payload);

  const MqttOptions options_;
  EventLog& events_;
  const BridgeHooks hooks_;
  std::unique_ptr<BrokerLink> link_;
  std::unique_ptr<StatePublisher> publisher_;
  std::unique_ptr<WorkerPool> commands_;
  std::unique_ptr<WorkerPool> volleys_;
  std::atomic<int> pendingCommands_{0};
  std::atomic<int> pendingVolleys_{0};
  SeenIds seen_;  // the link's thread only
};
