// Target and url-encoded parameter decoding, matching the old HTTP library.
#include "server/http/FormParams.h"

#include <set>

namespace {

// Calls piece(begin, end) for each part of [begin, end) between separators,
// trimmed of spaces and tabs, skipping parts that are then empty.
template <typename Piece>
void splitTrimmed(const char* begin, const char* end, char separator, Piece piece) {
  const char* start = begin;
  for (const char* p = begin;; ++p) {
    if (p != end && *p != separator) continue;
    const char* first = start;
    const char* last = p;
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
    if (first < last) piece(first, last);
    if (p == end) return;
    start = p + 1;
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `digits` hex digits at text[at], or -1.
long hexAt(const std::string& text, std::size_t at, int digits) {
  if (at + digits > text.size()) return -1;
  long value = 0;
  for (int i = 0; i < digits; ++i) {
    const int digit = hexValue(text[at + i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void appendUtf8(long code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0xD800 || (code >= 0xE000 && code < 0x10000)) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  // A UTF-16 surrogate alone encodes nothing; it is dropped.
}

}  // namespace

namespace formparams {

std::string decodeUrl(const std::string& text, bool plusAsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 1 < text.size()) {
      const bool wide = text[i + 1] == 'u';
      const long code = wide ? hexAt(text, i + 2, 4) : hexAt(text, i + 1, 2);
      if (code < 0) {
        out += c;
      } else if (wide) {
        appendUtf8(code, out);
        i += 5;
      } else {
        out += static_cast<char>(code);
        i += 2;
      }
    } else if (plusAsSpace && c == '+') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

void parseQueryText(const std::string& text, HttpFields& out) {
  std::set<std::string> seen;
  splitTrimmed(text.data(), text.data() + text.size(), '&', [&](const char* b, const char* e) {
    if (!seen.emplace(b, e).second) return;
    std::string name;
    std::string value;
    splitTrimmed(b, e, '=', [&](const char* b2, const char* e2) {
      (name.empty() ? name : value).assign(b2, e2);
    });
    if (!name.empty()) out.emplace_back(decodeUrl(name, true), decodeUrl(value, true));
  });
}

bool parseTarget(const std::string& target, std::string& path, HttpFields& params) {
  int count = 0;
  const char* begin = target.data();
  splitTrimmed(begin, begin + target.size(), '?', [&](const char* b, const char* e) {
    if (count == 0) path = decodeUrl(std::string(b, e), false);
    if (count == 1) parseQueryText(std::string(b, e), params);
    ++count;
  });
  return count <= 2;
}

}  // namespace formparams
