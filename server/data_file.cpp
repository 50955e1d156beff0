// Reading an arrived data file for VKS INVOKE: the header values by type
// (AREA directory, MD file information, GRID text label, nothing for TEXT)
// and the file's modification time in UTC.
//
// A header value goes into the record only when it fits its column of the
// availability file; otherwise a warning is error-printed and the field is
// treated as not read: AREA and MD fields become 0, as for a missing header,
// and a GRID field keeps its value, as for a label field the scan did not
// reach.

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "host/host.h"
#include "server/internal.h"
#include "server/line_format.h"
#include "server/server.h"

namespace {

constexpr int kHeaderWords = 64;
constexpr int kAreaDateWord = 3;
constexpr int kAreaTimeWord = 4;
constexpr int kMdSchemaWord = 0;
constexpr int kMdRowsWord = 3;
constexpr int kMdColumnsWord = 4;
constexpr int kMdDateWord = 39;
constexpr std::size_t kGridSourceKept = 9;  // what dataSource holds

// Stores `value` into `field` when it fits a column of `column` characters;
// otherwise warns and leaves the field alone.
bool StoreIfFits(std::int64_t value, int column, std::int32_t &field, const char *what, const std::string &file) {
  if (value >= INT32_MIN && value <= INT32_MAX && server_line::NumberFits(static_cast<std::int32_t>(value), column)) {
    field = static_cast<std::int32_t>(value);
    return true;
  }
  Tveprintf("invokeServerRec: %s %lld of %s does not fit the availability file; not stored.\n", what,
            static_cast<long long>(value), file.c_str());
  return false;
}

// Header text as the availability file can carry it: bytes that would break
// the line (control characters, the bar) become blanks; text of blanks only
// becomes empty.
std::string CleanHeaderText(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '|') c = ' ';
  }
  if (out.find_first_not_of(' ') == std::string::npos) out.clear();
  return out;
}

// A date word: YYDDD (or with a century digit 1 for 2000 on) to YYYYDDD.
std::int64_t AreaDate(std::int32_t word) { return word <= 96999 ? word + 2000000LL : word + 1900000LL; }

// MD and GRID dates: only YYDDD values are expanded; others are kept.
std::int64_t YyDddDate(std::int64_t value, bool zero_kept) {
  if (value >= (zero_kept ? 1 : INT32_MIN) && value <= 96999) return value + 2000000;
  if (value >= 97000 && value <= 99999) return value + 1900000;
  return value;
}

void ReadAreaHeader(AreaServerStruct &a, const std::string &fullName) {
  int number = a.currentNum;
  int dir[kHeaderWords] = {};
  int rc = number >= 1 && number <= 9999 ? readd_(&number, dir) : -1;
  if (rc != 0 || dir[0] != 0) {
    Tveprintf("invokeServerRec: AREA%04d not found.\n", number);
    a.dataDate = 0;
    a.dataTime = 0;
    return;
  }
  if (!StoreIfFits(AreaDate(dir[kAreaDateWord]), 7, a.dataDate, "date", fullName)) a.dataDate = 0;
  if (!StoreIfFits(dir[kAreaTimeWord], 6, a.dataTime, "time", fullName)) a.dataTime = 0;
  Tvdprintf("Data date/time: %d %d\n", a.dataDate, a.dataTime);
}

void ReadMdHeader(MdServerStruct &m, const std::string &fullName) {
  int number = m.currentNum;
  int info[kHeaderWords] = {};
  if (mdinfo_(&number, info) != 0) {
    std::printf("invokeServerRec: MDXX%04d not found.\n", number);
    m.dataDate = 0;
    m.dataTime = 0;
    m.schema[0] = '\0';
    m.numRow = 0;
    m.numColumn = 0;
    return;
  }
  if (!StoreIfFits(YyDddDate(info[kMdDateWord], true), 7, m.dataDate, "date", fullName)) m.dataDate = 0;
  if (!StoreIfFits(info[kMdRowsWord], 6, m.numRow, "number of rows", fullName)) m.numRow = 0;
  if (!StoreIfFits(info[kMdColumnsWord], 6, m.numColumn, "number of columns", fullName)) m.numColumn = 0;
  char schema[4];
  std::memcpy(schema, &info[kMdSchemaWord], sizeof schema);
  std::string text = CleanHeaderText(std::string_view(schema, strnlen(schema, sizeof schema)));
  (void)server_internal::CopyValue(m.schema, text);
}

// Reads the text label at the start of a GRID file: the conversions of
// "%[^0123456789]%2d%*c %3d%*s %5d" over the stream.  Each `got_` flag says
// whether that conversion was reached and succeeded.
class GridLabel {
 public:
  explicit GridLabel(std::FILE *fp) : fp_(fp) {
    if (!ReadSource()) return;
    if (!ReadNumber(2, run_hours)) return;
    got_run = true;
    if (std::getc(fp_) == EOF) return;  // %*c
    if (!ReadNumber(3, forecast_hours)) return;
    got_forecast = true;
    if (!SkipWord()) return;
    if (!ReadNumber(5, date)) return;
    got_date = true;
  }

  std::string source;  // at most kGridSourceKept characters of the text before the first digit
  int run_hours = 0, forecast_hours = 0, date = 0;
  bool got_source = false, got_run = false, got_forecast = false, got_date = false;

 private:
  static bool IsDigit(int c) { return c >= '0' && c <= '9'; }

  void SkipBlanks() {
    int c;
    while ((c = std::getc(fp_)) != EOF && server_line::IsBlank(static_cast<char>(c))) {
    }
    if (c != EOF) std::ungetc(c, fp_);
  }

  // %[^0123456789]: one or more characters; all are consumed, the first
  // few are kept (the label may be longer than the field).
  bool ReadSource() {
    int c;
    std::size_t n = 0;
    while ((c = std::getc(fp_)) != EOF && !IsDigit(c)) {
      if (source.size() < kGridSourceKept) source += static_cast<char>(c);
      ++n;
    }
    if (c != EOF) std::ungetc(c, fp_);
    got_source = n > 0;
    return got_source;
  }

  // %Nd
  bool ReadNumber(int width, int &out) {
    SkipBlanks();
    int c = std::getc(fp_);
    int used = 0;
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++used;
      c = std::getc(fp_);
    }
    int value = 0, digits = 0;
    while (used < width && IsDigit(c)) {
      value = value * 10 + (c - '0');
      ++digits;
      ++used;
      c = std::getc(fp_);
    }
    if (c != EOF) std::ungetc(c, fp_);
    if (digits == 0) return false;
    out = negative ? -value : value;
    return true;
  }

  // " %*s ": blanks, a word, blanks.
  bool SkipWord() {
    SkipBlanks();
    int c, n = 0;
    while ((c = std::getc(fp_)) != EOF && !server_line::IsBlank(static_cast<char>(c))) ++n;
    if (c != EOF) std::ungetc(c, fp_);
    return n > 0;
  }

  std::FILE *fp_;
};

void ReadGridLabel(GridServerStruct &g, const std::string &fullName) {
  std::FILE *fp = std::fopen(fullName.c_str(), "re");
  if (!fp) {
    std::perror("invokeServerRec");
    Tveprintf("Warning: file %s not found.\n", fullName.c_str());
    return;
  }
  GridLabel label(fp);
  std::fclose(fp);
  if (label.got_source) (void)server_internal::CopyValue(g.dataSource, CleanHeaderText(label.source));
  if (label.got_run) (void)StoreIfFits(label.run_hours * 10000LL, 6, g.dataTime, "run time", fullName);
  if (label.got_forecast)
    (void)StoreIfFits(label.forecast_hours * 10000LL, 6, g.forecastHour, "forecast hour", fullName);
  if (label.got_date) (void)StoreIfFits(YyDddDate(label.date, false), 7, g.dataDate, "date", fullName);
}

void ReadModificationTime(ServerRec &rec, const std::string &fullName) {
  struct stat st;
  if (stat(fullName.c_str(), &st) != 0) {
    std::perror(fullName.c_str());
    Tveprintf("Warning: file %s does not exist.\n", fullName.c_str());
    return;
  }
  std::time_t t = st.st_mtime;
  struct tm utc;
  if (!gmtime_r(&t, &utc)) return;
  std::int32_t date = rec.fileMdate;
  if (!StoreIfFits((utc.tm_year + 1900LL) * 1000 + utc.tm_yday + 1, 7, date, "modification date", fullName)) return;
  rec.fileMdate = date;
  rec.fileMtime = utc.tm_hour * 10000 + utc.tm_min * 100 + utc.tm_sec;
}

std::string NumberedName(const char *dir, const char *kind, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%04d", kind, number);
  return std::string(dir) + name;
}

}  // namespace

void readServerDataFile(ServerRec *rec) {
  std::string fullName;
  switch (rec->DataType) {
    case AREA:
      fullName = NumberedName(rec->filePath, "AREA", rec->ServerData.Area.currentNum);
      Tvdprintf("fileFullName: %s\n", fullName.c_str());
      ReadAreaHeader(rec->ServerData.Area, fullName);
      break;
    case MD:
      fullName = NumberedName(rec->filePath, "MDXX", rec->ServerData.Md.currentNum);
      ReadMdHeader(rec->ServerData.Md, fullName);
      break;
    case GRID:
      fullName = NumberedName(rec->filePath, "GRID", rec->ServerData.Grid.currentNum);
      ReadGridLabel(rec->ServerData.Grid, fullName);
      break;
    case TEXT:
      fullName = std::string(rec->filePath) + rec->ServerData.Text.fileName;
      break;
    default:
      return;
  }
  ReadModificationTime(*rec, fullName);
}
