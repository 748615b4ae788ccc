// The publisher's thread: wakes on each event, publishes it (under its camera,
// or under the node), and re-reads the state of the cameras it concerned.
#include "server/mqtt/StatePublisher.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "server/mqtt/BrokerLink.h"
#include "server/mqtt/MqttTopics.h"

namespace {

// The members of a camera object that change with the clock alone.
const char* const kClockMembers[] = {"since_ms", "liveview_age_ms"};

}  // namespace

StatePublisher::StatePublisher(EventLog& events, BrokerLink& link, std::string node,
                               CameraStateSource source)
    : events_(events), link_(link), node_(std::move(node)), source_(std::move(source)) {}

StatePublisher::~StatePublisher() { stop(); }

std::string StatePublisher::withoutClocks(const std::string& cameraObject) {
  nlohmann::ordered_json object = nlohmann::ordered_json::parse(cameraObject, nullptr, false);
  if (!object.is_object()) return cameraObject;
  for (const char* member : kClockMembers) object.erase(member);
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::string> StatePublisher::camerasOf(const ServerEvent& event) {
  if (!event.camera.empty()) return {event.camera};
  std::vector<std::string> ids;
  if (event.type != "volley") return ids;
  const nlohmann::json data = nlohmann::json::parse(event.data, nullptr, false);
  if (!data.is_object()) return ids;
  const auto cameras = data.find("cameras");
  if (cameras == data.end() || !cameras->is_array()) return ids;
  for (const nlohmann::json& camera : *cameras) {
    if (!camera.is_object()) continue;
    const auto id = camera.find("id");
    if (id != camera.end() && id->is_string()) ids.push_back(id->get<std::string>());
  }
  return ids;
}

void StatePublisher::start() {
  lastEvent_ = events_.lastId();
  for (const std::string& camera : source_.cameraIds()) refresh(camera);
  subscription_ = events_.subscribe([this] {
    MutexLock lock(mutex_);
    woken_ = true;
    changed_.notify_all();
  });
  thread_ = std::thread([this] { run(); });
}

void StatePublisher::stop() {
  subscription_.reset();
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void StatePublisher::refresh(const std::string& camera) {
  const std::string object = source_.cameraObject(camera);
  if (object.empty()) return;
  std::string stable = withoutClocks(object);
  auto found = published_.find(camera);
  if (found != published_.end() && found->second == stable) return;
  published_[camera] = std::move(stable);
  link_.retain(mqtt::topicName(mqtt::Topic::State, node_, camera), object);
}

void StatePublisher::forgetRemoved() {
  const std::vector<std::string> ids = source_.cameraIds();
  for (auto it = published_.begin(); it != published_.end();) {
    if (std::find(ids.begin(), ids.end(), it->first) != ids.end()) {
      ++it;
      continue;
    }
    link_.retain(mqtt::topicName(mqtt::Topic::State, node_, it->first), "");
    it = published_.erase(it);
  }
}

void StatePublisher::publish(const ServerEvent& event, mqtt::Topic topic,
                             const std::string& camera) {
  Publication publication;
  publication.topic = mqtt::topicName(topic, node_, camera, event.type);
  publication.payload = event.data;
  link_.publish(publication);
}

void StatePublisher::run() {
  for (;;) {
    {
      MutexLock lock(mutex_);
      lock.wait(changed_, [this]() REQUIRES(mutex_) { return woken_ || stopping_; });
      if (stopping_) return;
      woken_ = false;
    }
    std::set<std::string> touched;
    for (const ServerEvent& event : events_.since(lastEvent_)) {
      lastEvent_ = event.id;
      for (const std::string& camera : camerasOf(event)) {
        publish(event, mqtt::Topic::Event, camera);
        touched.insert(camera);
      }
      // The rig's own events (a camera added or removed, a rig sequence, a volley
      // as a whole) belong to no one camera: they go out under the node.
      if (event.camera.empty()) publish(event, mqtt::Topic::NodeEvent, "");
    }
    for (const std::string& camera : touched) refresh(camera);
    forgetRemoved();
  }
}
