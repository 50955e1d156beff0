// The one reader of numbers in text: a fixed-width field read from a line
// (a column of the availability file, a number of a data file's label, a
// part of a clock), and a whole word that must be a number (a command-line
// word, a field of a text file).  Every reader of the system that turns
// digits into a value goes through these, so that a width, a sign and an
// overflow mean the same everywhere.
//
// How to call it: describe the field once with a NumberForm (may blanks
// come first, which sign is allowed, how wide it is, how many digits it
// holds), then
//
//   ReadNumber(text, at, form, least, most, value)   a field at `at` inside
//       a line, as a scanf conversion "%Nd" reads it: the reader stops at
//       the field's end, whatever follows;
//   WholeNumber(text, form, least, most, value)      the whole of `text`:
//       anything after the digits is refused;
//   WholeDecimal(text, value)                        the whole of `text` as a
//       decimal number of the C library's form.
//
// Each returns a Read: kOk, or why the text was refused.  The value is
// written only with kOk (WholeDecimal: also with kRange), and `at` moves
// only with kOk, so a caller that stops at the first refusal never sees a
// half-read value.  Digits are turned into values by std::from_chars: no
// locale, no errno, no exception.
//
// This header stands on the standard library alone (no module of the
// system, nothing to link), so that the stand-in host kit may read its
// words with it too.  The POSIX layer, below every other folder, keeps its
// own six-digit reader of the fault seam's counts.

#ifndef VARNEK_VOCAB_FIELD_READER_H
#define VARNEK_VOCAB_FIELD_READER_H

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace field {

// Blanks as the C library's scanning knows them: space, tab, line feed,
// vertical tab, form feed, carriage return.
constexpr bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The signs a field may begin with.
enum class Sign {
  kNone,    // digits only
  kMinus,   // an optional '-' (std::from_chars' own form)
  kEither,  // an optional '+' or '-' (scanf's and strtol's form)
};

// The form of a number field.  A limit of 0 is no limit.
struct NumberForm {
  bool skip_blanks = false;  // leading blanks are skipped first (not counted in `width`)
  Sign sign = Sign::kNone;
  int width = 0;   // the most characters of the field, a sign counted (scanf's N of "%Nd")
  int digits = 0;  // the most digits of the field
};

// Outcome of a read.
enum class Read {
  kOk,        // a number, within its range: the value is set
  kNoNumber,  // no digit where the number goes (empty text, a sign alone, a letter)
  kTrailing,  // WholeNumber, WholeDecimal: the number is followed by other text
  kRange,     // a number, but too long for the form (WholeNumber: more digits or characters than it
              // allows), past the value type or outside least..most
};

namespace internal {

// The extent of a number at `at` by `form`: where its sign begins
// (`first`, after any blanks skipped), where its digits are (`digits`..
// `end`), and whether it is negative.  `limited` stops the digits at the
// form's width and digit count (a field of fixed width); otherwise every
// digit is taken and the limits are checked afterwards.  false when no
// digit follows.
struct Extent {
  std::size_t first = 0, digits = 0, end = 0;
  bool negative = false;
};

constexpr bool Scan(std::string_view text, std::size_t at, const NumberForm &form, bool limited, Extent &out) {
  if (form.skip_blanks)
    while (at < text.size() && IsBlank(text[at])) ++at;
  out.first = at;
  std::size_t limit = text.size();
  if (limited && form.width > 0 && at + static_cast<std::size_t>(form.width) < limit)
    limit = at + static_cast<std::size_t>(form.width);
  if (at < limit && ((text[at] == '-' && form.sign != Sign::kNone) || (text[at] == '+' && form.sign == Sign::kEither))) {
    out.negative = text[at] == '-';
    ++at;
  }
  out.digits = at;
  if (limited && form.digits > 0 && at + static_cast<std::size_t>(form.digits) < limit)
    limit = at + static_cast<std::size_t>(form.digits);
  while (at < limit && IsDigit(text[at])) ++at;
  out.end = at;
  return out.end > out.digits;
}

// The value of a scanned number within least..most: kOk or kRange.
template <typename Int>
Read Convert(std::string_view text, const Extent &e, Int least, Int most, Int &value) {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int>, "a field's value is a signed integer");
  // std::from_chars reads a '-' itself, never a '+'.
  const char *from = text.data() + (e.negative ? e.digits - 1 : e.digits);
  Int v = 0;
  auto [end, ec] = std::from_chars(from, text.data() + e.end, v);
  if (ec != std::errc() || end != text.data() + e.end || v < least || v > most) return Read::kRange;
  value = v;
  return Read::kOk;
}

}  // namespace internal

// Reads the number field at `at` of `text` by `form`, as "%Nd" reads it
// (N the form's width): blanks skipped when the form says so, a sign the
// form allows, then digits up to the width (the sign counted) and the
// digit count; the field ends at the first character that is not a digit
// or at its limit, whatever follows.  kOk with `value` set and `at` just
// past the field; kNoNumber when no digit follows; kRange when the value
// does not fit `Int` or lies outside least..most.  On a refusal `value`
// and `at` stay as they were.
template <typename Int>
[[nodiscard]] Read ReadNumber(std::string_view text, std::size_t &at, const NumberForm &form, Int least, Int most,
                              Int &value) {
  internal::Extent e;
  if (!internal::Scan(text, at, form, true, e)) return Read::kNoNumber;
  Read r = internal::Convert(text, e, least, most, value);
  if (r == Read::kOk) at = e.end;
  return r;
}

// Reads the whole of `text` as one number by `form`: blanks first when the
// form says so, a sign the form allows, digits, and nothing after them.
// kOk with `value` set; kNoNumber when no digit comes where the number
// goes; kTrailing when anything follows the digits (a blank included);
// kRange for a number of more digits or characters than the form allows,
// past `Int`, or outside least..most.  The checks come in that order (a
// word of ten digits and a letter is kTrailing).  On a refusal `value`
// stays as it was.
template <typename Int>
[[nodiscard]] Read WholeNumber(std::string_view text, const NumberForm &form, Int least, Int most, Int &value) {
  internal::Extent e;
  if (!internal::Scan(text, 0, form, false, e)) return Read::kNoNumber;
  if (e.end != text.size()) return Read::kTrailing;
  if ((form.digits > 0 && e.end - e.digits > static_cast<std::size_t>(form.digits)) ||
      (form.width > 0 && e.end - e.first > static_cast<std::size_t>(form.width)))
    return Read::kRange;
  return internal::Convert(text, e, least, most, value);
}

// Reads the whole of `text` as a decimal number of the C library's form, as
// strtod reads it in the "C" locale: blanks first, a '+' or '-', decimal or
// hexadecimal ("0x") digits with a point and an exponent, or "inf",
// "infinity", "nan".  kOk with `value`; kNoNumber when no number begins the
// text; kTrailing when anything follows it; kRange when the number is past
// a double (`value` is then HUGE_VAL with its sign) or too small for one
// (`value` is then what strtod gives: 0 or a subnormal number).  std::
// from_chars is not used here: it takes no blanks, no '+' and no "0x", and
// leaves the value alone past the range, so the words the kit has always
// taken would read differently.
[[nodiscard]] inline Read WholeDecimal(std::string_view text, double &value) {
  const std::string copy(text);  // strtod wants the terminating NUL
  char *end = nullptr;
  errno = 0;
  const double v = std::strtod(copy.c_str(), &end);
  const int saved = errno;
  if (end == copy.c_str()) return Read::kNoNumber;
  if (end != copy.c_str() + copy.size()) return Read::kTrailing;
  value = v;
  return saved == ERANGE ? Read::kRange : Read::kOk;
}

}  // namespace field

#endif  // VARNEK_VOCAB_FIELD_READER_H
