// Appending entries to the operations log.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>  // getpid

#include <cerrno>
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

// How an append to an open log ended.
enum class Append { kStored, kFailed, kDamaged };

// Appends `entry` to the open log `fd` under the exclusive lock: one read
// of the header and block, the entry, then the block.  The entry is written
// before the block that counts it, so a failed write never leaves the block
// naming a slot that still holds an older entry.  The lock is released by
// closing the log right after (closing a descriptor releases the process's
// locks on the file), which saves a system call on every entry.
//
// A log whose header or block cannot be a log's (too short, another block
// or record size, a position outside the ring) is kDamaged, with `why`
// set; the lock is still held then.
Append AppendEntry(int fd, const RECORD_TYPE &entry, std::string &why, int &error) {
  // One writer at a time from the block read to the block write.  A lock
  // that cannot be taken does not stop the entry.
  (void)posix::LockWholeFile(fd, posix::LockKind::kExclusive);
  std::int32_t head[5];  // BlockSize, RecSize, NRecords, then the block
  ssize_t got = posix::ReadAt(fd, 0, head, sizeof head);
  if (got < 0) {
    // A FIFO or socket of the log's name cannot be read at an offset.
    error = errno == ESPIPE ? posix::kNotRegularFile : errno;
    return Append::kFailed;
  }
  char text[96];
  if (got != static_cast<ssize_t>(sizeof head)) {
    std::snprintf(text, sizeof text, "it is %zd bytes long, too short to hold a log", got);
  } else if (head[0] != kLogBlockSize || head[1] != kLogRecordSize) {
    std::snprintf(text, sizeof text, "block size %d and record size %d are not a log's", head[0], head[1]);
  } else {
    BLOCK_TYPE block = {head[3], head[4]};
    if (AdvanceBlock(block)) {
      if (!posix::WriteAt(fd, EntryOffset(block.Current_Record), &entry, sizeof entry) ||
          !posix::WriteAt(fd, kRAHeaderSize, &block, sizeof block)) {
        error = errno;
        return Append::kFailed;
      }
      return Append::kStored;
    }
    std::snprintf(text, sizeof text, "its block names entry %d of %d", head[3], head[4]);
  }
  why = text;
  return Append::kDamaged;
}

// "<log>.damaged.<CCYYDDD>.<HHMMSS>", with ".2", ".3" ... when taken.
std::string AsideName(const char *filename, int attempt) {
  int date = 0, time = 0;
  if (Tvsectodaytime(tv::Now(), &date, &time) != 0) date = time = 0;
  char name[96];
  std::snprintf(name, sizeof name, "%s.damaged.%07d.%06d", filename, date, time);
  std::string out = name;
  if (attempt > 1) out += "." + std::to_string(attempt);
  return out;
}

// Sets the damaged log open on `fd` aside under its own name, never
// deleting it: linked to the aside name, then its own name removed.  Only
// when `filename` still names the file open on `fd` (another writer may
// have set it aside and started a fresh log already).  true when it was
// set aside (or already gone), false when it could not be.
bool SetAside(const char *filename, int fd, std::string &aside, int &error) {
  struct stat open_st, named_st;
  if (fstat(fd, &open_st) != 0 || stat(filename, &named_st) != 0 || open_st.st_ino != named_st.st_ino ||
      open_st.st_dev != named_st.st_dev)
    return true;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    std::string name = AsideName(filename, attempt);
    int rc = posix::Link(filename, name.c_str());
    if (rc == EEXIST) continue;
    if (rc != 0) {
      error = rc;
      return false;
    }
    if (int gone = posix::Unlink(filename); gone != 0 && gone != ENOENT) {
      (void)posix::Unlink(name.c_str());
      error = gone;
      return false;
    }
    aside = name;
    return true;
  }
  error = EEXIST;
  return false;
}

}  // namespace

int Update_Logfile(LOGFILE_TYPE *Logfile) {
  if (Logfile_ReadBlk(Logfile, &Logfile->Block) != 0) return 1;
  if (!AdvanceBlock(Logfile->Block)) return 1;
  return Logfile_WriteBlk(Logfile, &Logfile->Block);
}

int AppendLogEntry(const char *Filename, const char *ProgramName, const char *Function, const char *Status,
                   const char *Comment, LogWriteNote &note) {
  note = LogWriteNote{};
  LOGFILE_TYPE log{};
  RECORD_TYPE &entry = log.Record;
  if (!Filename || std::strlen(Filename) > static_cast<std::size_t>(kLogFileNameMax) || !ProgramName ||
      !Function || !Status || !Comment || HasControlCharacter(Comment) ||
      !CopyField(entry.ProgramName, ProgramName) || !CopyField(entry.Function, Function) ||
      !CopyField(entry.Status, Status) || !CopyField(entry.Comment, Comment)) {
    note.error = EINVAL;
    return 1;
  }
  Get_Date(&entry.Date);

  // The usual path: the log exists; it is opened, appended to and closed
  // with nothing more than the system calls that do the work.  A damaged
  // log is set aside and the entry goes into a fresh one; a second round
  // covers a log that another writer created or set aside meanwhile.
  for (int round = 0; round < 3; ++round) {
    // Opened without a type check: a FIFO or device of the log's name
    // fails the first read or never shows a log's header, so nothing is
    // ever written into it.
    posix::File file;
    int rc = posix::OpenExistingNoWait(Filename, O_RDWR, file);
    if (rc == 0) {
      std::string why;
      switch (AppendEntry(file.fd(), entry, why, note.error)) {
        case Append::kStored:
          if (int closed = file.Close(); closed != 0) {
            note.error = closed;
            return 1;
          }
          return 0;
        case Append::kFailed:
          return 1;
        case Append::kDamaged:
          if (!SetAside(Filename, file.fd(), note.set_aside_as, note.error)) return 1;
          if (!note.set_aside_as.empty()) note.damage = why;
          continue;  // the lock goes with the descriptor
      }
    }
    if (rc != ENOENT) {
      note.error = rc;
      return 1;
    }
    // The first entry creates the log with its block naming record 1.
    std::string lock_file = LockFileName(Filename);
    errno = 0;
    if (Create_Logfile(&log, Filename, lock_file.c_str()) != 0) {
      int error = errno;
      struct stat st;
      if (lstat(Filename, &st) == 0) continue;  // another writer created it first: append to that log
      note.error = error ? error : EIO;
      return 1;
    }
    int written = Logfile_Write(&log, log.Block.Current_Record, &entry);
    if (written != 0) note.error = errno;
    if (Logfile_Close(&log) != 0 && written == 0) {
      note.error = errno;
      written = 1;
    }
    return written;
  }
  note.error = EAGAIN;
  return 1;
}

int logwriter_(const char *Filename, const char *ProgramName, const char *Function,
               const char *Status, const char *Comment) {
  LogWriteNote note;
  return AppendLogEntry(Filename, ProgramName, Function, Status, Comment, note);
}
