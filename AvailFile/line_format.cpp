// Conversions between an availability record and its 394-character line.

#include "AvailFile/line_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "AvailFile/AvailFile.h"
#include "vocab/field_reader.h"

namespace server_line {
namespace {

Field Number(const char *name, int column, std::int32_t &value) {
  return {name, FieldKind::kNumber, column, column, &value, nullptr, 0};
}

template <int N>
Field Text(const char *name, int column, int read_width, char (&text)[N]) {
  return {name, FieldKind::kText, column, read_width, nullptr, text, N};
}

template <int N>
Field Word(const char *name, int column, char (&text)[N]) {
  return {name, FieldKind::kWord, column, N - 1, nullptr, text, N};
}

FieldList Make(std::initializer_list<Field> fields) {
  FieldList list;
  for (const Field &f : fields) list.items[list.count++] = f;
  return list;
}

// Reads the conversions of a part from left to right; the first conversion
// that fails leaves `ok` false, and every later call does nothing.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool ok() const { return ok_; }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  // " | ": blanks, a bar, blanks.
  void Separator() {
    if (!ok_) return;
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != '|') {
      ok_ = false;
      return;
    }
    ++pos_;
    SkipBlanks();
  }

  // %Nd
  void Number(int width, std::int32_t &out) {
    if (!ok_) return;
    const field::NumberForm form{true, field::Sign::kEither, width, 0};
    if (field::ReadNumber(text_, pos_, form, INT32_MIN, INT32_MAX, out) != field::Read::kOk) ok_ = false;
  }

  // %N[^|]
  std::string_view BarDelimited(int width) {
    if (!ok_) return {};
    std::size_t start = pos_;
    std::size_t limit = std::min(text_.size(), pos_ + static_cast<std::size_t>(width));
    while (pos_ < limit && text_[pos_] != '|') ++pos_;
    if (pos_ == start) ok_ = false;
    return text_.substr(start, pos_ - start);
  }

  // %Ns
  std::string_view NonBlank(int width) {
    if (!ok_) return {};
    SkipBlanks();
    std::size_t start = pos_;
    std::size_t limit = std::min(text_.size(), pos_ + static_cast<std::size_t>(width));
    while (pos_ < limit && !IsBlank(text_[pos_])) ++pos_;
    if (pos_ == start) ok_ = false;
    return text_.substr(start, pos_ - start);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// strTrim on a view.
std::string_view Trimmed(std::string_view v) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (v == "*") return {};
  return v;
}

// Stores a read value: trimmed, kept to the field's capacity, trimmed again
// (a cut may leave blanks at the end), and zero-filled to the array's end.
// A control character (a hand-edited file, or another machine's table) is
// stored as '?': it never reaches a terminal or a command line raw.
void Store(const Field &f, std::string_view value) {
  value = Trimmed(value);
  if (value.size() > static_cast<std::size_t>(f.size - 1)) value = Trimmed(value.substr(0, f.size - 1));
  std::memset(f.text, 0, static_cast<std::size_t>(f.size));
  if (!value.empty()) std::memcpy(f.text, value.data(), value.size());
  MaskControlCharacters(f.text);
}

void ParseFields(std::string_view part, const FieldList &fields) {
  Scanner scan(part);
  for (int i = 0; i < fields.count && scan.ok(); ++i) {
    const Field &f = fields.items[i];
    if (i > 0) scan.Separator();
    switch (f.kind) {
      case FieldKind::kNumber: {
        std::int32_t value = 0;
        scan.Number(f.read_width, value);
        if (scan.ok()) *f.number = value;
        break;
      }
      case FieldKind::kText: {
        std::string_view value = scan.BarDelimited(f.read_width);
        if (scan.ok()) Store(f, value);
        break;
      }
      case FieldKind::kWord: {
        std::string_view value = scan.NonBlank(f.read_width);
        if (scan.ok()) Store(f, value);
        break;
      }
    }
  }
}

// A part of the line as its own string: up to its first NUL byte.
std::string_view Part(std::string_view line, std::size_t offset, std::size_t width) {
  if (offset >= line.size()) return {};
  std::string_view part = line.substr(offset, width);
  std::size_t nul = part.find('\0');
  return nul == std::string_view::npos ? part : part.substr(0, nul);
}

bool IsEmptySlot(std::string_view common) {
  return common.find_first_not_of("~\n") == std::string_view::npos;
}

// Checks one field; false with `why` set when its value cannot be written
// and read back.
bool FieldFits(const Field &f, std::string &why) {
  char message[160];
  if (f.kind == FieldKind::kNumber) {
    if (NumberFits(*f.number, f.column)) return true;
    std::snprintf(message, sizeof message, "%s %d does not fit its %d-character column", f.name,
                  static_cast<int>(*f.number), f.column);
    why = message;
    return false;
  }
  std::size_t length = strnlen(f.text, static_cast<std::size_t>(f.size));
  std::string_view value(f.text, std::min(length, static_cast<std::size_t>(f.size)));
  const char *problem = nullptr;
  if (length >= static_cast<std::size_t>(f.size)) {
    problem = "is longer than";
  } else if (HasControlCharacter(value)) {
    problem = "contains a control character";
  } else if (f.kind == FieldKind::kWord) {
    if (std::any_of(value.begin(), value.end(), IsBlank)) problem = "contains a blank";
  } else if (value.find('|') != std::string_view::npos) {
    problem = "contains a '|'";
  } else if (!value.empty() && std::all_of(value.begin(), value.end(), IsBlank)) {
    problem = "holds only blanks";
  }
  if (!problem) return true;
  if (length >= static_cast<std::size_t>(f.size)) {
    std::snprintf(message, sizeof message, "%s is longer than %d characters", f.name, f.size - 1);
  } else {
    std::string shown = Visible(value);
    std::snprintf(message, sizeof message, "%s \"%.*s\" %s", f.name, static_cast<int>(shown.size()),
                  shown.data(), problem);
  }
  why = message;
  return false;
}

bool FieldsFit(const FieldList &fields, std::string &why) {
  for (int i = 0; i < fields.count; ++i)
    if (!FieldFits(fields.items[i], why)) return false;
  return true;
}

// Appends `value` right-justified in `column` characters (a longer value
// whole), as "%*s" and "%*d" would.
void AppendPadded(std::string &out, int column, std::string_view value) {
  if (static_cast<std::size_t>(column) > value.size())
    out.append(static_cast<std::size_t>(column) - value.size(), ' ');
  out.append(value);
}

// The decimal digits of a number, with its sign.
std::string_view Decimal(std::int32_t value, char (&buf)[16]) {
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  (void)ec;  // 16 characters hold every 32-bit number
  return std::string_view(buf, static_cast<std::size_t>(end - buf));
}

// Appends the fields, each right-justified in its column and followed by
// " | ".  An empty string is written as "*".
void AppendFields(std::string &out, const FieldList &fields) {
  char buf[16];
  for (int i = 0; i < fields.count; ++i) {
    const Field &f = fields.items[i];
    AppendPadded(out, f.column, f.kind == FieldKind::kNumber ? Decimal(*f.number, buf) : starWhenNull(f.text));
    out += " | ";
  }
}

// Puts `part` right-justified into `width` characters at `dest`.
void RightJustify(char *dest, int width, const std::string &part) {
  auto w = static_cast<std::size_t>(width);
  std::size_t pad = w - part.size();
  std::memset(dest, ' ', pad);
  std::memcpy(dest + pad, part.data(), part.size());
}

}  // namespace

bool IsBlank(char c) { return field::IsBlank(c); }

bool NumberFits(std::int32_t value, int column) {
  char buf[16];
  return server_line::Decimal(value, buf).size() <= static_cast<std::size_t>(column);
}

Field CommentField(ServerRec &r) { return Text("comments", kCommentColumn, kCommentReadWidth, r.comments); }

FieldList CommonFields(ServerRec &r) {
  return Make({Number("Status", 1, r.Status), Number("DataType", 1, r.DataType),
               Text("machineName", 32, 32, r.machineName), Text("filePath", 80, 80, r.filePath),
               Number("fileMdate", 7, r.fileMdate), Number("fileMtime", 6, r.fileMtime)});
}

FieldList TypeFields(ServerRec &r) {
  switch (r.DataType) {
    case AREA: {
      AreaServerStruct &a = r.ServerData.Area;
      return Make({Number("bRange", 4, a.bRange), Number("eRange", 4, a.eRange),
                   Number("currentNum", 4, a.currentNum), Number("dataDate", 7, a.dataDate),
                   Number("dataTime", 6, a.dataTime), Text("dataSource", 10, 10, a.dataSource),
                   Number("imageResolution", 3, a.imageResolution), Number("scanLine", 6, a.scanLine),
                   Number("flagEof", 2, a.flagEof), Word("Descriptor", 32, a.Descriptor),
                   Word("Group", 32, a.Group), Text("reserved", 40, 39, a.reserved)});
    }
    case MD: {
      MdServerStruct &m = r.ServerData.Md;
      return Make({Number("bRange", 4, m.bRange), Number("eRange", 4, m.eRange),
                   Number("currentNum", 4, m.currentNum), Number("dataDate", 7, m.dataDate),
                   Number("dataTime", 6, m.dataTime), Text("schema", 5, 5, m.schema),
                   Number("numRow", 6, m.numRow), Number("numColumn", 6, m.numColumn),
                   Word("Descriptor", 32, m.Descriptor), Word("Group", 32, m.Group),
                   Text("reserved", 40, 39, m.reserved)});
    }
    case GRID: {
      GridServerStruct &g = r.ServerData.Grid;
      return Make({Number("bRange", 4, g.bRange), Number("eRange", 4, g.eRange),
                   Number("currentNum", 4, g.currentNum), Number("dataDate", 7, g.dataDate),
                   Number("dataTime", 6, g.dataTime), Text("dataSource", 10, 10, g.dataSource),
                   Number("forecastHour", 6, g.forecastHour), Word("Descriptor", 32, g.Descriptor),
                   Word("Group", 32, g.Group), Text("reserved", 40, 39, g.reserved)});
    }
    case TEXT: {
      TextServerStruct &t = r.ServerData.Text;
      return Make({Word("fileName", 20, t.fileName), Text("reserved", 40, 39, t.reserved)});
    }
    default:
      return {};
  }
}

}  // namespace server_line

using server_line::FieldList;

int initServerRec(ServerRec *rec, FileTypes dataType) {
  std::memset(rec, 0, sizeof *rec);
  rec->Status = Inactive;
  rec->DataType = dataType;
  return 0;
}

void strTrim(char *s, int /*mode*/) {
  if (!s) return;
  std::string_view v = server_line::Trimmed(s);
  if (!v.empty()) std::memmove(s, v.data(), v.size());
  s[v.size()] = '\0';
}

const char *starWhenNull(const char *s) { return (!s || !*s) ? "*" : s; }

int checkServerRec(const ServerRec &rec, std::string &why) {
  ServerRec copy = rec;
  if (copy.DataType < AREA || copy.DataType > TEXT) {
    why = "DataType " + std::to_string(copy.DataType) + " is not a known type";
    return -1;
  }
  if (!server_line::FieldsFit(server_line::CommonFields(copy), why)) return -1;
  if (!server_line::FieldsFit(server_line::TypeFields(copy), why)) return -1;
  return server_line::FieldFits(server_line::CommentField(copy), why) ? 0 : -1;
}

int formatServerLine(const ServerRec &rec, char (&line)[kServerLineChars], std::string &why) {
  if (checkServerRec(rec, why) != 0) return -1;
  ServerRec copy = rec;
  std::string common, type, comment;
  common.reserve(kServerCommonWidth);
  type.reserve(kServerTypeWidth);
  server_line::AppendFields(common, server_line::CommonFields(copy));
  server_line::AppendFields(type, server_line::TypeFields(copy));
  server_line::AppendPadded(comment, server_line::kCommentColumn, starWhenNull(copy.comments));
  // Every value fits its column, so every part fits its width.
  if (common.size() > kServerCommonWidth || type.size() > kServerTypeWidth ||
      comment.size() > kServerCommentWidth) {
    why = "the line is longer than 394 characters";
    return -1;
  }
  server_line::RightJustify(line, kServerCommonWidth, common);
  server_line::RightJustify(line + kServerCommonWidth, kServerTypeWidth, type);
  server_line::RightJustify(line + kServerCommonWidth + kServerTypeWidth, kServerCommentWidth, comment);
  return 0;
}

int parseServerLine(std::string_view line, ServerRec *rec) {
  std::memset(rec, 0, sizeof *rec);
  std::string_view common = server_line::Part(line, 0, kServerCommonWidth);
  if (server_line::IsEmptySlot(common)) {
    (void)initServerRec(rec, AREA);
    return kServerLineEmptySlot;
  }
  server_line::ParseFields(common, server_line::CommonFields(*rec));
  FieldList type_fields = server_line::TypeFields(*rec);
  if (type_fields.count == 0) return kServerLineUnknownType;
  server_line::ParseFields(server_line::Part(line, kServerCommonWidth, kServerTypeWidth), type_fields);

  server_line::Scanner scan(
      server_line::Part(line, kServerCommonWidth + kServerTypeWidth, kServerCommentWidth));
  scan.SkipBlanks();
  std::string_view comment = scan.BarDelimited(server_line::kCommentReadWidth);
  if (scan.ok()) server_line::Store(server_line::CommentField(*rec), comment);
  return kServerLineParsed;
}

bool numberFitsColumn(std::int32_t value, int column) { return server_line::NumberFits(value, column); }

bool isLineBlank(char c) { return server_line::IsBlank(c); }
