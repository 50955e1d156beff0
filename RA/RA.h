// Random-access record files: a 12-byte header, an optional block of fixed
// size, then numbered record slots of equal size.  No locking here; the
// DBase layer adds it.
//
// File layout (all integers 32-bit, native byte order; docs/record_files.md):
//
//   offset                       size        content
//   0                            4           BlockSize (0 when there is no block)
//   4                            4           RecSize
//   8                            4           NRecords, the slots written by RAInit
//   12                           BlockSize   the block
//   12 + BlockSize + n*RecSize   RecSize     slot n, n = 0, 1, 2 ...
//
// Callers number their records from 1 and use up to NRecords, one slot past
// the area RAInit fills; that slot comes into being when first written.
//
// Calling sequence: RAInit once to create a file; RAOpen, any number of
// reads and writes, RAClose.  Results: 0 success, 1 failure (RAClose: the
// close result, 0 or -1).  Nothing here prints.

#ifndef VARNEK_RA_RA_H
#define VARNEK_RA_RA_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr int kRAHeaderSize = 12;

// The handle of an open file, owned: the stream is closed when the handle
// goes away, on every path.  RAClose closes it earlier and gives the
// close's status, which the destructor cannot.  Moving hands the open file
// on; a handle is never copied.
struct RA {
  std::FILE *fp = nullptr;  // the open stream (unbuffered, read/write); null when not open
  int HeaderSize = 0;       // 12 once opened
  int BlockSize = 0;        // copied from the header at open
  int RecSize = 0;
  int NRecords = 0;
  char LockFile[80] = {};   // name given at open, only stored

  RA() = default;
  ~RA();
  RA(RA &&other) noexcept;
  RA &operator=(RA &&other) noexcept;
  RA(const RA &) = delete;
  RA &operator=(const RA &) = delete;
};

// Creates `FileName` anew with the header, BlockSize zero bytes and NRecords
// zero slots, replacing a file of that name.  The new file is written under
// a temporary name and renamed into place, so the name never holds a half
// made file.  0, or 1 when the sizes are negative or the file cannot be
// created, written or renamed (then a file of that name is unchanged).
// `error`, when given, receives the errno value of the failure.
[[nodiscard]] int RAInit(const char *FileName, int BlockSize, int RecSize, int NRecords, int *error = nullptr);

// Opens an existing regular file for reading and writing (never creates
// one, never waits on a FIFO or device) and reads its header.  1 with
// `File->fp` null when the file cannot be opened or its header is short or
// impossible (a negative size, a record size of 0); errno then says why
// (EINVAL for the header).
[[nodiscard]] int RAOpen(RA *File, const char *FileName, const char *LockFile);

// RAOpen for reading only: for commands that only read, so that a file the
// user may read but not write can still be read.  Writes through the
// handle fail.
[[nodiscard]] int RAOpenForRead(RA *File, const char *FileName, const char *LockFile);

// Closes the stream: 0, or -1 when the close fails.
[[nodiscard]] int RAClose(RA *File);

// Reads slot `Pointer` (RecSize bytes) into `Rec`.  1 when the whole record
// cannot be read (past the end of the file, a negative slot); then `Rec` is
// cleared, so an earlier record's bytes are never handed on.
[[nodiscard]] int RAReadRec(const RA *File, int Pointer, void *Rec);

// Writes `Rec` (RecSize bytes) to slot `Pointer` and flushes it to the file.
// 1 when the write fails or the slot number is negative.
[[nodiscard]] int RAWriteRec(const RA *File, int Pointer, const void *Rec);

// Reads / writes the block (BlockSize bytes at offset 12).  A failed read
// clears `Rec`.
[[nodiscard]] int RAReadBlk(const RA *File, void *Rec);
[[nodiscard]] int RAWriteBlk(const RA *File, const void *Rec);

#endif  // VARNEK_RA_RA_H
