// The bridge: the node's status, the commands and the volleys.
#include "server/mqtt/MqttBridge.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

#include "server/http/WorkerPool.h"
#include "server/mqtt/BrokerLink.h"
#include "server/mqtt/MqttPayloads.h"
#include "server/mqtt/MqttTopics.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::chrono::seconds kWorkerIdle{10};
// Room beside the payload for the topic and the properties of a message,
// so that a payload just over the bound still arrives to be refused.
constexpr std::uint32_t kPacketRoom = 4096;

// Unique per process, so that two servers given one node name by mistake
// do not throw each other off the broker in a loop.
std::string clientIdFor(const std::string& node) {
  std::random_device device;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(device()));
  return "kamora-" + node + "-" + suffix;
}

HttpReply failure(int status, const std::string& text) { return statusReply(status, text); }

std::string refusal(const std::string& id, const std::string& why,
                    std::optional<std::int64_t> lateMs = std::nullopt) {
  Json body;
  body["id"] = id;
  body["ok"] = false;
  body["error"] = why;
  if (lateMs) body["late_ms"] = *lateMs;
  return body.dump();
}

}  // namespace

MqttBridge::MqttBridge(MqttOptions options, EventLog& events, BridgeHooks hooks)
    : options_(std::move(options)), events_(events), hooks_(std::move(hooks)) {}

MqttBridge::~MqttBridge() { stop(); }

bool MqttBridge::start(std::string& why) {
  const std::string status = mqtt::topicName(mqtt::Topic::Status, options_.node);
  BrokerSettings settings;
  settings.host = options_.host;
  settings.port = options_.port;
  settings.clientId = clientIdFor(options_.node);
  settings.user = options_.user;
  settings.password = options_.password;
  settings.caFile = options_.caFile;
  settings.keepAliveS = options_.keepAliveS;
  settings.willTopic = status;
  settings.willPayload = "offline";
  settings.maxPacket = static_cast<std::uint32_t>(mqtt::kMaxPayload) + kPacketRoom;
  link_ = std::make_unique<BrokerLink>(settings, mqtt::subscriptions(options_.node),
                                       [this](const BrokerMessage& m) { onMessage(m); });
  commands_ = std::make_unique<WorkerPool>(8, kWorkerIdle);
  volleys_ = std::make_unique<WorkerPool>(kMaxPendingVolleys, kWorkerIdle);
  publisher_ = std::make_unique<StatePublisher>(events_, *link_, options_.node, hooks_.cameras);
  // "online" first, so a watcher sees the node before its cameras.
  link_->retain(status, "online");
  publisher_->start();
  if (!link_->start(why)) {
    stop();
    return false;
  }
  std::printf("[mqtt] kamora/%s em %s:%d\n", options_.node.c_str(), options_.host.c_str(),
              options_.port);
  std::fflush(stdout);
  return true;
}

void MqttBridge::stop() {
  if (!link_) return;
  // No message is being handled once this returns, so the workers' pools
  // may go.
  link_->mute();
  if (publisher_) publisher_->stop();
  // Work under way ends first (a capture yields after its shot), so its
  // answer still goes out.
  commands_.reset();
  volleys_.reset();
  link_->stop(mqtt::topicName(mqtt::Topic::Status, options_.node), "offline");
  publisher_.reset();
  link_.reset();
}

bool MqttBridge::connected() const { return link_ && link_->connected(); }

void MqttBridge::onMessage(const BrokerMessage& message) {
  const mqtt::Heard heard = mqtt::classify(message.topic, options_.node);
  switch (heard.kind) {
    case mqtt::Heard::Kind::Command:
      command(heard, message);
      break;
    case mqtt::Heard::Kind::Volley:
      volley(message);
      break;
    case mqtt::Heard::Kind::Other:
      break;
  }
}

void MqttBridge::command(const mqtt::Heard& heard, const BrokerMessage& message) {
  if (pendingCommands_ >= kMaxPendingCommands) {
    answer(heard, message, failure(503, "ocupada"));
    return;
  }
  ++pendingCommands_;
  commands_->submit([this, heard, message] {
    answer(heard, message, runCommand(heard, message.payload));
    --pendingCommands_;
  });
}

HttpReply MqttBridge::runCommand(const mqtt::Heard& heard, const std::string& payload) {
  HttpRequest request;
  const std::string why = mqtt::readCommandParams(payload, request.params);
  if (!why.empty()) return failure(413, why);
  const std::string path = mqtt::commandPath(heard.route);
  if (path.empty()) return failure(403, "comando nao permitido");
  // The route table resolves the camera, and answers an unknown one.
  request.method = HttpMethod::Post;
  request.methodText = "POST";
  request.path = "/cameras/" + heard.camera + path;
  request.remoteAddress = "mqtt";
  HttpReply reply = hooks_.route(request);
  // The route table's own 404 has no body: a route the table lacks.
  if (reply.status == 404 && reply.body.empty()) return failure(404, "comando desconhecido");
  return reply;
}

void MqttBridge::answer(const mqtt::Heard& heard, const BrokerMessage& message,
                        const HttpReply& reply) {
  Publication publication;
  publication.topic =
      !message.responseTopic.empty()
          ? message.responseTopic
          : mqtt::topicName(mqtt::Topic::Reply, options_.node, heard.camera, heard.route);
  publication.correlation = message.correlation;
  publication.hasCorrelation = message.hasCorrelation;
  publication.payload = reply.body;
  publication.userProperties.emplace_back("status", std::to_string(reply.status));
  link_->publish(publication);
}

void MqttBridge::volley(const BrokerMessage& message) {
  mqtt::VolleyOrder order;
  const std::string why = mqtt::readVolleyOrder(message.payload, order);
  if (!why.empty()) {
    // Without an id there is nowhere to say so.
    if (!order.id.empty()) report(order.id, refusal(order.id, why));
    return;
  }
  std::optional<std::vector<std::string>> cameras;
  if (!order.everyCamera) {
    cameras = mqtt::camerasOf(order, options_.node);
    if (cameras->empty()) return;  // not for this node
  }
  if (!seen_.firstTime(order.id)) return;  // delivered again
  const std::int64_t now = hooks_.wallClockMs();
  if (order.atMs <= now) {
    report(order.id, refusal(order.id, "atrasada", now - order.atMs));
    return;
  }
  if (order.atMs - now > kMaxLeadMs) {
    report(order.id, refusal(order.id, "at distante demais"));
    return;
  }
  if (pendingVolleys_ >= kMaxPendingVolleys) {
    report(order.id, refusal(order.id, "ocupada"));
    return;
  }
  ++pendingVolleys_;
  volleys_->submit([this, order, cameras] {
    // A worker that came free late must not fire late.
    const std::int64_t start = hooks_.wallClockMs();
    if (order.atMs <= start) {
      report(order.id, refusal(order.id, "atrasada", start - order.atMs));
    } else if (!hooks_.volley) {
      report(order.id, refusal(order.id, "sem volley neste servidor"));
    } else {
      report(order.id, hooks_.volley(cameras, order.shots, order.atMs));
    }
    --pendingVolleys_;
  });
}

void MqttBridge::report(const std::string& id, const std::string& payload) {
  Publication publication;
  publication.topic = mqtt::topicName(mqtt::Topic::VolleyResult, options_.node, "", id);
  publication.payload = payload;
  link_->publish(publication);
}
