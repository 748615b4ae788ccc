// Splits a fuzzer's byte string into the text fields a target feeds to the
// code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzin {

// Cuts data at each separator byte; the last field takes the rest (so at
// most maxFields fields). Fields may hold any other byte, NUL included.
inline std::vector<std::string> split(const std::uint8_t* data, std::size_t size, char separator,
                                      std::size_t maxFields) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == separator && fields.size() < maxFields) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

// The text as a C string sees it: up to the first NUL.
inline std::string cText(const std::string& field) { return std::string(field.c_str()); }

}  // namespace fuzzin
