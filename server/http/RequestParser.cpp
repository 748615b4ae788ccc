// One request's parse, on top of the HTTP parser, with the server's limits
// and the old library's reading of methods, targets and parameters.
#include "server/http/RequestParser.h"

#include <boost/beast/http/error.hpp>

#include "server/http/FormParams.h"
#include "server/http/HttpLimits.h"

namespace http = boost::beast::http;

namespace {

// The methods the old library knew; any other request line was a 400.
bool knownMethod(boost::beast::string_view method) {
  static const char* const known[] = {"GET",     "HEAD",    "POST",  "PUT",   "DELETE",
                                      "CONNECT", "OPTIONS", "TRACE", "PATCH", "PRI"};
  for (const char* name : known) {
    if (method == name) return true;
  }
  return false;
}

HttpMethod methodOf(boost::beast::string_view method) {
  if (method == "GET") return HttpMethod::Get;
  if (method == "HEAD") return HttpMethod::Head;
  if (method == "POST") return HttpMethod::Post;
  if (method == "DELETE") return HttpMethod::Delete;
  return HttpMethod::Other;
}

}  // namespace

RequestParser::RequestParser() {
  // The parser's own byte limit bounds the request line and the fields each
  // on their own; feed() counts them together.
  header_limit(httplimits::kMaxHeaderBytes);
  body_limit(httplimits::kMaxBodyBytes);
  // One step per call, so that the header's size is known exactly.
  eager(false);
}

std::size_t RequestParser::feed(const char* data, std::size_t size) {
  std::size_t used = 0;
  while (used < size && !is_done() && refused == Refusal::None) {
    const bool inHeader = !is_header_done();
    error_code ec;
    const std::size_t n = put(boost::asio::const_buffer(data + used, size - used), ec);
    used += n;
    if (inHeader) headerBytesSeen += n;
    if (ec == http::error::need_more) {
      // What is left is all header when the header is unfinished.
      if (!is_header_done() && headerBytesSeen + (size - used) > httplimits::kMaxHeaderBytes) {
        refused = Refusal::HeadersTooLarge;
      }
      break;
    }
    if (ec == http::error::header_limit) {
      refused = Refusal::HeadersTooLarge;
    } else if (ec == http::error::body_limit) {
      refused = Refusal::BodyTooLarge;
    } else if (ec && refused == Refusal::None) {
      refused = Refusal::BadRequest;
    } else if (inHeader && is_header_done() && headerBytesSeen > httplimits::kMaxHeaderBytes) {
      refused = Refusal::HeadersTooLarge;
    }
    if (n == 0) break;
  }
  return used;
}

void RequestParser::feedEnd() {
  if (!got_some() || is_done() || refused != Refusal::None) return;
  error_code ec;
  put_eof(ec);
  if (ec) refused = Refusal::BadRequest;
}

void RequestParser::refuse(Refusal why, error_code& ec) {
  if (refused == Refusal::None) refused = why;
  ec = http::error::bad_method;  // any error stops the parse
}

void RequestParser::on_request_impl(http::verb, string_view method, string_view target,
                                    int httpVersion, error_code& ec) {
  version = httpVersion;
  parsed.methodText.assign(method.data(), method.size());
  parsed.method = methodOf(method);
  if (target.size() > httplimits::kMaxTargetBytes) return refuse(Refusal::UriTooLong, ec);
  if (!knownMethod(method) || (httpVersion != 10 && httpVersion != 11)) {
    return refuse(Refusal::BadRequest, ec);
  }
  if (!formparams::parseTarget(std::string(target.data(), target.size()), parsed.path,
                               parsed.params)) {
    refuse(Refusal::BadRequest, ec);
  }
}

void RequestParser::on_field_impl(http::field, string_view name, string_view value,
                                  error_code& ec) {
  if (++fieldCount > httplimits::kMaxHeaderFields) return refuse(Refusal::HeadersTooLarge, ec);
  parsed.headers.emplace_back(std::string(name.data(), name.size()),
                              std::string(value.data(), value.size()));
}

void RequestParser::on_body_init_impl(const boost::optional<std::uint64_t>& length, error_code&) {
  if (length) parsed.body.reserve(static_cast<std::size_t>(*length));
}

std::size_t RequestParser::on_body_impl(string_view body, error_code&) {
  parsed.body.append(body.data(), body.size());
  return body.size();
}

std::size_t RequestParser::on_chunk_body_impl(std::uint64_t, string_view body, error_code&) {
  parsed.body.append(body.data(), body.size());
  return body.size();
}

void RequestParser::on_finish_impl(error_code&) {
  const std::string* type = parsed.header("Content-Type");
  if (type != nullptr && type->compare(0, 33, "application/x-www-form-urlencoded") == 0) {
    formparams::parseQueryText(parsed.body, parsed.params);
  }
}
