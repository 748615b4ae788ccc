// Reads a server's GET /events on a thread of its own and keeps what it got,
// for integration tests and benchmarks:
//
//   EventReader events(*k, "");          // "" or the Last-Event-ID to send
//   ASSERT_TRUE(events.waitOpen(3000));  // from here on nothing is missed
//   ... events.events() / events.ofType("sequence") ...
//
// Thread-safe; the destructor stops the stream.
#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class KamoraServer;

class EventReader {
 public:
  struct Event {
    unsigned long long id = 0;
    std::string type, data;
    bool operator==(const Event& o) const { return id == o.id && type == o.type && data == o.data; }
  };

  EventReader(const KamoraServer& k, const std::string& lastEventId);
  ~EventReader();
  EventReader(const EventReader&) = delete;
  EventReader& operator=(const EventReader&) = delete;
  void stop();

  std::vector<Event> events();
  // The data of each event of that type, in order.
  std::vector<std::string> ofType(const std::string& type);
  // True once the stream's greeting came (false after timeoutMs).
  bool waitOpen(int timeoutMs);
  // True once an event numbered id or later came.
  bool waitFor(unsigned long long id, int timeoutMs);

 private:
  httplib::Client client_;
  std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};
