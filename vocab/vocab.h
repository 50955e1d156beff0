// The shared vocabulary of both programs: the status and data-type codes
// stored in every record file with their word tables, the Boolean of the
// records, the client's verbose level, and the checked copy into a
// fixed-width text field.  Beside it, field_reader.h: the one reader of
// whole numbers and fixed-width fields, header-only.
//
// This module is at the bottom of the house beside the host runtime: it
// includes nothing of the system, and every other module may include it.
//
// Codes are stored on disk as 32-bit integers; the values below are part
// of the file formats and never change.

#ifndef VARNEK_VOCAB_VOCAB_H
#define VARNEK_VOCAB_VOCAB_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Record status, stored as a 32-bit integer in every record file.
enum StatusTypes : std::int32_t { Inactive = 0, Active = 1, Suspend = 2 };

// Data type of a record, stored as a 32-bit integer.
enum FileTypes : std::int32_t { UNKNOWN = 0, AREA = 1, MD = 2, GRID = 3, TEXT = 4 };

// Boolean of the records, a 32-bit integer: False = 0, True = 1.
enum Boolean : std::int32_t { False = 0, True = 1 };

// Word tables indexed by the codes above, each closed by "XENDX".
extern const char *const StatusTypesText[4];
extern const char *const FileTypesText[6];
inline constexpr std::string_view kWordListEnd = "XENDX";

// Index of `word` in a word table closed by "XENDX" (exact, case-sensitive
// comparison), or -1 when the table does not hold it.
[[nodiscard]] int WordIndex(const char *const *list, std::string_view word);

// The data type named by one of the words "AREA", "MD", "GRID", "TEXT"
// (exactly so spelled): true with `type` set, false for any other word
// ("UNKNOWN" included) with `type` unchanged.
[[nodiscard]] bool DataTypeFromWord(std::string_view word, FileTypes &type);

// The word of a status or data type, or "?" for a value outside the table
// (a code read from a damaged file never indexes past a table).
const char *StatusWord(std::int32_t status);
const char *TypeWord(std::int32_t type);

// The client's verbosity, 0 to 2, initially 1: ordinary messages print
// while it is above 0, extra diagnostics and host commands above 1.  The
// server program never reads it.
extern int verbose;

// Copies `value` into a fixed-width text field of `size` bytes and fills
// the rest of the field with NUL bytes, as every record format stores its
// text.  A value of `size` characters or more does not fit (the terminator
// must stay inside the field): false, and the field is left as it was.
// `value` may point into the field itself.
[[nodiscard]] bool CopyField(char *field, std::size_t size, std::string_view value);
template <std::size_t N>
[[nodiscard]] bool CopyField(char (&field)[N], std::string_view value) {
  return CopyField(field, N, value);
}

// Whether text holds a control character (below 0x20, or 0x7F).  Such
// characters never go into a record, a log entry or a host command line.
[[nodiscard]] bool HasControlCharacter(std::string_view text);

// Replaces every control character of a NUL-terminated text in place with
// '?', so text read from a file (which may have been edited by hand or come
// from another machine) never reaches a terminal or a command line raw.
void MaskControlCharacters(char *text);

// Text for a message that shows a refused value: control characters are
// written as \n, \t or \xNN, so the message itself is safe to print.
std::string Visible(std::string_view text);

// The text as well-formed UTF-8: each byte that does not begin a complete,
// shortest-form sequence of a scalar value (no surrogates, nothing past
// U+10FFFF) is replaced by U+FFFD; everything else is kept as it is.
std::string ValidUtf8(std::string_view text);

// Ends a text field read from a file inside the field, whatever the file
// held (files may have been edited by hand).
template <std::size_t N>
void EndField(char (&field)[N]) {
  field[N - 1] = '\0';
}

// EndField, then MaskControlCharacters: a text field read from a file made
// safe to print and to put into a command line.
template <std::size_t N>
void CleanField(char (&field)[N]) {
  EndField(field);
  MaskControlCharacters(field);
}

#endif  // VARNEK_VOCAB_VOCAB_H
