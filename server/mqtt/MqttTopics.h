// The MQTT topics the server speaks, in one table (what each carries, who
// publishes it, whether the broker keeps it), and the commands a broker may
// send, each mapped to the HTTP route that runs it. Pure: safe from any
// thread.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace mqtt {

// The most a payload may carry; anything longer is refused unread.
constexpr std::size_t kMaxPayload = 64 * 1024;

enum class Topic {
  Status,        // kamora/<node>/status
  State,         // kamora/<node>/<camera>/state
  Event,         // kamora/<node>/<camera>/event/<type>
  NodeEvent,     // kamora/<node>/event/<type>
  Command,       // kamora/<node>/<camera>/cmd/<route>
  Reply,         // kamora/<node>/<camera>/reply/<route>
  Volley,        // kamora/rig/volley
  VolleyResult,  // kamora/<node>/volley/<id>
};

struct TopicRow {
  Topic topic;
  // With <node>, <camera> and one last placeholder (<type>, <route>, <id>)
  // that may span several levels.
  const char* pattern;
  bool retained;
  bool heard;  // the server subscribes to it (else it publishes it)
};

const std::array<TopicRow, 8>& topicTable();

// The topic's name for this node and camera; `last` fills the pattern's
// last placeholder when it has one.
std::string topicName(Topic topic, const std::string& node, const std::string& camera = "",
                      const std::string& last = "");
// The filters the server subscribes to.
std::vector<std::string> subscriptions(const std::string& node);

// A command route the broker may send: exactly `route`, or with prefix any
// route under it ("ptz/" reaches every pan/tilt command).
struct CommandRow {
  const char* route;
  const char* path;  // the HTTP route that runs it
  bool prefix;
};

const std::array<CommandRow, 5>& commandTable();

// The HTTP path that runs a command's route; empty when the broker may not
// reach it.
std::string commandPath(const std::string& route);

// What a message heard on `topic` asks of this node.
struct Heard {
  enum class Kind { Command, Volley, Other } kind = Kind::Other;
  std::string camera;  // Command
  std::string route;   // Command: everything after "cmd/"
};
Heard classify(const std::string& topic, const std::string& node);

// Node and camera names: [a-z0-9_-]{1,32}. "rig" is not a node's name: the
// rig's own topics live under kamora/rig/.
bool isName(const std::string& text);
bool isNodeName(const std::string& text);
// A node name made from a host name that is not one: lower case, the domain
// cut off, other characters as '-', at most 32.
std::string nodeFromHostName(const std::string& host);

}  // namespace mqtt
