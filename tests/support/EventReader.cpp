// The event stream read as text and cut into events at each blank line.
#include "tests/support/EventReader.h"

#include <chrono>

#include "tests/support/KamoraServer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Looks at done() every 10 ms until it holds or timeoutMs passes.
template <typename Done>
bool within(int timeoutMs, Done done) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace

EventReader::EventReader(const KamoraServer& k, const std::string& lastEventId)
    : client_(k.client()) {
  httplib::Headers headers;
  if (!lastEventId.empty()) headers.emplace("Last-Event-ID", lastEventId);
  thread_ = std::thread([this, headers] {
    client_.Get("/events", headers, [this](const char* data, std::size_t size) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(data, size);
      return true;
    });
  });
}

EventReader::~EventReader() { stop(); }

void EventReader::stop() {
  client_.stop();
  if (thread_.joinable()) thread_.join();
}

std::vector<EventReader::Event> EventReader::events() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Event> out;
  std::size_t from = 0;
  for (std::size_t end; (end = text_.find("\n\n", from)) != std::string::npos; from = end + 2) {
    Event e;
    std::size_t line = from;
    while (line < end) {
      const std::size_t next = std::min(text_.find('\n', line), end);
      const std::string field = text_.substr(line, next - line);
      if (field.rfind("id: ", 0) == 0) e.id = std::stoull(field.substr(4));
      if (field.rfind("event: ", 0) == 0) e.type = field.substr(7);
      if (field.rfind("data: ", 0) == 0) e.data = field.substr(6);
      line = next + 1;
    }
    if (e.id != 0) out.push_back(e);
  }
  return out;
}

std::vector<std::string> EventReader::ofType(const std::string& type) {
  std::vector<std::string> out;
  for (const Event& e : events()) {
    if (e.type == type) out.push_back(e.data);
  }
  return out;
}

bool EventReader::waitOpen(int timeoutMs) {
  return within(timeoutMs, [this] {
    std::lock_guard<std::mutex> lock(mutex_);
    return !text_.empty();
  });
}

bool EventReader::waitFor(unsigned long long id, int timeoutMs) {
  return within(timeoutMs, [this, id] {
    const std::vector<Event> got = events();
    return !got.empty() && got.back().id >= id;
  });
}
