// The number and field reader: each row one text, the form it is read by,
// and what comes out.

#include "vocab/field_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using field::NumberForm;
using field::Read;
using field::Sign;

constexpr NumberForm kScanf{true, Sign::kEither, 0, 0};    // "%d"
constexpr NumberForm kDigits{false, Sign::kNone, 0, 0};    // digits only
constexpr NumberForm kMinus{false, Sign::kMinus, 0, 0};    // std::from_chars' own form
constexpr NumberForm kStrtol{true, Sign::kEither, 0, 0};   // as strtol reads a whole word

NumberForm Width(int width) { return {true, Sign::kEither, width, 0}; }    // "%Nd"
NumberForm Digits(int digits) { return {false, Sign::kNone, 0, digits}; }  // at most N digits

enum class Mode { kField, kWhole };

struct Row {
  const char *why;
  Mode mode;
  std::string_view text;
  std::size_t at;  // kField: where the field begins
  NumberForm form;
  std::int64_t least, most;
  Read read;
  std::int64_t value;  // with kOk; otherwise the value stays -7
  std::size_t end;     // kField: `at` afterwards
};

constexpr std::int64_t kMin32 = INT32_MIN, kMax32 = INT32_MAX;

const Row kRows[] = {
    // Fixed-width fields, as "%Nd" reads them.
    {"a field stops at its width", Mode::kField, "12345", 0, Width(3), kMin32, kMax32, Read::kOk, 123, 3},
    {"the width counts the sign", Mode::kField, "-12345", 0, Width(3), kMin32, kMax32, Read::kOk, -12, 3},
    {"blanks before a field do not count", Mode::kField, "  \t 42|", 0, Width(2), kMin32, kMax32, Read::kOk, 42, 6},
    {"a field ends at a non-digit", Mode::kField, "7 | 8", 0, Width(4), kMin32, kMax32, Read::kOk, 7, 1},
    {"a field is read from `at`", Mode::kField, "ab 19 cd", 2, Width(5), kMin32, kMax32, Read::kOk, 19, 5},
    {"a plus sign is taken", Mode::kField, "+5", 0, Width(2), kMin32, kMax32, Read::kOk, 5, 2},
    {"a sign alone in a width of one is no number", Mode::kField, "-5", 0, Width(1), kMin32, kMax32, Read::kNoNumber,
     -7, 0},
    {"a letter is no number", Mode::kField, "  x1", 0, Width(4), kMin32, kMax32, Read::kNoNumber, -7, 0},
    {"an empty text is no number", Mode::kField, "", 0, Width(4), kMin32, kMax32, Read::kNoNumber, -7, 0},
    {"blanks are not skipped unless the form says so", Mode::kField, " 5", 0, kDigits, kMin32, kMax32,
     Read::kNoNumber, -7, 0},
    {"a digit limit leaves the rest", Mode::kField, "-1234567:", 0, NumberForm{false, Sign::kEither, 0, 6}, kMin32,
     kMax32, Read::kOk, -123456, 7},
    {"an unlimited field takes every digit", Mode::kField, " 2147483647 x", 0, kScanf, kMin32, kMax32, Read::kOk,
     2147483647, 11},
    {"a field past the value type is out of range", Mode::kField, "99999999999999999999", 0, kScanf, kMin32, kMax32,
     Read::kRange, -7, 0},
    {"a field below its least is out of range", Mode::kField, "-2147483648", 0, kScanf, -kMax32, kMax32, Read::kRange,
     -7, 0},
    {"text after a field is left", Mode::kField, "12abc", 0, kScanf, kMin32, kMax32, Read::kOk, 12, 2},
    // Whole words.
    {"a whole word of digits", Mode::kWhole, "0042", 0, kDigits, 0, 9999, Read::kOk, 42, 0},
    {"a whole word with text after it", Mode::kWhole, "12a", 0, kDigits, 0, 9999, Read::kTrailing, -7, 0},
    {"a blank after the digits is trailing text", Mode::kWhole, "12 ", 0, kStrtol, -99, 99, Read::kTrailing, -7, 0},
    {"trailing text is found before the length", Mode::kWhole, "1234567890x", 0, Digits(9), 0, 999999999,
     Read::kTrailing, -7, 0},
    {"more digits than the form holds are out of range", Mode::kWhole, "0000000001", 0, Digits(9), 0, 999999999,
     Read::kRange, -7, 0},
    {"two digits in a form of two", Mode::kWhole, "23", 0, Digits(2), 0, 23, Read::kOk, 23, 0},
    {"a value above its most", Mode::kWhole, "24", 0, Digits(2), 0, 23, Read::kRange, -7, 0},
    {"no sign in a form of digits", Mode::kWhole, "-5", 0, kDigits, -9, 9, Read::kNoNumber, -7, 0},
    {"strtol's blanks and sign", Mode::kWhole, " \t+17", 0, kStrtol, -99, 99, Read::kOk, 17, 0},
    {"blanks alone are no number", Mode::kWhole, "   ", 0, kStrtol, -99, 99, Read::kNoNumber, -7, 0},
    {"a sign alone is no number", Mode::kWhole, "-", 0, kStrtol, -99, 99, Read::kNoNumber, -7, 0},
    {"a minus is from_chars' sign", Mode::kWhole, "-5", 0, kMinus, -9, 9, Read::kOk, -5, 0},
    {"a plus is not", Mode::kWhole, "+5", 0, kMinus, -9, 9, Read::kNoNumber, -7, 0},
    {"the 64-bit edge", Mode::kWhole, "-9223372036854775808", 0, kMinus, INT64_MIN, INT64_MAX, Read::kOk, INT64_MIN,
     0},
    {"past 64 bits", Mode::kWhole, "9223372036854775808", 0, kMinus, INT64_MIN, INT64_MAX, Read::kRange, -7, 0},
    {"a width over the whole word", Mode::kWhole, "-123", 0, NumberForm{false, Sign::kEither, 3, 0}, -999, 999,
     Read::kRange, -7, 0},
};

TEST(FieldReaderTest, EachRowReadsAsItsFormSays) {
  for (const Row &row : kRows) {
    SCOPED_TRACE(row.why);
    std::int64_t value = -7;
    std::size_t at = row.at;
    Read got = row.mode == Mode::kField ? field::ReadNumber(row.text, at, row.form, row.least, row.most, value)
                                        : field::WholeNumber(row.text, row.form, row.least, row.most, value);
    EXPECT_EQ(got, row.read);
    EXPECT_EQ(value, row.read == Read::kOk ? row.value : -7);
    if (row.mode == Mode::kField) {
      EXPECT_EQ(at, row.read == Read::kOk ? row.end : row.at);
    }
  }
}

TEST(FieldReaderTest, NarrowValueTypesRefuseWhatDoesNotFit) {
  int value = -7;
  EXPECT_EQ(field::WholeNumber("2147483648", kDigits, 0, INT32_MAX, value), Read::kRange);
  EXPECT_EQ(value, -7);
  EXPECT_EQ(field::WholeNumber("2147483647", kDigits, 0, INT32_MAX, value), Read::kOk);
  EXPECT_EQ(value, INT32_MAX);
}

struct DecimalRow {
  std::string_view text;
  Read read;
  double value;  // NaN: the value is not a number; with kNoNumber and kTrailing it stays 7.5
};

TEST(FieldReaderTest, DecimalsReadAsTheCLibraryReadsThem) {
  const double nan = std::nan("");
  const DecimalRow rows[] = {
      {"1.5", Read::kOk, 1.5},          {" +2.25", Read::kOk, 2.25},    {"-1e3", Read::kOk, -1000},
      {"0x10", Read::kOk, 16},          {"inf", Read::kOk, HUGE_VAL},    {"nan", Read::kOk, nan},
      {"", Read::kNoNumber, 7.5},       {"east", Read::kNoNumber, 7.5}, {"1.5 ", Read::kTrailing, 7.5},
      {"1.5x", Read::kTrailing, 7.5},   {"1e999", Read::kRange, HUGE_VAL}, {"-1e999", Read::kRange, -HUGE_VAL},
      {"1e-999", Read::kRange, 0},
  };
  for (const DecimalRow &row : rows) {
    SCOPED_TRACE(std::string(row.text));
    double value = 7.5;
    EXPECT_EQ(field::WholeDecimal(row.text, value), row.read);
    if (std::isnan(row.value)) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_EQ(value, row.value);
    }
  }
}

}  // namespace
