// Random-access record files over an unbuffered stdio stream.  The stream is
// unbuffered so that every read goes to the file: another process may have
// written the record since, and a stdio buffer would hand on stale bytes.

#include "RA/RA.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// Byte offset of slot `pointer`, or -1 for a slot that cannot exist.
std::int64_t SlotOffset(const RA *file, int pointer) {
  if (!file || !file->fp || pointer < 0) return -1;
  return std::int64_t{kRAHeaderSize} + file->BlockSize + std::int64_t{pointer} * file->RecSize;
}

bool ReadAt(std::FILE *fp, std::int64_t offset, void *data, int size) {
  if (size < 0 || offset < 0) return false;
  auto n = static_cast<std::size_t>(size);
  return RAReadAt(fileno(fp), offset, data, n) == static_cast<ssize_t>(n);
}

bool WriteAt(std::FILE *fp, std::int64_t offset, const void *data, int size) {
  if (size < 0 || offset < 0) return false;
  return RAWriteAt(fileno(fp), offset, data, static_cast<std::size_t>(size));
}

}  // namespace

ssize_t RAReadAt(int fd, std::int64_t offset, void *data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t r = pread(fd, static_cast<char *>(data) + done, size - done, offset + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

bool RAWriteAt(int fd, std::int64_t offset, const void *data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t r = pwrite(fd, static_cast<const char *>(data) + done, size - done, offset + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    done += static_cast<std::size_t>(r);
  }
  return true;
}

int RAInit(const char *FileName, int BlockSize, int RecSize, int NRecords) {
  if (!FileName || BlockSize < 0 || RecSize <= 0 || NRecords < 0) return 1;
  int fd = open(FileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  std::int32_t header[3] = {BlockSize, RecSize, NRecords};
  bool ok = RAWriteAt(fd, 0, header, sizeof header);
  // The block and the slots are zero: extending the file gives zero bytes.
  off_t size = kRAHeaderSize + static_cast<off_t>(BlockSize) + static_cast<off_t>(NRecords) * RecSize;
  ok = ok && ftruncate(fd, size) == 0;
  ok = (close(fd) == 0) && ok;
  return ok ? 0 : 1;
}

int RAOpen(RA *File, const char *FileName, const char *LockFile) {
  if (!File) return 1;
  File->fp = nullptr;
  if (!FileName) return 1;
  std::FILE *fp = std::fopen(FileName, "r+be");
  if (!fp) return 1;
  std::setvbuf(fp, nullptr, _IONBF, 0);
  std::int32_t header[3] = {0, 0, 0};
  if (!ReadAt(fp, 0, header, sizeof header) || header[0] < 0 || header[1] <= 0 || header[2] < 0) {
    std::fclose(fp);
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

int RAClose(RA *File) {
  if (!File || !File->fp) return -1;
  int rc = std::fclose(File->fp);
  File->fp = nullptr;
  return rc == 0 ? 0 : -1;
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
