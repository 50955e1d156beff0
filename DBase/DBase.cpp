// Record files shared between processes: each record read or write under a
// whole-file lock.

#include "DBase/DBase.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

int DBReadRange(DBase *DB, int First, int Count, void *Data) {
  if (!DB || !DB->File.fp || First < 0 || Count < 0 || DB->File.RecSize <= 0) return 1;
  const RA &ra = DB->File;
  auto size = static_cast<std::size_t>(Count) * static_cast<std::size_t>(ra.RecSize);
  std::int64_t offset = std::int64_t{kRAHeaderSize} + ra.BlockSize + std::int64_t{First} * ra.RecSize;
  ssize_t got;
  {
    posix::ScopedLock lock(fileno(ra.fp), posix::LockKind::kShared, kReadNotes);
    got = posix::ReadAt(fileno(ra.fp), offset, Data, size);
  }
  std::size_t have = got > 0 ? static_cast<std::size_t>(got) : 0;
  // Only whole records count; a record cut by the end of the file is
  // cleared with those past it.
  have -= have % static_cast<std::size_t>(ra.RecSize);
  if (have < size) std::memset(static_cast<char *>(Data) + have, 0, size - have);
  return have == size ? 0 : 1;
}

int DBRewrite(DBase *DB, int Rec, void *Data, const std::function<bool(void *Data)> &change) {
  if (!DB || !DB->File.fp) return 1;
  posix::ScopedLock lock(fileno(DB->File.fp), posix::LockKind::kExclusive, kWriteNotes);
  if (RAReadRec(&DB->File, Rec, Data) != 0) return 1;
  if (!change(Data)) return 0;
  return RAWriteRec(&DB->File, Rec, Data);
}

int DBClose(DBase *DB) { return DB ? RAClose(&DB->File) : -1; }

int DBase::Close() { return File.fp ? RAClose(&File) : 0; }
