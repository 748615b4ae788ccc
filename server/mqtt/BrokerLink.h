// BrokerLink: this server's one connection to an MQTT broker (MQTT 5), kept
// up by a thread of its own: it connects, tries again with a back-off while
// the broker is away, and on every connection subscribes again and
// re-publishes the retained topics (a broker without persistence forgets
// them when it restarts). The only code that includes the client library.
// Thread-safe: every call from any thread; the message handler runs on the
// link's thread, one message at a time, and must not block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct BrokerSettings {
  std::string host = "127.0.0.1";
  int port = 1883;
  // Two clients with one id throw each other off: the caller makes it unique.
  std::string clientId;
  std::string user;  // empty: no user name is sent
  std::string password;
  std::string caFile;  // set: TLS, the broker's certificate checked against it
  int keepAliveS = 5;  // at least kMinKeepAliveS
  // Published retained at QoS 1 by the broker when the connection dies
  // without a clean stop.
  std::string willTopic;
  std::string willPayload;
  // The largest packet the broker may send us (MQTT 5): bigger messages are
  // dropped by the broker and never reach this process. 0: no bound.
  std::uint32_t maxPacket = 0;
};

struct BrokerMessage {
  std::string topic;
  std::string payload;
  std::string responseTopic;  // MQTT 5; empty when the message has none
  std::string correlation;    // MQTT 5 correlation data, as bytes
  bool hasCorrelation = false;
};

struct Publication {
  std::string topic;
  std::string payload;
  bool retain = false;
  std::string correlation;  // sent as correlation data when hasCorrelation
  bool hasCorrelation = false;
  std::vector<std::pair<std::string, std::string>> userProperties;
};

class BrokerLink {
 public:
  // The client library refuses shorter keep-alives.
  static constexpr int kMinKeepAliveS = 5;

  using MessageHandler = std::function<void(const BrokerMessage&)>;

  BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions,
             MessageHandler onMessage);
  ~BrokerLink();  // stop() without a final message, if not stopped yet
  BrokerLink(const BrokerLink&) = delete;
  BrokerLink& operator=(const BrokerLink&) = delete;

  // Starts the link's thread; false, with why, when the settings cannot work
  // (a CA file the library cannot read, a keep-alive it refuses).
  bool start(std::string& why);
  // Publishes finalTopic = finalPayload retained (empty topic: nothing) on
  // the open connection, disconnects cleanly (so the will is not sent) and
  // ends the thread. No handler call is under way or follows once it
  // returns. Waits at most a few seconds: a thread stuck in a connect to a
  // silent host is left to end by itself.
  void stop(const std::string& finalTopic = "", const std::string& finalPayload = "");

  // Hands no more messages to the handler (waiting for one under way),
  // while the connection stays for what is still to be published.
  void mute();

  // Keeps topic's payload and publishes it retained at QoS 1: now when
  // connected, and again on every later connection. An empty payload
  // deletes the broker's retained message and forgets the topic.
  void retain(const std::string& topic, const std::string& payload);
  // Sends once at QoS 1 when connected; false (nothing queued) while the
  // broker is away.
  bool publish(const Publication& publication);

  bool connected() const;
  // Connections accepted by the broker so far.
  std::uint64_t connections() const;

  struct Core;  // the state the link's thread shares (BrokerLink.cpp)

 private:
  std::shared_ptr<Core> core_;
  std::thread thread_;
};
