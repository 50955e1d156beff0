// The field tables of an availability line, shared by the line writer and
// the line reader (AvailFile/line_format.cpp) so that both follow one layout.
// Internal to AvailFile/; callers use formatServerLine and parseServerLine.
//
// A part is a list of fields.  The writer puts each field right-justified
// in its column followed by " | "; the reader reads the fields in order,
// separated by " | " (blanks, a bar, blanks), with these conversions:
//
//   kNumber  an optionally signed decimal integer of at most `read_width`
//            characters after leading blanks (%Nd)
//   kText    1 to `read_width` characters up to the next bar (%N[^|]);
//            trimmed, then kept to the field's capacity and trimmed again
//   kWord    a run of 1 to `read_width` non-blank characters after leading
//            blanks (%s bounded by the field)
//
// "Blank" is any of space, tab, line feed, vertical tab, form feed and
// carriage return, as for the C library's scanning.

#ifndef VARNEK_AVAILFILE_LINE_FORMAT_H
#define VARNEK_AVAILFILE_LINE_FORMAT_H

#include <cstdint>
#include <string_view>

#include "AvailFile/AvailFile.h"

namespace server_line {

enum class FieldKind { kNumber, kText, kWord };

struct Field {
  const char *name;      // the record field's name, for messages
  FieldKind kind;
  int column;            // written width
  int read_width;        // longest text the reader converts
  std::int32_t *number;  // kNumber: the value
  char *text;            // kText, kWord: the array
  int size;              // its size (capacity + 1)
};

inline constexpr int kMaxFields = 12;

struct FieldList {
  Field items[kMaxFields];
  int count = 0;
};

// The fields of the common part of `rec`.
FieldList CommonFields(ServerRec &rec);

// The fields of the type part of `rec` by its DataType; empty for a type
// outside 1..4.
FieldList TypeFields(ServerRec &rec);

// The comment, the one field of the comment part (written without " | ").
Field CommentField(ServerRec &rec);

// Width of the comment column inside the comment part, and the longest
// comment the reader converts.
inline constexpr int kCommentColumn = 40;
inline constexpr int kCommentReadWidth = 39;

bool IsBlank(char c);

// Whether `value` can be written into a column of `column` characters.
bool NumberFits(std::int32_t value, int column);

}  // namespace server_line

#endif  // VARNEK_AVAILFILE_LINE_FORMAT_H
