// The link's thread and the client library's callbacks. The thread drives
// the library's loop itself (rather than the library's own thread) so that
// it decides when to try again, survives errors the library's loop gives up
// on, and stops within a bound.
#include "server/mqtt/BrokerLink.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "common/ThreadAnnotations.h"
#include "server/mqtt/Backoff.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kQos = 1;
// The loop's longest wait for the socket; publishing and stopping wake it
// sooner through the library's own wake-up pipe.
constexpr int kLoopWaitMs = 1000;
// How long a stop lets the last message and the DISCONNECT go out.
constexpr std::chrono::milliseconds kStopFlush{1000};
constexpr std::chrono::milliseconds kStopJoin{3000};

void initLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// Frees a property list on the way out of a scope.
struct Properties {
  mosquitto_property* list = nullptr;
  ~Properties() { mosquitto_property_free_all(&list); }
};

}  // namespace

struct BrokerLink::Core {
  Core(BrokerSettings s, std::vector<std::string> subs, MessageHandler h)
      : settings(std::move(s)), subscriptions(std::move(subs)), handler_(std::move(h)) {}
  ~Core() {
    if (mosq != nullptr) mosquitto_destroy(mosq);
  }

  const BrokerSettings settings;
  const std::vector<std::string> subscriptions;
  mosquitto* mosq = nullptr;  // set before the thread starts, destroyed with the core

  std::atomic<bool> connected{false};
  std::atomic<std::uint64_t> connections{0};
  // Set by the connect callback: this attempt reached the broker.
  std::atomic<bool> acceptedThisAttempt{false};

  Mutex mutex;
  std::condition_variable changed;
  // Topic and payload, in the order first retained.
  std::vector<std::pair<std::string, std::string>> retained GUARDED_BY(mutex);
  bool stopping GUARDED_BY(mutex) = false;
  bool disconnectSent GUARDED_BY(mutex) = false;
  bool finished GUARDED_BY(mutex) = false;
  std::string finalTopic GUARDED_BY(mutex);
  std::string finalPayload GUARDED_BY(mutex);

  Mutex handlerMutex;
  MessageHandler handler_ GUARDED_BY(handlerMutex);

  // Under the lock, so that a newer payload never goes out before an older.
  void publishRetained(const std::string& topic, const std::string& payload) REQUIRES(mutex) {
    mosquitto_publish_v5(mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                         payload.data(), kQos, true, nullptr);
  }

  // The clean end of a connection: the final message, then DISCONNECT, in
  // that order on the wire.
  void sendFinalAndDisconnect() REQUIRES(mutex) {
    if (disconnectSent) return;
    disconnectSent = true;
    if (connected && !finalTopic.empty()) publishRetained(finalTopic, finalPayload);
    mosquitto_disconnect(mosq);
  }

  // Loop thread only: the refusal last printed, so a broker that keeps
  // refusing is reported once, not at every attempt.
  int lastRefusal = 0;

  void onConnect(int reason) {
    if (reason != 0) {
      if (reason != lastRefusal) {
        std::printf("[mqtt] %s:%d recusou a conexao: %s\n", settings.host.c_str(), settings.port,
                    mosquitto_reason_string(reason));
        std::fflush(stdout);
      }
      lastRefusal = reason;
      return;
    }
    lastRefusal = 0;
    acceptedThisAttempt = true;
    ++connections;
    std::printf("[mqtt] conectado a %s:%d\n", settings.host.c_str(), settings.port);
    std::fflush(stdout);
    for (const std::string& topic : subscriptions) {
      mosquitto_subscribe_v5(mosq, nullptr, topic.c_str(), kQos, 0, nullptr);
    }
    MutexLock lock(mutex);
    connected = true;
    if (stopping) return;  // the loop sends the final message next
    for (const auto& [topic, payload] : retained) publishRetained(topic, payload);
  }

  void onDisconnect() { connected = false; }

  void onMessage(const mosquitto_message& message, const mosquitto_property* props) {
    BrokerMessage out;
    out.topic = message.topic != nullptr ? message.topic : "";
    if (message.payloadlen > 0) {
      out.payload.assign(static_cast<const char*>(message.payload),
                         static_cast<std::size_t>(message.payloadlen));
    }
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
      out.responseTopic = responseTopic;
      std::free(responseTopic);
    }
    void* correlation = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                       false)) {
      out.hasCorrelation = true;
      if (correlation != nullptr) out.correlation.assign(static_cast<char*>(correlation), length);
      std::free(correlation);
    }
    MutexLock lock(handlerMutex);
    if (handler_) handler_(out);
  }

  bool stopRequested() EXCLUDES(mutex) {
    MutexLock lock(mutex);
    return stopping;
  }

  // One connection, from its attempt to its end.
  void serveOneConnection() {
    acceptedThisAttempt = false;
    Properties connectProps;
    if (settings.maxPacket > 0) {
      mosquitto_property_add_int32(&connectProps.list, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                   settings.maxPacket);
    }
    const Clock::time_point start = Clock::now();
    if (mosquitto_connect_bind_v5(mosq, settings.host.c_str(), settings.port, settings.keepAliveS,
                                  nullptr, connectProps.list) != MOSQ_ERR_SUCCESS) {
      return;
    }
    Clock::time_point stopBy = Clock::time_point::max();
    while (mosquitto_loop(mosq, kLoopWaitMs, 1) == MOSQ_ERR_SUCCESS) {
      const Clock::time_point now = Clock::now();
      {
        MutexLock lock(mutex);
        if (stopping) {
          sendFinalAndDisconnect();
          if (stopBy == Clock::time_point::max()) stopBy = now + kStopFlush;
        }
      }
      if (now >= stopBy) break;
      // The broker must answer an attempt within its share of the back-off.
      if (!acceptedThisAttempt && now - start >= backoff::kAttempt) break;
    }
    connected = false;
  }

  void run() {
    std::minstd_rand random(static_cast<unsigned>(std::hash<std::string>()(settings.clientId)) ^
                            static_cast<unsigned>(Clock::now().time_since_epoch().count()));
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    int failures = 0;
    bool toldDown = false;  // the outage under way has been reported
    while (!stopRequested()) {
      serveOneConnection();
      if (acceptedThisAttempt) {
        failures = 0;
        toldDown = false;
      }
      MutexLock lock(mutex);
      if (stopping) break;
      if (!toldDown) {
        std::printf("[mqtt] sem conexao com %s:%d; tentando de novo\n", settings.host.c_str(),
                    settings.port);
        std::fflush(stdout);
        toldDown = true;
      }
      const auto wait = backoff::delay(failures++, jitter(random));
      lock.waitFor(changed, wait, [this]() REQUIRES(mutex) { return stopping; });
    }
    MutexLock lock(mutex);
    finished = true;
    changed.notify_all();
  }
};

namespace {

BrokerLink::Core& coreOf(void* user) { return *static_cast<BrokerLink::Core*>(user); }

void onConnect(mosquitto*, void* user, int reason, int, const mosquitto_property*) {
  coreOf(user).onConnect(reason);
}
void onDisconnect(mosquitto*, void* user, int, const mosquitto_property*) {
  coreOf(user).onDisconnect();
}
void onMessage(mosquitto*, void* user, const mosquitto_message* message,
               const mosquitto_property* props) {
  if (message != nullptr) coreOf(user).onMessage(*message, props);
}

}  // namespace

BrokerLink::BrokerLink(BrokerSettings settings, std::vector<std::string> subscriptions,
                       MessageHandler onMessage)
    : core_(std::make_shared<Core>(std::move(settings), std::move(subscriptions),
                                   std::move(onMessage))) {}

BrokerLink::~BrokerLink() { stop(); }

bool BrokerLink::start(std::string& why) {
  initLibraryOnce();
  Core& core = *core_;
  const BrokerSettings& s = core.settings;
  if (s.keepAliveS < kMinKeepAliveS) {
    why = "keep-alive abaixo de " + std::to_string(kMinKeepAliveS) + " s";
    return false;
  }
  core.mosq = mosquitto_new(s.clientId.c_str(), true, &core);
  if (core.mosq == nullptr) {
    why = "sem memoria para o cliente MQTT";
    return false;
  }
  mosquitto_int_option(core.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(core.mosq, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_threaded_set(core.mosq, true);
  mosquitto_connect_v5_callback_set(core.mosq, onConnect);
  mosquitto_disconnect_v5_callback_set(core.mosq, onDisconnect);
  mosquitto_message_v5_callback_set(core.mosq, onMessage);
  if (!s.user.empty() &&
      mosquitto_username_pw_set(core.mosq, s.user.c_str(),
                                s.password.empty() ? nullptr : s.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    why = "usuario MQTT invalido";
    return false;
  }
  if (!s.caFile.empty() && mosquitto_tls_set(core.mosq, s.caFile.c_str(), nullptr, nullptr, nullptr,
                                             nullptr) != MOSQ_ERR_SUCCESS) {
    why = "nao foi possivel ler " + s.caFile;
    return false;
  }
  if (!s.willTopic.empty() &&
      mosquitto_will_set_v5(core.mosq, s.willTopic.c_str(), static_cast<int>(s.willPayload.size()),
                            s.willPayload.data(), kQos, true, nullptr) != MOSQ_ERR_SUCCESS) {
    why = "topico de ultima vontade invalido";
    return false;
  }
  std::shared_ptr<Core> shared = core_;
  thread_ = std::thread([shared] { shared->run(); });
  return true;
}

void BrokerLink::mute() {
  MutexLock lock(core_->handlerMutex);
  core_->handler_ = nullptr;
}

void BrokerLink::stop(const std::string& finalTopic, const std::string& finalPayload) {
  Core& core = *core_;
  mute();
  if (!thread_.joinable()) return;
  bool finished = false;
  {
    MutexLock lock(core.mutex);
    core.stopping = true;
    core.finalTopic = finalTopic;
    core.finalPayload = finalPayload;
    // Sent from here when connected, which also wakes the loop at once.
    if (core.connected) core.sendFinalAndDisconnect();
    core.changed.notify_all();
    finished = lock.waitFor(core.changed, kStopJoin,
                            [&core]() REQUIRES(core.mutex) { return core.finished; });
  }
  // A thread still in a connect to a silent host keeps the core alive
  // until the connect gives up, then ends.
  if (finished) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

void BrokerLink::retain(const std::string& topic, const std::string& payload) {
  Core& core = *core_;
  MutexLock lock(core.mutex);
  auto& list = core.retained;
  auto found = list.begin();
  while (found != list.end() && found->first != topic) ++found;
  if (payload.empty()) {
    if (found != list.end()) list.erase(found);
  } else if (found == list.end()) {
    list.emplace_back(topic, payload);
  } else {
    if (found->second == payload) return;
    found->second = payload;
  }
  if (core.connected && !core.stopping && core.mosq != nullptr) {
    core.publishRetained(topic, payload);
  }
}

bool BrokerLink::publish(const Publication& publication) {
  Core& core = *core_;
  if (!core.connected || core.mosq == nullptr) return false;
  Properties props;
  if (publication.hasCorrelation) {
    mosquitto_property_add_binary(&props.list, MQTT_PROP_CORRELATION_DATA,
                                  publication.correlation.data(),
                                  static_cast<std::uint16_t>(publication.correlation.size()));
  }
  for (const auto& [name, value] : publication.userProperties) {
    mosquitto_property_add_string_pair(&props.list, MQTT_PROP_USER_PROPERTY, name.c_str(),
                                       value.c_str());
  }
  return mosquitto_publish_v5(core.mosq, nullptr, publication.topic.c_str(),
                              static_cast<int>(publication.payload.size()),
                              publication.payload.data(), kQos, publication.retain,
                              props.list) == MOSQ_ERR_SUCCESS;
}

bool BrokerLink::connected() const { return core_->connected; }

std::uint64_t BrokerLink::connections() const { return core_->connections; }
