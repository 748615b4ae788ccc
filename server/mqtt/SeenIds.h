// SeenIds: the volley ids a node has already taken, so a message the broker
// delivers twice (QoS 1 is "at least once") fires nothing the second time.
// Bounded: the oldest ids are forgotten first, and an id that old names a
// time long past, which is refused anyway. Thread-bound.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_set>

class SeenIds {
 public:
  explicit SeenIds(std::size_t capacity = 4096) : capacity_(capacity) {}

  // True the first time an id is offered (and remembers it), false after.
  bool firstTime(const std::string& id) {
    if (!set_.insert(id).second) return false;
    order_.push_back(id);
    if (order_.size() > capacity_) {
      set_.erase(order_.front());
      order_.pop_front();
    }
    return true;
  }

 private:
  const std::size_t capacity_;
  std::unordered_set<std::string> set_;
  std::deque<std::string> order_;
};
