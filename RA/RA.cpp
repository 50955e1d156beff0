// Random-access record files over an unbuffered stdio stream.  The stream is
// unbuffered so that every read goes to the file: another process may have
// written the record since, and a stdio buffer would hand on stale bytes.

#include "RA/RA.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "posix/posix.h"

namespace {

// Byte offset of slot `pointer`, or -1 for a slot that cannot exist.
std::int64_t SlotOffset(const RA *file, int pointer) {
  if (!file || !file->fp || pointer < 0) return -1;
  return std::int64_t{kRAHeaderSize} + file->BlockSize + std::int64_t{pointer} * file->RecSize;
}

bool ReadAt(std::FILE *fp, std::int64_t offset, void *data, int size) {
  if (size < 0 || offset < 0) return false;
  auto n = static_cast<std::size_t>(size);
  return posix::ReadAt(fileno(fp), offset, data, n) == static_cast<ssize_t>(n);
}

bool WriteAt(std::FILE *fp, std::int64_t offset, const void *data, int size) {
  if (size < 0 || offset < 0) return false;
  return posix::WriteAt(fileno(fp), offset, data, static_cast<std::size_t>(size));
}

}  // namespace

int RAInit(const char *FileName, int BlockSize, int RecSize, int NRecords, int *error) {
  if (error) *error = EINVAL;
  if (!FileName || BlockSize < 0 || RecSize <= 0 || NRecords < 0) return 1;
  int rc = posix::ReplaceFile(FileName, 0666, [&](int fd) {
    std::int32_t header[3] = {BlockSize, RecSize, NRecords};
    if (!posix::WriteAt(fd, 0, header, sizeof header)) return false;
    // The block and the slots are written as zero bytes, not left as a hole:
    // a full disk shows here, not at a later record write.
    static const char kZeros[65536] = {};
    std::int64_t size = kRAHeaderSize + std::int64_t{BlockSize} + std::int64_t{NRecords} * RecSize;
    for (std::int64_t at = kRAHeaderSize; at < size;) {
      auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - at, sizeof kZeros));
      if (!posix::WriteAt(fd, at, kZeros, n)) return false;
      at += static_cast<std::int64_t>(n);
    }
    return true;
  });
  if (error) *error = rc;
  return rc == 0 ? 0 : 1;
}

namespace {

int OpenWithMode(RA *File, const char *FileName, const char *LockFile, bool writable) {
  if (!File) return 1;
  *File = RA{};  // a handle opened again lets go of the file it held
  if (!FileName) return 1;
  int error = 0;
  std::FILE *fp = posix::OpenRegularStream(FileName, writable, &error);
  if (!fp) {
    errno = error;
    return 1;
  }
  std::int32_t header[3] = {0, 0, 0};
  if (!ReadAt(fp, 0, header, sizeof header) || header[0] < 0 || header[1] <= 0 || header[2] < 0) {
    std::fclose(fp);
    errno = EINVAL;
    return 1;
  }
  File->fp = fp;
  File->HeaderSize = kRAHeaderSize;
  File->BlockSize = header[0];
  File->RecSize = header[1];
  File->NRecords = header[2];
  std::memset(File->LockFile, 0, sizeof File->LockFile);
  if (LockFile) std::strncpy(File->LockFile, LockFile, sizeof File->LockFile - 1);
  return 0;
}

}  // namespace

int RAOpen(RA *File, const char *FileName, const char *LockFile) {
  return OpenWithMode(File, FileName, LockFile, true);
}

int RAOpenForRead(RA *File, const char *FileName, const char *LockFile) {
  return OpenWithMode(File, FileName, LockFile, false);
}

int RAClose(RA *File) {
  if (!File || !File->fp) return -1;
  int rc = std::fclose(File->fp);
  File->fp = nullptr;
  return rc == 0 ? 0 : -1;
}

RA::~RA() {
  if (fp) (void)std::fclose(fp);
}

RA::RA(RA &&other) noexcept
    : fp(other.fp), HeaderSize(other.HeaderSize), BlockSize(other.BlockSize), RecSize(other.RecSize),
      NRecords(other.NRecords) {
  std::memcpy(LockFile, other.LockFile, sizeof LockFile);
  other.fp = nullptr;
}

RA &RA::operator=(RA &&other) noexcept {
  if (this != &other) {
    if (fp) (void)std::fclose(fp);
    fp = other.fp;
    HeaderSize = other.HeaderSize;
    BlockSize = other.BlockSize;
    RecSize = other.RecSize;
    NRecords = other.NRecords;
    std::memcpy(LockFile, other.LockFile, sizeof LockFile);
    other.fp = nullptr;
  }
  return *this;
}

int RAReadRec(const RA *File, int Pointer, void *Rec) {
  std::int64_t offset = SlotOffset(File, Pointer);
  if (offset >= 0 && ReadAt(File->fp, offset, Rec, File->RecSize)) return 0;
  if (File && Rec && File->RecSize > 0) std::memset(Rec, 0, static_cast<std::size_t>(File->RecSize));
  return 1;
}

int RAWriteRec(const RA *File, int Pointer, const void *Rec) {
  std::int64_t offset = SlotOffset(File, Pointer);
  return offset >= 0 && WriteAt(File->fp, offset, Rec, File->RecSize) ? 0 : 1;
}

int RAReadBlk(const RA *File, void *Rec) {
  if (File && File->fp && ReadAt(File->fp, kRAHeaderSize, Rec, File->BlockSize)) return 0;
  if (File && Rec && File->BlockSize > 0) std::memset(Rec, 0, static_cast<std::size_t>(File->BlockSize));
  return 1;
}

int RAWriteBlk(const RA *File, const void *Rec) {
  return File && File->fp && WriteAt(File->fp, kRAHeaderSize, Rec, File->BlockSize) ? 0 : 1;
}
