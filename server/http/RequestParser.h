// Reads one request from the bytes of a connection into an HttpRequest,
// refusing what the limits forbid as early as it can tell. Thread-bound.
#pragma once

#include <boost/beast/http/basic_parser.hpp>
#include <cstddef>
#include <string>

#include "server/http/HttpTypes.h"

class RequestParser : public boost::beast::http::basic_parser<true> {
 public:
  // Why a request is answered without reaching the handler.
  enum class Refusal {
    None,
    BadRequest,       // 400: malformed, or a method the server never knew
    UriTooLong,       // 414
    BodyTooLarge,     // 413
    HeadersTooLarge,  // 431
  };

  RequestParser();

  // Feeds bytes; returns how many were used (the rest belong to a later
  // call or the next request). Returns with done() or refusal() set, or
  // having used what it could of an incomplete request.
  std::size_t feed(const char* data, std::size_t size);
  // The peer closed its side.
  void feedEnd();

  bool done() const { return is_done(); }
  bool headerDone() const { return is_header_done(); }
  Refusal refusal() const { return refused; }
  // Header bytes taken so far, request line included.
  std::size_t headerBytes() const { return headerBytesSeen; }
  // The request so far; complete once done(). Its params are filled then.
  HttpRequest& request() { return parsed; }
  bool http10() const { return version == 10; }

 private:
  using error_code = boost::beast::error_code;
  using string_view = boost::beast::string_view;

  void refuse(Refusal why, error_code& ec);
  void on_request_impl(boost::beast::http::verb, string_view method, string_view target,
                       int version, error_code& ec) override;
  void on_response_impl(int, string_view, int, error_code&) override {}
  void on_field_impl(boost::beast::http::field, string_view name, string_view value,
                     error_code& ec) override;
  void on_header_impl(error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>& length, error_code&) override;
  std::size_t on_body_impl(string_view body, error_code&) override;
  void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t, string_view body, error_code&) override;
  void on_finish_impl(error_code&) override;

  HttpRequest parsed;
  Refusal refused = Refusal::None;
  std::size_t headerBytesSeen = 0;
  std::size_t fieldCount = 0;
  int version = 11;
};
