// Appending entries to the operations log.

#include <unistd.h>  // getpid

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "Logfile/Logfile.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

bool Fits(const char *text, std::size_t field_size) {
  return text && std::strlen(text) < field_size;
}

// "<log name>.srv": the lock-file name stored in the handle.
std::string LockFileName(const char *filename) { return std::string(filename) + ".srv"; }

}  // namespace

void Get_Date(DATE_TYPE *New_Date) {
  auto now = static_cast<std::time_t>(tv::Now());
  std::tm parts = {};
  gmtime_r(&now, &parts);
  New_Date->Year = parts.tm_year + 1900;
  New_Date->Julian_Date = parts.tm_yday;
  New_Date->Hour = parts.tm_hour;
  New_Date->Minute = parts.tm_min;
  New_Date->Second = parts.tm_sec;
}

int Create_Logfile(LOGFILE_TYPE *Logfile, const char *Filename, const char *LockFile) {
  Logfile->Block.Current_Record = 1;
  Logfile->Block.Log_Record_Count = 1;
  // Build the log under a private name and link it into place: the name
  // either does not exist or names a complete log with its block.
  std::string temporary = std::string(Filename) + ".new." + std::to_string(getpid());
  if (Logfile_Init(temporary.c_str(), kLogBlockSize, kLogRecordSize, kLogRecords) != 0) return 1;
  if (Logfile_Open(Logfile, temporary.c_str(), LockFile) != 0) {
    (void)posix::Unlink(temporary.c_str());
    return 1;
  }
  int rc = Logfile_WriteBlk(Logfile, &Logfile->Block);
  if (rc == 0 && posix::Link(temporary.c_str(), Filename) != 0) rc = 1;
  (void)posix::Unlink(temporary.c_str());
  if (rc != 0) (void)Logfile_Close(Logfile);
  return rc;
}

int Update_Logfile(LOGFILE_TYPE *Logfile) {
  if (Logfile_ReadBlk(Logfile, &Logfile->Block) != 0) return 1;
  BLOCK_TYPE &b = Logfile->Block;
  if (b.Current_Record < 0 || b.Current_Record > kLogRecords || b.Log_Record_Count < 0 ||
      b.Log_Record_Count > kLogRecords)
    return 1;  // a damaged block: never write an entry to a wrong place
  if (b.Current_Record < kLogRecords) {
    ++b.Current_Record;
    if (b.Log_Record_Count <= kLogRecords - 1) ++b.Log_Record_Count;
  } else {
    b.Current_Record = 1;
  }
  return Logfile_WriteBlk(Logfile, &b);
}

int logwriter_(const char *Filename, const char *ProgramName, const char *Function,
               const char *Status, const char *Comment) {
  LOGFILE_TYPE log;
  std::memset(&log, 0, sizeof log);
  if (!Fits(Filename, kLogFileNameMax + 1) || !Fits(ProgramName, sizeof log.Record.ProgramName) ||
      !Fits(Function, sizeof log.Record.Function) || !Fits(Status, sizeof log.Record.Status) ||
      !Fits(Comment, sizeof log.Record.Comment))
    return 1;
  Get_Date(&log.Record.Date);
  std::strcpy(log.Record.ProgramName, ProgramName);
  std::strcpy(log.Record.Function, Function);
  std::strcpy(log.Record.Status, Status);
  std::strcpy(log.Record.Comment, Comment);

  std::string lock_file = LockFileName(Filename);
  bool created = false;
  if (Logfile_Open(&log, Filename, lock_file.c_str()) != 0) {
    if (Create_Logfile(&log, Filename, lock_file.c_str()) == 0) created = true;
    else if (Logfile_Open(&log, Filename, lock_file.c_str()) != 0) return 1;
  }

  int rc;
  {
    // One writer at a time from the block read to the entry write.  A lock
    // that cannot be taken does not stop the entry.
    posix::ScopedLock lock(fileno(log.File.fp), posix::LockKind::kExclusive);
    rc = created ? 0 : Update_Logfile(&log);
    if (rc == 0) rc = Logfile_Write(&log, log.Block.Current_Record, &log.Record);
  }
  if (Logfile_Close(&log) != 0) rc = 1;
  return rc;
}
