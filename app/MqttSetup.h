// The broker options of a server run, read and checked: a bad one stops the
// run with one line naming it, before the server listens.
#pragma once

#include <string>

#include "app/Options.h"
#include "server/mqtt/MqttBridge.h"

// False (after printing why) when an option cannot work. hostName is this
// machine's name, the node's name when --node is not given; password is
// KAMORA_MQTT_PASS (null when unset).
bool mqttFromOptions(const Options& options, const std::string& hostName, const char* password,
                     MqttOptions& out);
