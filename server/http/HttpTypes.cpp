// Look-ups on a request's headers and parameters, and the status reply.
#include "server/http/HttpTypes.h"

#include "server/http/HttpText.h"

const std::string* HttpRequest::header(const std::string& name) const {
  for (const auto& field : headers) {
    if (httptext::sameName(field.first, name)) return &field.second;
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

HttpReply statusReply(int status, const std::string& text) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = "{\"status\":\"" + text + "\"}";
  return reply;
}
