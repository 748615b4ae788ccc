// PtzPresets: the preset numbers the server stored on each pan/tilt head,
// less those it cleared, kept for the server's lifetime under the head's key
// (its address and MAC), so a camera connected again shows its presets.
// Thread-bound: its owner serialises the calls (PtzDriver holds its lock).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

class PtzPresets {
 public:
  void stored(const std::string& head, std::uint16_t number) { byHead_[head].insert(number); }
  void cleared(const std::string& head, std::uint16_t number);
  // "[1,3]": the numbers in ascending order; "[]" for a head never seen.
  std::string json(const std::string& head) const;

 private:
  std::map<std::string, std::set<std::uint16_t>> byHead_;
};
