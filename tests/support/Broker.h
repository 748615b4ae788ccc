// A mosquitto broker for tests and benchmarks, on a loopback address and
// port of the caller's, with nothing kept on disk (as a broker without
// persistence, it forgets retained messages when it restarts), and a small
// MQTT client that records what it hears.
//
//   auto broker = Broker::start("127.21.1.1", 18831);
//   ASSERT_TRUE(broker) << Broker::lastError();
//   MqttWatch watch(broker->host(), broker->port(), {"kamora/#"});
//   ASSERT_TRUE(watch.connected(5000));
//   ... watch.messages(), watch.last("kamora/n1/status"), watch.publish(...)
//   broker->kill(); broker->restart();   // same address and port
//
// start() waits until the broker accepts connections. Broker is not
// thread-safe (one test thread); MqttWatch is: its library thread records,
// the test reads.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Subprocess;
struct mosquitto;

struct BrokerOptions {
  std::string passwordFile;  // set: only its users may connect
  // Nagle off on the broker's sockets: without it each reply waits for the
  // client's delayed ACK, about 40 ms.
  bool noDelay = true;
  // More of mosquitto.conf, after the main listener (a TLS listener, ...).
  std::string moreConfig;
};

class Broker {
 public:
  static std::unique_ptr<Broker> start(const std::string& host, int port,
                                       const BrokerOptions& options = BrokerOptions());
  static std::string lastError();
  ~Broker();

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  std::string address() const { return host_ + ":" + std::to_string(port_); }

  void kill();     // SIGKILL, as a broker that dies
  bool restart();  // again on the same address and port
  bool running();
  std::string output() const;

 private:
  Broker() = default;
  bool launch();
  std::string host_;
  int port_ = 0;
  std::string config_;
  std::unique_ptr<Subprocess> process_;
};

// A path to an installed program (mosquitto, mosquitto_pub, ...).
std::string toolPath(const std::string& name);

struct MqttHeard {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::string correlation;  // MQTT 5 correlation data
  std::string status;       // the "status" user property, when sent
  std::chrono::steady_clock::time_point at;
};

class MqttWatch {
 public:
  // Connects (MQTT 5) and subscribes to each filter at QoS 1.
  MqttWatch(const std::string& host, int port, const std::vector<std::string>& filters,
            const std::string& user = "", const std::string& password = "");
  ~MqttWatch();
  MqttWatch(const MqttWatch&) = delete;
  MqttWatch& operator=(const MqttWatch&) = delete;

  // True once connected and subscribed, within timeoutMs.
  bool ready(int timeoutMs);
  std::vector<MqttHeard> messages() const;
  // Messages on one topic, in order.
  std::vector<MqttHeard> on(const std::string& topic) const;
  // The last payload on a topic ("" when none).
  std::string last(const std::string& topic) const;
  void clear();
  // QoS 1; with a response topic and correlation data when given.
  bool publish(const std::string& topic, const std::string& payload,
               const std::string& responseTopic = "", const std::string& correlation = "",
               bool retain = false);

  // Library callbacks.
  void heard(MqttHeard message);
  void subscribed();

 private:
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<MqttHeard> messages_;
  int subscriptionsDone_ = 0;
  const std::size_t filterCount_;
};
