// The preset memory and its JSON array.
#include "server/slot/PtzPresets.h"

void PtzPresets::cleared(const std::string& head, std::uint16_t number) {
  const auto found = byHead_.find(head);
  if (found != byHead_.end()) found->second.erase(number);
}

std::string PtzPresets::json(const std::string& head) const {
  std::string text = "[";
  const auto found = byHead_.find(head);
  if (found != byHead_.end()) {
    for (const std::uint16_t number : found->second) {
      if (text.size() > 1) text += ',';
      text += std::to_string(number);
    }
  }
  return text + "]";
}
