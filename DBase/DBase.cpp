// Record files shared between processes: each record read or write under a
// whole-file lock.

#include "DBase/DBase.h"

#include <cstdio>

#include "posix/posix.h"

namespace {

constexpr posix::LockNotes kReadNotes = {"DBRead: Cannot lock file for read", "DBRead: Cannot unlock read lock"};
constexpr posix::LockNotes kWriteNotes = {"DBWrite: Cannot lock file for write",
                                          "DBWrite: Cannot unlock write lock"};

}  // namespace

int setFileLock(std::FILE *fp, char lockType) {
  if (!fp) return -1;
  switch (lockType) {
    case 'r': return posix::LockWholeFile(fileno(fp), posix::LockKind::kShared);
    case 'w': return posix::LockWholeFile(fileno(fp), posix::LockKind::kExclusive);
    case 'u': return posix::UnlockWholeFile(fileno(fp));
    default: return -1;
  }
}

int DBInit(const char *FileName, int SizeofRec, int NRecords, int *error) {
  return RAInit(FileName, 0, SizeofRec, NRecords, error);
}

int DBOpen(DBase *DB, const char *FileName, const char *LockFile) {
  return DB ? RAOpen(&DB->File, FileName, LockFile) : 1;
}

int DBOpenForRead(DBase *DB, const char *FileName, const char *LockFile) {
  return DB ? RAOpenForRead(&DB->File, FileName, LockFile) : 1;
}

int DBRead(DBase *DB, int Rec, void *Data) {
  if (!DB || !DB->File.fp) return RAReadRec(DB ? &DB->File : nullptr, Rec, Data);
  posix::ScopedLock lock(fileno(DB->File.fp), posix::LockKind::kShared, kReadNotes);
  return RAReadRec(&DB->File, Rec, Data);
}

int DBWrite(DBase *DB, int Rec, const void *Data) {
  if (!DB || !DB->File.fp) return 1;
  posix::ScopedLock lock(fileno(DB->File.fp), posix::LockKind::kExclusive, kWriteNotes);
  return RAWriteRec(&DB->File, Rec, Data);
}

int DBClose(DBase *DB) { return DB ? RAClose(&DB->File) : -1; }
