// The record commands: VKS CREATE, SET, DELETE, SUSPEND and RELEASE, and
// the two file operations under them.

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "host/host.h"
#include "server/internal.h"
#include "server/server.h"

namespace server_internal {

std::string WithSlash(std::string_view dir) {
  std::string out(dir);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

void SplitPath(std::string_view path, std::string &dir, std::string &name) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    dir.clear();
    name = std::string(path);
    return;
  }
  dir = std::string(path.substr(0, slash + 1));
  name = std::string(path.substr(slash + 1));
}

FileNameProblem CheckFileName(std::string_view path) {
  if (!path.empty() && path.front() != '/' && path.find('/') != std::string_view::npos)
    return FileNameProblem::kRelativeWithDirectory;
  if (path.empty() || path.back() == '/') return FileNameProblem::kNoFileName;
  return FileNameProblem::kNone;
}

AvailabilityFile::AvailabilityFile(Mode mode) {
  fp_ = mode == kRead ? openServerFileForRead(kServerFileName) : openServerFileQuietly(kServerFileName);
  if (!fp_) {
    std::printf("Fail to open Varnek II server file.\n");
    std::printf("Cannot open server file.\n");
    status_ = kServerNoFile;
    return;
  }
  if (mode == kRead) return;
  std::string why;
  int shape;
  if (mode == kUpdateHeld) {
    lock_.emplace(fp_);
    shape = checkServerFileShape(*lock_, fp_, why);
  } else {
    shape = checkServerFileShape(fp_, why);
  }
  if (shape != 0) {
    std::printf("Cannot change %s: it is damaged (%s); run VKS INSTALL to make a new one.\n", kServerFileName,
                why.c_str());
    lock_.reset();
    std::fclose(fp_);
    fp_ = nullptr;
    status_ = kServerNotStored;
  }
}

AvailabilityFile::~AvailabilityFile() {
  lock_.reset();  // released before the close would drop it unreported
  if (fp_) std::fclose(fp_);
}

bool RefuseRecordZero(int recNum, const char *who) {
  if (recNum != 0) return false;
  std::printf("%s: Invalid record number 0; records are numbered 1 to 200.\n", who);
  return true;
}

}  // namespace server_internal

int initServerFile() {
  if (installServerFile(kServerFileName) != 0) {
    std::printf("Fail to init Varnek II server file, will exit.\n");
    return kServerNotStored;
  }
  std::printf("Varnek II Server Installed Successfully.\n");
  return kServerOk;
}

namespace {

using server_internal::InUse;
using server_internal::SetValue;

constexpr const char *kWho = "SetCreateServerRec";

// The twelve keywords of CREATE and SET, in this order for Tvcmdkey.
constexpr const char *kSetKeywords[] = {"RANGE", "MACH",   "NAME",  "SOURCE", "SATE",  "RES",
                                        "SCAN",  "EOF",    "STATUS", "FNAME", "FPATH", "GROUP"};

// A string keyword whose default is the field's current value.
template <std::size_t N>
bool ApplyText(char (&field)[N], const char *keyword) {
  const char *value = field;
  (void)Tvcmdstr(keyword, 1, field, &value);
  return SetValue(field, value, kWho, keyword);
}

// An integer keyword whose default is the field's current value; a value
// that is not an integer has been diagnosed by the runtime and is not
// applied.
void ApplyNumber(std::int32_t &field, const char *keyword, int position = 1) {
  int value = field;
  if (Tvcmdint(keyword, position, "", field, 1, 0, &value) >= 0) field = value;
}

bool ApplyFilePath(ServerRec &rec) {
  const char *value = "NONE";
  (void)Tvcmdstr("FPATH", 1, "NONE", &value);
  if (std::strcmp(value, "NONE") == 0) return true;
  return SetValue(rec.filePath, server_internal::WithSlash(value), kWho, "FPATH");
}

void ApplyStatus(ServerRec &rec) {
  const char *value = "NONE";
  (void)Tvcmdstr("STATUS", 1, "NONE", &value);
  std::string_view word = value;
  if (word == "Active" || word == "ACTIVE" || word == "active") rec.Status = Active;
  else if (word == "Suspend" || word == "SUSPEND" || word == "suspend") rec.Status = Suspend;
  else if (word == "Inactive" || word == "INACTIVE" || word == "inactive") rec.Status = Inactive;
}

// RANGE position 1 (and on CREATE the current number with it), position 2.
template <typename TypeStruct>
void ApplyRange(TypeStruct &data, bool create) {
  ApplyNumber(data.bRange, "RANGE", 1);
  if (create) data.currentNum = data.bRange;
  ApplyNumber(data.eRange, "RANGE", 2);
}

bool ApplyFileName(ServerRec &rec) {
  const char *value = "NONE";
  (void)Tvcmdstr("FNAME", 1, "NONE", &value);
  if (std::strcmp(value, "NONE") == 0) {
    std::printf("SetCreateServerRec: FNAME option must be specified for TEXT type.\n");
    return false;
  }
  switch (server_internal::CheckFileName(value)) {
    case server_internal::FileNameProblem::kRelativeWithDirectory:
      std::printf("SetCreateServerRec: FNAME option should be absolute path or file name w/o directory.\n");
      return false;
    case server_internal::FileNameProblem::kNoFileName:
      std::printf("SetCreateServerRec: FNAME option must name a file, not a directory.\n");
      return false;
    case server_internal::FileNameProblem::kNone:
      break;
  }
  std::string dir, name;
  server_internal::SplitPath(value, dir, name);
  if (!SetValue(rec.ServerData.Text.fileName, name, kWho, "FNAME")) return false;
  return dir.empty() || SetValue(rec.filePath, dir, kWho, "FNAME");
}

// Applies the keywords in their order: MACH, FPATH, STATUS, then by type.
// false after a message when a value cannot be stored.
bool ApplyKeywords(ServerRec &rec, bool create) {
  if (!ApplyText(rec.machineName, "MACH") || !ApplyFilePath(rec)) return false;
  ApplyStatus(rec);
  switch (rec.DataType) {
    case AREA: {
      AreaServerStruct &a = rec.ServerData.Area;
      ApplyRange(a, create);
      if (!ApplyText(a.Group, "GROUP") || !ApplyText(a.Descriptor, "NAME") ||
          !ApplyText(a.dataSource, "SOURCE") || !ApplyText(a.dataSource, "SATE"))
        return false;
      ApplyNumber(a.imageResolution, "RES");
      ApplyNumber(a.scanLine, "SCAN");
      ApplyNumber(a.flagEof, "EOF");
      return true;
    }
    case GRID: {
      GridServerStruct &g = rec.ServerData.Grid;
      ApplyRange(g, create);
      return ApplyText(g.Group, "GROUP") && ApplyText(g.Descriptor, "NAME") && ApplyText(g.dataSource, "SOURCE");
    }
    case MD: {
      MdServerStruct &m = rec.ServerData.Md;
      ApplyRange(m, create);
      return ApplyText(m.Group, "GROUP") && ApplyText(m.Descriptor, "NAME");
    }
    case TEXT:
      return ApplyFileName(rec);
    default:
      return true;
  }
}

// DELETE, SUSPEND and RELEASE.
int ChangeStatusCommand(const char *who, StatusTypes status, const char *done) {
  if (Tvcmdnum(" ") != 2) {
    std::printf("%s: Wrong positional arg number.\n", who);
    return kServerUsage;
  }
  int recNum = -1;
  if (Tvcmdint(" ", 2, "", -1, 0, kServerRecords, &recNum) < 0) return kServerUsage;
  if (server_internal::RefuseRecordZero(recNum, who)) return kServerUsage;
  if (int rc = changeServerRecStatus(recNum, status); rc != 0) return rc == kServerNotStored ? rc : kServerError;
  std::printf("DONE: %s.\n", done);
  return kServerOk;
}

}  // namespace

int setServerRec(int recNum, const ServerRec &rec) {
  server_internal::AvailabilityFile file(server_internal::AvailabilityFile::kUpdate);
  if (!file.fp()) return file.status();
  int rc = WriteServerFile(recNum, &rec, file.fp());
  return rc == 0 ? kServerOk : rc == kServerNotStored ? rc : kServerError;
}

int changeServerRecStatus(int recNum, StatusTypes status) {
  server_internal::AvailabilityFile file(server_internal::AvailabilityFile::kUpdate);
  if (!file.fp()) return file.status();
  int rc = rewriteServerRecord(recNum, file.fp(), [status](ServerRec &rec) {
    rec.Status = status;
    return true;
  });
  return rc == 0 ? kServerOk : rc == kServerNotStored ? rc : kServerError;
}

int SetCreateServerRec(int mode) {
  bool create = mode == 1;
  if (Tvcmdnum(" ") != mode + 2) {
    std::printf("SetCreateServerRec: Invalid number of positional arguments.\n");
    return kServerUsage;
  }
  if (Tvcmdkey(static_cast<int>(std::size(kSetKeywords)), kSetKeywords) != 0) return kServerUsage;
  int recNum = 0;
  if (Tvcmdint(" ", 2, "Illegal value", 0, 0, kServerRecords, &recNum) < 0) {
    std::printf("SetCreateServerRec: Invalid number\n");
    return kServerUsage;
  }
  if (server_internal::RefuseRecordZero(recNum, kWho)) return kServerUsage;

  // The record is read, changed and written under the one lock the open
  // takes: a change another writer makes meanwhile (an arrival's INVOKE, a
  // second CREATE of the slot) waits, and is never written over with what
  // was read before it.
  server_internal::AvailabilityFile file(server_internal::AvailabilityFile::kUpdateHeld);
  if (!file.fp()) return file.status();
  ServerRec rec;
  int read = 0;  // an unknown type shows in rec.DataType
  (void)readServerRecords(file.lock(), recNum, recNum, &rec, &read, file.fp());

  if (create) {
    if (InUse(rec)) {
      std::printf("SetCreateServerRec: Record %d not empty, try another record number.\n", recNum);
      return kServerError;
    }
    const char *word = "NONE";
    (void)Tvcmdstr(" ", 3, "NONE", &word);
    FileTypes type = UNKNOWN;
    if (!DataTypeFromWord(word, type)) {
      std::printf("SetCreateServerRec: unknown type %s\n", word);
      return kServerUsage;
    }
    (void)initServerRec(&rec, type);
  } else if (!InUse(rec)) {
    std::printf("SetCreateServerRec: Cannot set on non existant entry. Using CREATE.\n");
    return kServerError;
  }

  if (!ApplyKeywords(rec, create)) return kServerError;
  std::string why;
  if (rec.DataType >= AREA && rec.DataType <= TEXT && checkServerRec(rec, why) != 0) {
    std::printf("SetCreateServerRec: %s; record %d not changed.\n", why.c_str(), recNum);
    return kServerError;
  }
  if (int rc = WriteServerFile(file.lock(), recNum, &rec, file.fp()); rc != 0)
    return rc == kServerNotStored ? rc : kServerError;
  std::printf(create ? "DONE: CREATE.\n" : "DONE: SET.\n");
  return kServerOk;
}

int DELETEServer() { return ChangeStatusCommand("DELETEServer", Inactive, "DELETE"); }
int SUSPENDServer() { return ChangeStatusCommand("SUSPENDServer", Suspend, "SUSPEND"); }
int RELEASEServer() { return ChangeStatusCommand("RELEASEServer", Active, "RELEASE"); }
