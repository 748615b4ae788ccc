// The shutter-speed text grammar: every documented row plus the blanks,
// signs and 16-bit wrap that atoi's reading implies.
#include <gtest/gtest.h>

#include <string>

#include "camera/Exposure.h"

namespace {

struct ShutterRow {
  const char* text;
  std::uint16_t numerator;
  std::uint16_t denominator;
};

const ShutterRow kRows[] = {
    {"1/250", 1, 250},
    {"2", 2, 1},
    {"1/8000", 1, 8000},
    {"0.5", 0, 1},
    {"1/3.2", 1, 3},
    {"/250", 0, 250},
    {"1/", 1, 0},
    {"1/2/3", 1, 2},
    {"rapido", 0, 1},
    {"", 0, 1},
    {"-1", 65535, 1},
    {"70000", 4464, 1},
    {" 1/ 60", 1, 60},                   // blanks before each number are skipped
    {"+3/+4", 3, 4},                     // so is a plus sign
    {"65536/65537", 0, 1},               // both halves wrap to 16 bits
    {"1/-1", 1, 65535},                  // a negative denominator wraps too
    {"99999999999999999999", 65535, 1},  // beyond long: clamped, low bits kept
};

class ShutterParseTest : public ::testing::TestWithParam<ShutterRow> {};

TEST_P(ShutterParseTest, ReadsNumeratorAndDenominator) {
  const ShutterRow& row = GetParam();
  std::uint16_t numerator = 0xBEEF;
  std::uint16_t denominator = 0xBEEF;
  parseShutter(row.text, numerator, denominator);
  EXPECT_EQ(numerator, row.numerator) << '"' << row.text << '"';
  EXPECT_EQ(denominator, row.denominator) << '"' << row.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, ShutterParseTest, ::testing::ValuesIn(kRows));

}  // namespace
