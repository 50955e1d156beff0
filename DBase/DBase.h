// Record files shared between processes: a DBase is an RA file without a
// block whose every record read takes a shared lock and every record write
// an exclusive lock on the whole file, for that one record only.
//
// Locks are the operating system's advisory record locks (fcntl): they bind
// cooperating processes, belong to the process, and vanish when any
// descriptor of the file is closed by that process, so a process keeps one
// handle per file.  Nothing locks across a caller's read-modify-write.
//
// Calling sequence: DBInit once (installation); DBOpen, DBRead / DBWrite any
// number of times, and DBClose or the end of the handle's scope.  Results as for RA.  The lock messages below are
// the only output.

#ifndef VARNEK_DBASE_DBASE_H
#define VARNEK_DBASE_DBASE_H

#include <cstdio>
#include <functional>

#include "RA/RA.h"

// An open record file, owned: it is closed when the handle goes away, on
// every path.  Close() (or DBClose) closes it earlier and gives the close's
// status, which the destructor cannot.  Moving hands the open file on.
struct DBase {
  RA File{};  // fp null until opened

  DBase() = default;

  // Closes the file: 0, or -1 when the close fails; 0 when none is open.
  [[nodiscard]] int Close();
};

// RAInit with a block size of 0 (`error` as there).
[[nodiscard]] int DBInit(const char *FileName, int SizeofRec, int NRecords, int *error = nullptr);

// RAOpen on the handle's file; 1 when it cannot be opened.
[[nodiscard]] int DBOpen(DBase *DB, const char *FileName, const char *LockFile);

// RAOpenForRead on the handle's file, for commands that only read (their
// record reads take the shared lock, which needs no write access).
[[nodiscard]] int DBOpenForRead(DBase *DB, const char *FileName, const char *LockFile);

// Reads record `Rec` under a shared whole-file lock.  Prints
// "DBRead: Cannot lock file for read" / "DBRead: Cannot unlock read lock"
// when the lock calls fail (the read still happens).  0, or 1 with `Data`
// cleared when the record cannot be read.
[[nodiscard]] int DBRead(DBase *DB, int Rec, void *Data);

// Writes record `Rec` under an exclusive whole-file lock; the bytes have
// reached the file before the lock is released.  Prints
// "DBWrite: Cannot lock file for write" / "DBWrite: Cannot unlock write lock"
// when the lock calls fail.  0 or 1.
[[nodiscard]] int DBWrite(DBase *DB, int Rec, const void *Data);

// RAClose of its file: 0, or -1 when the close fails.
[[nodiscard]] int DBClose(DBase *DB);

// Reads records first..first+count-1 into `Data` (count records, one after
// the other) under one shared lock, in one read: a consistent snapshot of
// the range.  0; 1 when not every record could be read (records past the end
// of the file are cleared).  Prints the lock messages of DBRead.
[[nodiscard]] int DBReadRange(DBase *DB, int First, int Count, void *Data);

// Reads record `Rec` into `Data`, lets `change` modify it, and writes it
// back, all under one exclusive lock, so that no other writer's change can
// fall between the read and the write.  `change` returns whether the record
// is to be written.  0; 1 when the record cannot be read or written (then
// `Data` holds what was read, or is cleared).  Prints the lock messages of
// DBWrite.
[[nodiscard]] int DBRewrite(DBase *DB, int Rec, void *Data, const std::function<bool(void *Data)> &change);

// Whole-file advisory lock on the stream's file: 'r' shared, 'w' exclusive,
// 'u' release.  Waits until the lock is granted (retrying when a signal
// interrupts the wait).  Returns the lock call's result, 0 or -1; any other
// lock type returns -1 without a call.
[[nodiscard]] int setFileLock(std::FILE *fp, char lockType);

#endif  // VARNEK_DBASE_DBASE_H
