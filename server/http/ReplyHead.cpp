// Reply heads, byte for byte as the server's replies have always looked.
#include "server/http/ReplyHead.h"

#include <algorithm>

#include "server/http/HttpLimits.h"
#include "server/http/HttpText.h"

namespace {

bool has(const HttpFields& fields, const std::string& name) {
  for (const auto& field : fields) {
    if (httptext::sameName(field.first, name)) return true;
  }
  return false;
}

// The reply's own headers, then each default it does not name; framing
// headers are the transport's to write.
HttpFields collect(const HttpReply& reply, const HttpFields& defaults) {
  HttpFields fields;
  for (const auto& field : reply.headers) {
    if (httptext::sameName(field.first, "Content-Length") ||
        httptext::sameName(field.first, "Transfer-Encoding")) {
      continue;
    }
    fields.push_back(field);
  }
  for (const auto& field : defaults) {
    if (!has(reply.headers, field.first)) fields.push_back(field);
  }
  if (!reply.contentType.empty()) fields.emplace_back("Content-Type", reply.contentType);
  return fields;
}

std::string render(int status, HttpFields fields) {
  std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) {
    return httptext::compareIgnoringCase(a.first, b.first) < 0;
  });
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + replyhead::reasonPhrase(status);
  head += "\r\n";
  for (const auto& field : fields) head += field.first + ": " + field.second + "\r\n";
  head += "\r\n";
  return head;
}

}  // namespace

namespace replyhead {

const char* reasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Internal Server Error";
  }
}

std::string wholeReply(const HttpReply& reply, const HttpFields& defaults, Fate fate,
                       bool headRequest) {
  HttpFields fields = collect(reply, defaults);
  if (fate == Fate::Close) {
    if (!has(fields, "Connection")) fields.emplace_back("Connection", "close");
  } else if (!has(fields, "Keep-Alive")) {
    fields.emplace_back("Keep-Alive",
                        "timeout=" + std::to_string(httplimits::kKeepAliveSeconds) +
                            ", max=" + std::to_string(httplimits::kMaxRequestsPerConnection));
  }
  const std::size_t length = reply.sharedBody ? reply.sharedBody->size() : reply.body.size();
  fields.emplace_back("Content-Length", std::to_string(length));
  if (headRequest && !has(fields, "Accept-Ranges")) fields.emplace_back("Accept-Ranges", "bytes");
  return render(reply.status, std::move(fields));
}

std::string streamReply(const HttpReply& reply, const HttpFields& defaults) {
  HttpFields fields = collect(reply, defaults);
  if (!has(fields, "Connection")) fields.emplace_back("Connection", "close");
  return render(reply.status, std::move(fields));
}

}  // namespace replyhead
