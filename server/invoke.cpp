// VKS INVOKE: data files have arrived; the Active records whose series they
// belong to take their numbers, header values and modification times.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "server/internal.h"
#include "server/server.h"

namespace {

using server_internal::SetValue;

constexpr const char *kWho = "INVOKEServer";
constexpr int kMaxFileArguments = 9;
constexpr int kMaxFileNumber = 9999;

// Copies a string of the command record into the file record when given.
template <std::size_t N>
void MergeText(char (&to)[N], const char (&from)[N]) {
  if (from[0] != '\0') std::memcpy(to, from, N);
}

void MergeNumber(std::int32_t &to, std::int32_t from) {
  if (from != 0) to = from;
}

// The fields AREA, MD and GRID records share at their start.
template <typename TypeStruct>
void MergeSeries(TypeStruct &to, const TypeStruct &from) {
  MergeNumber(to.bRange, from.bRange);
  MergeNumber(to.eRange, from.eRange);
  MergeNumber(to.currentNum, from.currentNum);
  MergeNumber(to.dataDate, from.dataDate);
  MergeNumber(to.dataTime, from.dataTime);
}

template <typename TypeStruct>
void MergeRemote(TypeStruct &to, const TypeStruct &from) {
  MergeText(to.Descriptor, from.Descriptor);
  MergeText(to.Group, from.Group);
  MergeText(to.reserved, from.reserved);
}

template <typename TypeStruct>
bool InSeries(const TypeStruct &raf, const TypeStruct &rcmd) {
  return rcmd.currentNum == raf.currentNum || (rcmd.currentNum >= raf.bRange && rcmd.currentNum <= raf.eRange);
}

// TYPE of INVOKE: absent means AREA.
bool TypeFromWord(const char *word, FileTypes &type) {
  if (std::strcmp(word, "NONE") == 0) {
    type = AREA;
    return true;
  }
  return DataTypeFromWord(word, type);
}

// The template record: type, directory (FPATH, or $HOME/tavrin/data/) and
// machine.  false after a message when a value cannot be stored.
bool MakeTemplate(FileTypes type, ServerRec &rini) {
  (void)initServerRec(&rini, type);
  const char *fpath = "NONE";
  (void)Tvcmdstr("FPATH", 1, "NONE", &fpath);
  std::string dir;
  if (std::strcmp(fpath, "NONE") != 0) {
    dir = server_internal::WithSlash(fpath);
  } else {
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
      std::printf("INVOKEServer: HOME is not set; give the directory of the data files with FPATH.\n");
      return false;
    }
    dir = std::string(home) + "/tavrin/data/";
  }
  if (!SetValue(rini.filePath, dir, kWho, std::strcmp(fpath, "NONE") != 0 ? "FPATH" : "HOME directory")) return false;
  Tvdprintf("rini.filePath: %s\n", rini.filePath);
  const char *mach = "NONE";
  (void)Tvcmdstr("MACH", 1, "NONE", &mach);
  if (std::strcmp(mach, "NONE") != 0 && !SetValue(rini.machineName, mach, kWho, "MACH")) return false;
  return true;
}

int MultiFlag() {
  const char *multi = "NONE";
  (void)Tvcmdstr("MULTI", 1, "NONE", &multi);
  if (std::strcmp(multi, "ON") == 0 || std::strcmp(multi, "1") == 0) return 1;
  if (std::strcmp(multi, "NONE") == 0 || std::strcmp(multi, "OFF") == 0 || std::strcmp(multi, "0") == 0) return 0;
  Tveprintf("INVOKEServer: MULTI keyword only accept ON/OFF/1/0 options.\n");
  Tveprintf("INVOKEServer: set MULTI option to default 0. i.e OFF.\n");
  TvNoteRefusedValue();
  return 0;
}

// The TEXT command record of file argument `position`.  false (the command
// ends) after a message when the name cannot be used.
bool TextCommand(int position, ServerRec &rcmd) {
  const char *value = "NONE";
  (void)Tvcmdstr(" ", position, "NONE", &value);
  switch (server_internal::CheckFileName(value)) {
    case server_internal::FileNameProblem::kRelativeWithDirectory:
      Tveprintf("SetCreateServerRec: FNAME option should be absolute path or file name w/o directory.\n");
      return false;
    case server_internal::FileNameProblem::kNoFileName:
      Tveprintf("INVOKEServer: %s does not name a file.\n", value);
      return false;
    case server_internal::FileNameProblem::kNone:
      break;
  }
  std::string dir, name;
  server_internal::SplitPath(value, dir, name);
  if (!CopyField(rcmd.ServerData.Text.fileName, name) || (!dir.empty() && !CopyField(rcmd.filePath, dir))) {
    Tveprintf("INVOKEServer: file name %s is too long for the availability file.\n", value);
    return false;
  }
  std::string why;
  if (checkServerRec(rcmd, why) != 0) {
    Tveprintf("INVOKEServer: %s.\n", why.c_str());
    return false;
  }
  return true;
}

}  // namespace

int updateServerRec(ServerRec *rec, const ServerRec &rcmd) {
  MergeNumber(rec->Status, rcmd.Status);
  MergeNumber(rec->DataType, rcmd.DataType);
  MergeText(rec->machineName, rcmd.machineName);
  MergeText(rec->filePath, rcmd.filePath);
  MergeNumber(rec->fileMdate, rcmd.fileMdate);
  MergeNumber(rec->fileMtime, rcmd.fileMtime);
  MergeText(rec->comments, rcmd.comments);
  switch (rec->DataType) {
    case AREA: {
      AreaServerStruct &to = rec->ServerData.Area;
      const AreaServerStruct &from = rcmd.ServerData.Area;
      MergeSeries(to, from);
      MergeText(to.dataSource, from.dataSource);
      MergeNumber(to.imageResolution, from.imageResolution);
      MergeNumber(to.scanLine, from.scanLine);
      MergeNumber(to.flagEof, from.flagEof);
      MergeRemote(to, from);
      return 0;
    }
    case MD: {
      MdServerStruct &to = rec->ServerData.Md;
      const MdServerStruct &from = rcmd.ServerData.Md;
      MergeSeries(to, from);
      MergeText(to.schema, from.schema);
      if (from.numRow != 0) {
        to.numRow = from.numRow;
        to.numColumn = from.numColumn;
      }
      MergeRemote(to, from);
      return 0;
    }
    case GRID: {
      GridServerStruct &to = rec->ServerData.Grid;
      const GridServerStruct &from = rcmd.ServerData.Grid;
      MergeSeries(to, from);
      MergeText(to.dataSource, from.dataSource);
      MergeNumber(to.forecastHour, from.forecastHour);
      MergeRemote(to, from);
      return 0;
    }
    case TEXT:
      MergeText(rec->ServerData.Text.fileName, rcmd.ServerData.Text.fileName);
      MergeText(rec->ServerData.Text.reserved, rcmd.ServerData.Text.reserved);
      return 0;
    default:
      std::printf("updateServerRec: Undefined data type\n");
      return -1;
  }
}

int fitInServerAFRec(const ServerRec &raf, const ServerRec &rcmd) {
  if (raf.DataType != rcmd.DataType || std::strcmp(raf.machineName, rcmd.machineName) != 0) return -1;
  switch (rcmd.DataType) {
    case AREA:
      return InSeries(raf.ServerData.Area, rcmd.ServerData.Area) ? 0 : -1;
    case MD:
      return InSeries(raf.ServerData.Md, rcmd.ServerData.Md) ? 0 : -1;
    case GRID:
      return InSeries(raf.ServerData.Grid, rcmd.ServerData.Grid) ? 0 : -1;
    case TEXT:
      return std::strcmp(raf.ServerData.Text.fileName, rcmd.ServerData.Text.fileName) == 0 &&
                     std::strcmp(raf.filePath, rcmd.filePath) == 0
                 ? 0
                 : -1;
    default:
      std::printf("fitInServerAFRec: Invalid data type.\n");
      return -1;
  }
}

namespace {

// The availability file as one INVOKE scans it for its file arguments:
// opened, locked for writing, checked and read once, when the first argument
// is applied, and held so to the end of the command.  With no other writer
// possible meanwhile, the snapshot is the file: each argument finds its
// records in it, each record is updated from it and written back, and the
// line written is taken into it as the next scan of the file would read it.
class InvokeScan {
 public:
  InvokeScan() : snapshot_(kServerRecords), results_(kServerRecords) {}
  // invokeServerRec's work for one command record.
  int Apply(const ServerRec &rcmd, int multiinvoke, std::vector<ServerRec> *written);

 private:
  std::optional<server_internal::AvailabilityFile> file_;
  std::vector<ServerRec> snapshot_;
  std::vector<int> results_;
};

int InvokeScan::Apply(const ServerRec &rcmd, int multiinvoke, std::vector<ServerRec> *written) {
  if (!file_) {
    file_.emplace(server_internal::AvailabilityFile::kUpdateHeld);
    if (file_->fp())
      (void)readServerRecords(file_->lock(), 1, kServerRecords, snapshot_.data(), results_.data(), file_->fp());
  }
  std::FILE *fp = file_->fp();
  if (!fp) return file_->status();
  Tvdprintf("invokeServerRec: multiinvoke %d\n", multiinvoke);
  server_internal::ServerDataFile data_file;
  int result = kServerOk;
  for (int n = 1; n <= kServerRecords; ++n) {
    const auto at = static_cast<std::size_t>(n - 1);
    ServerRec &rec = snapshot_[at];
    if (results_[at] != 0 || rec.Status != Active || fitInServerAFRec(rec, rcmd) != 0) continue;
    Tvdprintf("invokeServerRec: matched recNum %d %d\n", n, static_cast<int>(rec.DataType));
    ServerRec updated = rec;
    (void)updateServerRec(&updated, rcmd);
    data_file.Update(&updated);
    char line[kServerLineChars];
    int rc = WriteServerFile(file_->lock(), n, &updated, fp, &line);
    if (rc != 0) {
      result = rc == kServerNotStored ? rc : kServerError;
    } else {
      if (written) written->push_back(updated);
      results_[at] = parseServerLine(std::string_view(line, sizeof line), &rec) == kServerLineUnknownType ? -1 : 0;
    }
    if (multiinvoke == 0) break;
  }
  return result;
}

}  // namespace

int invokeServerRec(ServerRec rcmd, int multiinvoke, std::vector<ServerRec> *written) {
  InvokeScan scan;
  return scan.Apply(rcmd, multiinvoke, written);
}

int INVOKEServer() {
  static const char *const kInvokeKeywords[] = {"MACH", "TYPE", "SCAN", "EOF", "FPATH", "MULTI"};
  if (Tvcmdkey(6, kInvokeKeywords) != 0) return kServerUsage;
  int count = Tvcmdnum(" ");
  if (count < 2 || count > kMaxFileArguments + 1) {
    Tveprintf("INVOKEServer: No file or too many files specified.\n");
    return kServerUsage;
  }
  Tvdprintf("Number of positional args: %d\n", count);

  const char *word = "NONE";
  (void)Tvcmdstr("TYPE", 1, "NONE", &word);
  FileTypes type = AREA;
  if (!TypeFromWord(word, type)) {
    std::printf("INVOKEServer: Unknown data type %s.\n", word);
    return kServerError;
  }
  ServerRec rini;
  if (!MakeTemplate(type, rini)) return kServerError;
  int multi = MultiFlag();

  // SCAN and EOF are the same for every file: fetched once, and checked
  // with the rest of the template before any record is touched.
  if (type == AREA) {
    int scan = 0, eof = 0;
    (void)Tvcmdint("SCAN", 1, "", 0, 1, 0, &scan);
    (void)Tvcmdint("EOF", 1, "", 0, 1, 0, &eof);
    rini.ServerData.Area.scanLine = scan;
    rini.ServerData.Area.flagEof = eof;
  }
  if (std::string why; checkServerRec(rini, why) != 0) {
    std::printf("INVOKEServer: %s.\n", why.c_str());
    return kServerError;
  }

  std::vector<ServerRec> written;
  std::vector<ServerRec> *collect = serverAnnounces() ? &written : nullptr;
  InvokeScan scan;  // the file, read once for every file argument
  for (int position = 2; position <= count; ++position) {
    ServerRec rcmd;
    (void)initServerRec(&rcmd, type);
    (void)updateServerRec(&rcmd, rini);
    if (type == TEXT) {
      if (!TextCommand(position, rcmd)) return kServerError;
    } else {
      int number = 0;
      if (Tvcmdint(" ", position, "", 0, 1, kMaxFileNumber, &number) < 0) {
        Tveprintf("INVOKEServer: Invalid file number. Skipped.\n");
        continue;
      }
      if (type == AREA) rcmd.ServerData.Area.currentNum = number;
      else if (type == MD) rcmd.ServerData.Md.currentNum = number;
      else rcmd.ServerData.Grid.currentNum = number;
    }
    if (int rc = scan.Apply(rcmd, multi, collect); rc != 0) {
      if (type == TEXT) Tveprintf("INVOKEServer: Error in invokeServerRec\n");
      else std::printf("INVOKEServer: Error in invokeServerRec\n");
      announceServerRecs(written);  // what was written before the failure
      return rc == kServerNotStored ? rc : kServerError;
    }
  }
  announceServerRecs(written);
  std::printf("DONE: INVOKE.\n");
  return kServerOk;
}
