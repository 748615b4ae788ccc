// The topic table, the command table and the names.
#include "server/mqtt/MqttTopics.h"

#include <cctype>

namespace mqtt {

namespace {

const char kNodeTag[] = "<node>";
const char kCameraTag[] = "<camera>";

void replace(std::string& text, const std::string& tag, const std::string& value) {
  const std::size_t at = text.find(tag);
  if (at != std::string::npos) text.replace(at, tag.size(), value);
}

std::vector<std::string> levels(const std::string& topic) {
  std::vector<std::string> out(1);
  for (char c : topic) {
    if (c == '/') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// A route under a prefix row: lower-case levels, none empty.
bool isRouteTail(const std::string& tail) {
  if (tail.empty() || tail.front() == '/' || tail.back() == '/') return false;
  char last = 0;
  for (char c : tail) {
    if (!(isNameChar(c) || c == '/') || (c == '/' && last == '/')) return false;
    last = c;
  }
  return true;
}

}  // namespace

const std::array<TopicRow, 8>& topicTable() {
  static const std::array<TopicRow, 8> table = {{
      {Topic::Status, "kamora/<node>/status", true, false},
      {Topic::State, "kamora/<node>/<camera>/state", true, false},
      {Topic::Event, "kamora/<node>/<camera>/event/<type>", false, false},
      {Topic::NodeEvent, "kamora/<node>/event/<type>", false, false},
      {Topic::Command, "kamora/<node>/<camera>/cmd/<route>", false, true},
      {Topic::Reply, "kamora/<node>/<camera>/reply/<route>", false, false},
      {Topic::Volley, "kamora/rig/volley", false, true},
      {Topic::VolleyResult, "kamora/<node>/volley/<id>", false, false},
  }};
  return table;
}

std::string topicName(Topic topic, const std::string& node, const std::string& camera,
                      const std::string& last) {
  for (const TopicRow& row : topicTable()) {
    if (row.topic != topic) continue;
    std::string name = row.pattern;
    replace(name, kNodeTag, node);
    replace(name, kCameraTag, camera);
    const std::size_t open = name.rfind('<');
    if (open != std::string::npos) name.replace(open, std::string::npos, last);
    return name;
  }
  return "";
}

std::vector<std::string> subscriptions(const std::string& node) {
  std::vector<std::string> out;
  for (const TopicRow& row : topicTable()) {
    if (!row.heard) continue;
    std::string filter = row.pattern;
    replace(filter, kNodeTag, node);
    replace(filter, kCameraTag, "+");
    const std::size_t open = filter.rfind('<');
    if (open != std::string::npos) filter.replace(open, std::string::npos, "#");
    out.push_back(filter);
  }
  return out;
}

const std::array<CommandRow, 5>& commandTable() {
  static const std::array<CommandRow, 5> table = {{
      {"exposure", "/exposure", false},
      {"capture", "/capture", false},
      {"ptz/", "/ptz/", true},
      {"sequence", "/sequence", false},
      {"sequence/stop", "/sequence/stop", false},
  }};
  return table;
}

std::string commandPath(const std::string& route) {
  for (const CommandRow& row : commandTable()) {
    const std::string name = row.route;
    if (!row.prefix && route == name) return row.path;
    if (row.prefix && route.compare(0, name.size(), name) == 0 &&
        isRouteTail(route.substr(name.size()))) {
      return row.path + route.substr(name.size());
    }
  }
  return "";
}

Heard classify(const std::string& topic, const std::string& node) {
  Heard heard;
  if (topic == topicName(Topic::Volley, node)) {
    heard.kind = Heard::Kind::Volley;
    return heard;
  }
  const std::vector<std::string> parts = levels(topic);
  if (parts.size() < 5 || parts[0] != "kamora" || parts[1] != node || parts[3] != "cmd") {
    return heard;
  }
  heard.kind = Heard::Kind::Command;
  heard.camera = parts[2];
  heard.route = topic.substr(parts[0].size() + parts[1].size() + parts[2].size() + 7);
  return heard;
}

bool isName(const std::string& text) {
  if (text.empty() || text.size() > 32) return false;
  for (char c : text) {
    if (!isNameChar(c)) return false;
  }
  return true;
}

bool isNodeName(const std::string& text) { return isName(text) && text != "rig"; }

std::string nodeFromHostName(const std::string& host) {
  std::string name;
  for (char c : host.substr(0, host.find('.'))) {
    if (name.size() == 32) break;
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    name += isNameChar(lower) ? lower : '-';
  }
  if (name.empty()) return "kamora";
  return isNodeName(name) ? name : name + "-node";
}

}  // namespace mqtt
