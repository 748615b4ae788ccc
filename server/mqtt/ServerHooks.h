// The bridge's hooks into this server: its rig of cameras (and the rig's
// volley engine, the one HTTP's volleys use too) and its route table.
#pragma once

#include "server/mqtt/MqttBridge.h"

class Rig;
class Router;

BridgeHooks serverHooks(const Router& router, Rig& rig);
