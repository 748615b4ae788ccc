// Reading --mqtt, --node, --mqtt-user, --mqtt-ca and --mqtt-keepalive.
#include "app/MqttSetup.h"

#include <cstdio>
#include <fstream>

#include "server/mqtt/BrokerLink.h"
#include "server/mqtt/MqttTopics.h"

namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;

bool readPort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  port = std::stoi(text);
  return port >= 1 && port <= 65535;
}

// HOST, HOST:PORT, [V6] or [V6]:PORT.
bool readAddress(const std::string& text, std::string& host, int& port) {
  std::string rest;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
  } else {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (colon != std::string::npos) rest = text.substr(colon);
  }
  if (host.empty()) return false;
  if (rest.empty()) return true;
  return rest.front() == ':' && readPort(rest.substr(1), port);
}

}  // namespace

bool mqttFromOptions(const Options& options, const std::string& hostName, const char* password,
                     MqttOptions& out) {
  out = MqttOptions();
  if (options.mqtt.empty()) return true;
  out.port = options.mqttCa.empty() ? kPlainPort : kTlsPort;
  if (!readAddress(options.mqtt, out.host, out.port)) {
    std::printf("[error] --mqtt: \"%s\" nao e HOST[:PORT]\n", options.mqtt.c_str());
    return false;
  }
  if (!options.node.empty()) {
    if (!mqtt::isNodeName(options.node)) {
      std::printf(
          "[error] --node: \"%s\" nao serve como nome de no (a-z, 0-9, _ e -, ate 32; "
          "nao \"rig\")\n",
          options.node.c_str());
      return false;
    }
    out.node = options.node;
  } else if (mqtt::isNodeName(hostName)) {
    out.node = hostName;
  } else {
    out.node = mqtt::nodeFromHostName(hostName);
    std::printf(
        "[mqtt] o nome da maquina \"%s\" nao serve como nome de no; usando \"%s\" "
        "(--node escolhe outro)\n",
        hostName.c_str(), out.node.c_str());
  }
  if (!options.mqttCa.empty() && !std::ifstream(options.mqttCa).good()) {
    std::printf("[error] --mqtt-ca: nao foi possivel ler %s\n", options.mqttCa.c_str());
    return false;
  }
  out.caFile = options.mqttCa;
  out.user = options.mqttUser;
  if (!out.user.empty() && password != nullptr) out.password = password;
  out.keepAliveS = options.mqttKeepalive;
  if (out.keepAliveS < BrokerLink::kMinKeepAliveS) {
    std::printf("[mqtt] keep-alive de %d s abaixo do minimo da biblioteca MQTT; usando %d s\n",
                out.keepAliveS, BrokerLink::kMinKeepAliveS);
    out.keepAliveS = BrokerLink::kMinKeepAliveS;
  }
  return true;
}
