// Reading an arrived data file for VKS INVOKE: the header values by type
// (AREA directory, MD file information, GRID text label, nothing for TEXT)
// and the file's modification time in UTC.  Every record that one command
// record matches names the same data file, so the file is read once and
// what it held is applied to each record (warnings are printed per record).
//
// A header value goes into the record only when it fits its column of the
// availability file; otherwise a warning is error-printed and the field is
// treated as not read: AREA and MD fields become 0, as for a missing header,
// and a GRID field keeps its value, as for a label field the scan did not
// reach.

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "host/data_files.h"
#include "host/host.h"
#include "posix/posix.h"
#include "server/internal.h"
#include "server/server.h"
#include "vocab/field_reader.h"

namespace {

constexpr int kHeaderWords = datafile::kAreaDirectoryWords;  // and of the MD file information
static_assert(datafile::kMdInfoWords == kHeaderWords);
constexpr std::size_t kGridSourceKept = 9;  // what dataSource holds
constexpr std::size_t kGridLabelBytes = 1024;  // of a GRID file, the most the label is read from

// Stores `value` into `field` when it fits a column of `column` characters;
// otherwise warns and leaves the field alone.
bool StoreIfFits(std::int64_t value, int column, std::int32_t &field, const char *what, const std::string &file) {
  if (value >= INT32_MIN && value <= INT32_MAX && numberFitsColumn(static_cast<std::int32_t>(value), column)) {
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

// What was read from a data file, once per command record: every record
// matched by one command record names the same data file.
struct DataFileFacts {
  std::string fullName;
  int header_rc = -1;             // readd_ / mdinfo_ result, or the GRID open (0 opened)
  int header[kHeaderWords] = {};  // AREA directory or MD information
  int open_errno = 0;             // GRID: why the file could not be opened
  int stat_errno = 0;             // why the file status could not be had (0: it could)
  std::time_t mtime = 0;
};

// The system's error text with a prefix, as perror gives it, for an errno
// saved earlier; on the error stream like every warning of INVOKE.
void PrintSystemError(const std::string &prefix, int saved_errno) {
  Tveprintf("%s: %s\n", prefix.c_str(), posix::ErrorText(saved_errno).c_str());
}

void ApplyAreaHeader(AreaServerStruct &a, const DataFileFacts &facts) {
  if (facts.header_rc != 0 || facts.header[datafile::kAreaWordValid] != 0) {
    Tveprintf("invokeServerRec: AREA%04d not found.\n", a.currentNum);
    a.dataDate = 0;
    a.dataTime = 0;
    return;
  }
  if (!StoreIfFits(datafile::AreaDate(facts.header[datafile::kAreaWordDate]), 7, a.dataDate, "date", facts.fullName))
    a.dataDate = 0;
  if (!StoreIfFits(facts.header[datafile::kAreaWordTime], 6, a.dataTime, "time", facts.fullName)) a.dataTime = 0;
  Tvdprintf("Data date/time: %d %d\n", a.dataDate, a.dataTime);
}

void ApplyMdHeader(MdServerStruct &m, const DataFileFacts &facts) {
  if (facts.header_rc != 0) {
    std::printf("invokeServerRec: MDXX%04d not found.\n", m.currentNum);
    m.dataDate = 0;
    m.dataTime = 0;
    m.schema[0] = '\0';
    m.numRow = 0;
    m.numColumn = 0;
    return;
  }
  const int *info = facts.header;
  const std::string &name = facts.fullName;
  if (!StoreIfFits(datafile::MdDate(info[datafile::kMdWordDate]), 7, m.dataDate, "date", name)) m.dataDate = 0;
  if (!StoreIfFits(info[datafile::kMdWordRows], 6, m.numRow, "number of rows", name)) m.numRow = 0;
  if (!StoreIfFits(info[datafile::kMdWordColumns], 6, m.numColumn, "number of columns", name)) m.numColumn = 0;
  char schema[4];
  std::memcpy(schema, &info[datafile::kMdWordSchema], sizeof schema);
  std::string text = CleanHeaderText(std::string_view(schema, strnlen(schema, sizeof schema)));
  (void)CopyField(m.schema, text);
}

// Reads the text label at the start of a GRID file: the conversions of
// "%[^0123456789]%2d%*c %3d%*s %5d" over the stream.  Each `got_` flag says
// whether that conversion was reached and succeeded.
class GridLabel {
 public:
  GridLabel() = default;
  explicit GridLabel(std::string_view bytes) : bytes_(bytes) {
    if (!ReadSource()) return;
    if (!ReadNumber(2, run_hours)) return;
    got_run = true;
    if (Get() == EOF) return;  // %*c
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

  // The stream of the label's bytes: getc and ungetc over the bytes read.
  int Get() { return at_ < bytes_.size() ? static_cast<unsigned char>(bytes_[at_++]) : EOF; }
  void Unget() { --at_; }

  void SkipBlanks() {
    int c;
    while ((c = Get()) != EOF && isLineBlank(static_cast<char>(c))) {
    }
    if (c != EOF) Unget();
  }

  // %[^0123456789]: one or more characters; all are consumed, the first
  // few are kept (the label may be longer than the field).
  bool ReadSource() {
    int c;
    std::size_t n = 0;
    while ((c = Get()) != EOF && !IsDigit(c)) {
      if (source.size() < kGridSourceKept) source += static_cast<char>(c);
      ++n;
    }
    if (c != EOF) Unget();
    got_source = n > 0;
    return got_source;
  }

  // %Nd
  bool ReadNumber(int width, int &out) {
    const field::NumberForm form{true, field::Sign::kEither, width, 0};
    return field::ReadNumber(bytes_, at_, form, INT_MIN, INT_MAX, out) == field::Read::kOk;
  }

  // " %*s ": blanks, a word, blanks.
  bool SkipWord() {
    SkipBlanks();
    int c, n = 0;
    while ((c = Get()) != EOF && !isLineBlank(static_cast<char>(c))) ++n;
    if (c != EOF) Unget();
    return n > 0;
  }

  std::string_view bytes_;  // only while scanning
  std::size_t at_ = 0;
};

void ApplyGridLabel(GridServerStruct &g, const DataFileFacts &facts, const GridLabel &label) {
  if (facts.header_rc != 0) {
    PrintSystemError("invokeServerRec", facts.open_errno);
    Tveprintf("Warning: file %s not found.\n", facts.fullName.c_str());
    return;
  }
  const std::string &name = facts.fullName;
  if (label.got_source) (void)CopyField(g.dataSource, CleanHeaderText(label.source));
  if (label.got_run) (void)StoreIfFits(label.run_hours * 10000LL, 6, g.dataTime, "run time", name);
  if (label.got_forecast) (void)StoreIfFits(label.forecast_hours * 10000LL, 6, g.forecastHour, "forecast hour", name);
  if (label.got_date) (void)StoreIfFits(datafile::GridDate(label.date), 7, g.dataDate, "date", name);
}

void ApplyModificationTime(ServerRec &rec, const DataFileFacts &facts) {
  if (facts.stat_errno != 0) {
    PrintSystemError(facts.fullName, facts.stat_errno);
    Tveprintf("Warning: file %s does not exist.\n", facts.fullName.c_str());
    return;
  }
  struct tm utc;
  if (!gmtime_r(&facts.mtime, &utc)) return;
  std::int32_t date = rec.fileMdate;
  if (!StoreIfFits(datafile::DateOfYearDay(utc.tm_year + 1900LL, utc.tm_yday), 7, date, "modification date",
                   facts.fullName))
    return;
  rec.fileMdate = date;
  rec.fileMtime = utc.tm_hour * 10000 + utc.tm_min * 100 + utc.tm_sec;
}

std::string GridFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "GRID%04d", number);
  return name;
}

// The data file's full name: the record's path and the standard name of
// its number (the host's names for AREA and MD files), or its file name.
std::string FullName(const ServerRec &rec) {
  switch (rec.DataType) {
    case AREA: return rec.filePath + tv::AreaFileName(rec.ServerData.Area.currentNum);
    case MD: return rec.filePath + tv::MdFileName(rec.ServerData.Md.currentNum);
    case GRID: return rec.filePath + GridFileName(rec.ServerData.Grid.currentNum);
    case TEXT: return std::string(rec.filePath) + rec.ServerData.Text.fileName;
    default: return "";
  }
}

// Reads what the record's data file holds; prints nothing.
void LoadDataFile(const ServerRec &rec, DataFileFacts &facts, GridLabel &label) {
  facts = DataFileFacts{};
  facts.fullName = FullName(rec);
  switch (rec.DataType) {
    case AREA: {
      int number = rec.ServerData.Area.currentNum;
      facts.header_rc = number >= 1 && number <= 9999 ? readd_(&number, facts.header) : -1;
      break;
    }
    case MD: {
      int number = rec.ServerData.Md.currentNum;
      facts.header_rc = mdinfo_(&number, facts.header);
      break;
    }
    case GRID: {
      // The label stands at the start of the file: only its first bytes are
      // read, however large the file is.
      posix::File file;
      facts.open_errno = posix::OpenRegular(facts.fullName.c_str(), O_RDONLY, file);
      if (facts.open_errno != 0) break;
      char bytes[kGridLabelBytes];
      ssize_t got = posix::ReadAt(file.fd(), 0, bytes, sizeof bytes);
      if (got < 0) {
        facts.open_errno = errno;
        break;
      }
      label = GridLabel(std::string_view(bytes, static_cast<std::size_t>(got)));
      facts.header_rc = 0;
      break;
    }
    default:
      break;
  }
  // The modification time of a data file only: a FIFO or device of that
  // name counts as no file.
  struct stat st;
  if (stat(facts.fullName.c_str(), &st) != 0) facts.stat_errno = errno;
  else if (!S_ISREG(st.st_mode)) facts.stat_errno = posix::kNotRegularFile;
  else facts.mtime = st.st_mtime;
}

}  // namespace

namespace server_internal {

struct ServerDataFile::Facts {
  DataFileFacts file;
  GridLabel label;
  bool loaded = false;
};

ServerDataFile::ServerDataFile() : facts_(std::make_unique<Facts>()) {}
ServerDataFile::~ServerDataFile() = default;

void ServerDataFile::Update(ServerRec *rec) {
  if (rec->DataType < AREA || rec->DataType > TEXT) return;
  if (!facts_->loaded || facts_->file.fullName != FullName(*rec)) {
    LoadDataFile(*rec, facts_->file, facts_->label);
    facts_->loaded = true;
  }
  const DataFileFacts &facts = facts_->file;
  switch (rec->DataType) {
    case AREA:
      Tvdprintf("fileFullName: %s\n", facts.fullName.c_str());
      ApplyAreaHeader(rec->ServerData.Area, facts);
      break;
    case MD:
      ApplyMdHeader(rec->ServerData.Md, facts);
      break;
    case GRID:
      ApplyGridLabel(rec->ServerData.Grid, facts, facts_->label);
      break;
    default:
      break;
  }
  ApplyModificationTime(*rec, facts);
}

}  // namespace server_internal

void readServerDataFile(ServerRec *rec) {
  server_internal::ServerDataFile file;
  file.Update(rec);
}
