// StatePublisher: follows the server's event log and tells the broker what
// happens: each per-camera event on kamora/<node>/<camera>/event/<type> (a
// volley's under each camera it fired),
// and each camera's object, retained on kamora/<node>/<camera>/state,
// whenever it changes (the members that only count time do not make a
// change). A removed camera's retained state is deleted. Thread-safe: start
// and stop from the owner's thread; the work runs on a thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/events/EventLog.h"
#include "server/mqtt/MqttTopics.h"

class BrokerLink;

struct CameraStateSource {
  // Every camera's id, in the order added.
  std::function<std::vector<std::string>()> cameraIds;
  // The camera's object as GET /cameras lists it; empty for no such camera.
  std::function<std::string(const std::string& id)> cameraObject;
};

class StatePublisher {
 public:
  StatePublisher(EventLog& events, BrokerLink& link, std::string node, CameraStateSource source);
  ~StatePublisher();  // stop()
  StatePublisher(const StatePublisher&) = delete;
  StatePublisher& operator=(const StatePublisher&) = delete;

  // Retains every camera's state with the link (published once it
  // connects), then follows the log from its newest event.
  void start();
  void stop() EXCLUDES(mutex_);

  // The object without the members that only count time, as compared.
  static std::string withoutClocks(const std::string& cameraObject);
  // The cameras an event concerns: its camera, or for a volley (the
  // server's own event, spanning cameras) each camera it fired.
  static std::vector<std::string> camerasOf(const ServerEvent& event);

 private:
  void run() EXCLUDES(mutex_);
  // Sends one event under a topic of the given kind (a camera's, or the node's).
  void publish(const ServerEvent& event, mqtt::Topic topic, const std::string& camera);
  void refresh(const std::string& camera);
  void forgetRemoved();

  EventLog& events_;
  BrokerLink& link_;
  const std::string node_;
  const CameraStateSource source_;

  Mutex mutex_;
  std::condition_variable changed_;
  bool woken_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;

  // The publisher's thread only (and start() before it runs).
  std::uint64_t lastEvent_ = 0;
  std::map<std::string, std::string> published_;  // camera -> withoutClocks

  std::unique_ptr<WakeList::Subscription> subscription_;
  std::thread thread_;
};
