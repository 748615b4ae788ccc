// The test broker (a mosquitto process) and the recording client.
#include "tests/support/Broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/Subprocess.h"

namespace {

std::string g_lastError;

// True once host:port accepts a TCP connection, within timeoutMs.
bool accepts(const std::string& host, int port, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

MqttWatch& watchOf(void* user) { return *static_cast<MqttWatch*>(user); }

}  // namespace

std::string toolPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = std::string(path ? path : "") + ":/usr/sbin:/usr/bin:/sbin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return name;
}

std::string Broker::lastError() { return g_lastError; }

std::unique_ptr<Broker> Broker::start(const std::string& host, int port,
                                      const BrokerOptions& options) {
  std::unique_ptr<Broker> broker(new Broker());
  broker->host_ = host;
  broker->port_ = port;
  broker->config_ = makeTempDir("broker") + "/mosquitto.conf";
  std::ofstream config(broker->config_);
  config << "listener " << port << " " << host << "\n"
         << "persistence false\n"
         << "log_dest stdout\n"
         << "set_tcp_nodelay " << (options.noDelay ? "true" : "false") << "\n";
  // Started as root, mosquitto would become the user "mosquitto", who may
  // not read the test's own files.
  if (::geteuid() == 0) config << "user root\n";
  if (options.passwordFile.empty()) {
    config << "allow_anonymous true\n";
  } else {
    config << "allow_anonymous false\npassword_file " << options.passwordFile << "\n";
  }
  config << options.moreConfig;
  config.close();
  if (!broker->launch()) return nullptr;
  return broker;
}

bool Broker::launch() {
  process_ = Subprocess::start({toolPath("mosquitto"), "-c", config_});
  if (!process_ || !accepts(host_, port_, 5000)) {
    g_lastError = "mosquitto did not start on " + address() + ": " +
                  (process_ ? process_->output() + process_->errorOutput() : std::string());
    return false;
  }
  return true;
}

Broker::~Broker() = default;

void Broker::kill() {
  if (!process_) return;
  process_->signal(SIGKILL);
  process_->wait(5000);
}

bool Broker::restart() {
  kill();
  return launch();
}

bool Broker::running() { return process_ && process_->running(); }

std::string Broker::output() const { return process_ ? process_->output() : std::string(); }

MqttWatch::MqttWatch(const std::string& host, int port, const std::vector<std::string>& filters,
                     const std::string& user, const std::string& password)
    : filterCount_(filters.size()) {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(nullptr, true, this);
  if (!user.empty()) mosquitto_username_pw_set(mosq_, user.c_str(), password.c_str());
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_subscribe_v5_callback_set(
      mosq_, [](mosquitto*, void* user, int, int, const int*, const mosquitto_property*) {
        watchOf(user).subscribed();
      });
  mosquitto_message_v5_callback_set(mosq_, [](mosquitto*, void* user, const mosquitto_message* m,
                                              const mosquitto_property* props) {
    MqttHeard h;
    h.at = std::chrono::steady_clock::now();
    h.topic = m->topic;
    if (m->payloadlen > 0) h.payload.assign(static_cast<char*>(m->payload), m->payloadlen);
    h.retained = m->retain;
    void* data = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
      if (data != nullptr) h.correlation.assign(static_cast<char*>(data), length);
      std::free(data);
    }
    char* name = nullptr;
    char* value = nullptr;
    for (const mosquitto_property* p = mosquitto_property_read_string_pair(
             props, MQTT_PROP_USER_PROPERTY, &name, &value, false);
         p != nullptr;
         p = mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
      if (std::string(name) == "status") h.status = value;
      std::free(name);
      std::free(value);
      name = value = nullptr;
    }
    watchOf(user).heard(std::move(h));
  });
  // The broker is up: a blocking connect is quick, and subscribing once
  // from here is enough for a watch that lives shorter than the broker.
  mosquitto_connect(mosq_, host.c_str(), port, 30);
  for (const std::string& filter : filters) {
    mosquitto_subscribe_v5(mosq_, nullptr, filter.c_str(), 1, 0, nullptr);
  }
  mosquitto_loop_start(mosq_);
}

MqttWatch::~MqttWatch() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
  mosquitto_destroy(mosq_);
}

bool MqttWatch::ready(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (static_cast<std::size_t>(subscriptionsDone_) >= filterCount_) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void MqttWatch::subscribed() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++subscriptionsDone_;
}

void MqttWatch::heard(MqttHeard message) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(std::move(message));
}

std::vector<MqttHeard> MqttWatch::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<MqttHeard> MqttWatch::on(const std::string& topic) const {
  std::vector<MqttHeard> out;
  for (const MqttHeard& m : messages()) {
    if (m.topic == topic) out.push_back(m);
  }
  return out;
}

std::string MqttWatch::last(const std::string& topic) const {
  const std::vector<MqttHeard> all = on(topic);
  return all.empty() ? "" : all.back().payload;
}

void MqttWatch::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

bool MqttWatch::publish(const std::string& topic, const std::string& payload,
                        const std::string& responseTopic, const std::string& correlation,
                        bool retain) {
  mosquitto_property* props = nullptr;
  if (!responseTopic.empty()) {
    mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, responseTopic.c_str());
  }
  if (!correlation.empty()) {
    mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                  static_cast<std::uint16_t>(correlation.size()));
  }
  const int rc =
      mosquitto_publish_v5(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, retain, props);
  mosquitto_property_free_all(&props);
  return rc == MOSQ_ERR_SUCCESS;
}
