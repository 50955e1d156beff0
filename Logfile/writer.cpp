// Appending entries to the operations log.

#include <fcntl.h>
#include <unistd.h>  // getpid

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "Logfile/Logfile.h"
#include "host/host.h"
#include "posix/posix.h"
#include "vocab/vocab.h"

namespace {

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

namespace {

// Steps the ring by one entry: Current_Record (10,000 wraps to 1) and
// Log_Record_Count (stops at 10,000).  false for a block with values
// outside 0..10,000, which must never direct an entry to a wrong place.
bool AdvanceBlock(BLOCK_TYPE &b) {
  if (b.Current_Record < 0 || b.Current_Record > kLogRecords || b.Log_Record_Count < 0 ||
      b.Log_Record_Count > kLogRecords)
    return false;
  if (b.Current_Record < kLogRecords) {
    ++b.Current_Record;
    if (b.Log_Record_Count <= kLogRecords - 1) ++b.Log_Record_Count;
  } else {
    b.Current_Record = 1;
  }
  return true;
}

std::int64_t EntryOffset(int record) {
  return std::int64_t{kRAHeaderSize} + kLogBlockSize + std::int64_t{record} * kLogRecordSize;
}

// Appends `entry` to the open log `fd` under the exclusive lock: one read
// of the header and block, the entry, then the block.  The entry is written
// before the block that counts it, so a failed write never leaves the block
// naming a slot that still holds an older entry.  The lock is released by
// closing the log right after (closing a descriptor releases the process's
// locks on the file), which saves a system call on every entry.
int AppendEntry(int fd, const RECORD_TYPE &entry) {
  // One writer at a time from the block read to the block write.  A lock
  // that cannot be taken does not stop the entry.
  (void)posix::LockWholeFile(fd, posix::LockKind::kExclusive);
  std::int32_t head[5];  // BlockSize, RecSize, NRecords, then the block
  if (posix::ReadAt(fd, 0, head, sizeof head) != static_cast<ssize_t>(sizeof head)) return 1;
  if (head[0] != kLogBlockSize || head[1] != kLogRecordSize) return 1;
  BLOCK_TYPE block = {head[3], head[4]};
  if (!AdvanceBlock(block)) return 1;
  if (!posix::WriteAt(fd, EntryOffset(block.Current_Record), &entry, sizeof entry)) return 1;
  return posix::WriteAt(fd, kRAHeaderSize, &block, sizeof block) ? 0 : 1;
}

}  // namespace

int Update_Logfile(LOGFILE_TYPE *Logfile) {
  if (Logfile_ReadBlk(Logfile, &Logfile->Block) != 0) return 1;
  if (!AdvanceBlock(Logfile->Block)) return 1;
  return Logfile_WriteBlk(Logfile, &Logfile->Block);
}

int logwriter_(const char *Filename, const char *ProgramName, const char *Function,
               const char *Status, const char *Comment) {
  LOGFILE_TYPE log;
  std::memset(&log, 0, sizeof log);
  RECORD_TYPE &entry = log.Record;
  if (!Filename || std::strlen(Filename) > static_cast<std::size_t>(kLogFileNameMax) || !ProgramName ||
      !Function || !Status || !Comment || !CopyField(entry.ProgramName, ProgramName) ||
      !CopyField(entry.Function, Function) || !CopyField(entry.Status, Status) ||
      !CopyField(entry.Comment, Comment))
    return 1;
  Get_Date(&entry.Date);

  // The usual path: the log exists; it is opened, appended to and closed
  // with nothing more than the system calls that do the work.
  posix::File file;
  if (posix::OpenExisting(Filename, O_RDWR, file) == 0) {
    int rc = AppendEntry(file.fd(), entry);
    return file.Close() == 0 ? rc : 1;
  }

  // The first entry creates the log with its block naming record 1.
  std::string lock_file = LockFileName(Filename);
  if (Create_Logfile(&log, Filename, lock_file.c_str()) != 0) {
    // Another writer created it first: append to that log.
    if (posix::OpenExisting(Filename, O_RDWR, file) != 0) return 1;
    int rc = AppendEntry(file.fd(), entry);
    return file.Close() == 0 ? rc : 1;
  }
  int rc = Logfile_Write(&log, log.Block.Current_Record, &entry);
  if (Logfile_Close(&log) != 0) rc = 1;
  return rc;
}
