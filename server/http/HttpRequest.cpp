// Lookups on a request: headers by case-insensitive name, parameters by the
// first value given.
#include <strings.h>

#include "server/http/HttpTypes.h"

const std::string* HttpRequest::header(const std::string& name) const {
  for (const auto& field : headers) {
    if (strcasecmp(field.first.c_str(), name.c_str()) == 0) return &field.second;
  }
  return nullptr;
}

bool HttpRequest::hasParam(const std::string& name) const {
  for (const auto& field : params) {
    if (field.first == name) return true;
  }
  return false;
}

std::string HttpRequest::param(const std::string& name, const std::string& fallback) const {
  for (const auto& field : params) {
    if (field.first == name) return field.second;
  }
  return fallback;
}
