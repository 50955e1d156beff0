// Text-to-number conversion of the fetchers.
//
// Integers: a plain decimal integer is taken when it fits in 32 bits.  Any
// other text is read as a decimal number ("D" may stand for the exponent
// letter) or, after a leading "$", as hexadecimal; beyond +/-2147483647 it
// exceeds the system limits, and a fraction is rounded half away from zero
// and reported.  Latitude/longitude: decimal degrees or D:M[:S].

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

constexpr double kIntLimit = 2147483647.0;
constexpr double kLatLonLimit = 360.0;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsPlainInteger(std::string_view s) {
  std::size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (!IsDigit(s[i])) return false;
  return true;
}

// Reads a decimal number: [+-] digits [. digits] [(e|E|d|D) [+-] digits],
// with at least one digit before the exponent.  False when the text has
// another form.
bool ReadDecimal(std::string_view s, double &out) {
  std::string normal;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
  auto take_digits = [&] {
    std::size_t count = 0;
    while (i < s.size() && IsDigit(s[i])) {
      normal += s[i++];
      ++count;
    }
    return count;
  };
  std::size_t digits = take_digits();
  if (i < s.size() && s[i] == '.') {
    normal += s[i++];
    digits += take_digits();
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    if (take_digits() == 0) return false;
  }
  if (i != s.size()) return false;
  out = std::strtod(normal.c_str(), nullptr);  // overflow gives HUGE_VAL
  return true;
}

// Reads [+-]$hexdigits; false for another form.  Saturates at a value that
// exceeds the limits so that an overlong number is reported as such.
bool ReadHex(std::string_view s, double &out) {
  bool negative = false;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size() || s[i] != '$') return false;
  ++i;
  if (i == s.size()) return false;
  double v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (IsDigit(c)) d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (v <= 4.0 * kIntLimit) v = v * 16 + d;
  }
  out = negative ? -v : v;
  return true;
}

}  // namespace

Converted ConvertInteger(std::string_view text, int &value) {
  value = 0;
  std::string_view s = Trim(text);
  if (s.empty()) return {kTvKindEmpty, 0};
  if (IsPlainInteger(s)) {
    std::string_view digits = s[0] == '+' ? s.substr(1) : s;
    std::int32_t v = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (ec != std::errc() || end != digits.data() + digits.size()) return {kTvKindLimits, 0};
    value = v;
    return {};
  }
  double number = 0;
  int form = 0;
  if (!s.empty() && (s[0] == '$' || (s.size() > 1 && s[1] == '$'))) {
    form = 1;
    if (!ReadHex(s, number)) return {kTvKindInvalidForm, form};
  } else if (!ReadDecimal(s, number)) {
    return {kTvKindInvalidForm, form};
  }
  if (!(std::fabs(number) <= kIntLimit + 0.5)) return {kTvKindLimits, form};
  double rounded = std::round(number);  // half away from zero
  if (std::fabs(rounded) > kIntLimit) return {kTvKindLimits, form};
  value = static_cast<int>(rounded);
  if (rounded != number) return {kTvKindFraction, form};
  return {0, form};
}

Converted ConvertLatLon(std::string_view text, double &value) {
  value = 0;
  std::string_view s = Trim(text);
  if (s.empty()) return {kTvKindEmpty, 0};
  std::size_t colon = s.find(':');
  double degrees = 0;
  if (colon == std::string_view::npos) {
    if (!ReadDecimal(s, degrees)) return {kTvKindInvalidForm, 0};
  } else {
    std::string_view deg_text = s.substr(0, colon);
    std::string_view rest = s.substr(colon + 1);
    std::size_t colon2 = rest.find(':');
    std::string_view min_text = rest.substr(0, colon2);
    std::string_view sec_text = colon2 == std::string_view::npos ? std::string_view("0")
                                                                 : rest.substr(colon2 + 1);
    double d = 0, m = 0, sec = 0;
    if (!ReadDecimal(deg_text, d) || !ReadDecimal(min_text, m) || !ReadDecimal(sec_text, sec))
      return {kTvKindInvalidForm, 0};
    // Minutes and seconds are unsigned and below 60; the sign of the degrees
    // applies to the whole value.
    if (min_text[0] == '-' || min_text[0] == '+' || sec_text[0] == '-' || sec_text[0] == '+' ||
        m >= 60 || sec >= 60)
      return {kTvKindInvalidForm, 0};
    bool negative = deg_text[0] == '-';
    double magnitude = std::fabs(d) + (m * 60 + sec) / 3600;
    degrees = negative ? -magnitude : magnitude;
  }
  if (!(std::fabs(degrees) <= kLatLonLimit)) return {kTvKindLimits, 0};
  value = degrees;
  return {};
}

}  // namespace tv
