// The availability file: installing it, opening it, and reading and writing
// one record under a whole-file lock.
//
// Records are read and written with pread / pwrite on the stream's
// descriptor (the stream itself is unbuffered and never reads): another
// process may have rewritten a record since the last read, and a stdio
// buffer would hand on its old bytes.  A record is written with one call
// under the exclusive lock, so a reader holding the shared lock never sees
// half of it.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "posix/posix.h"
#include "AvailFile/AvailFile.h"

namespace {

off_t RecordOffset(int recPointer) { return static_cast<off_t>(recPointer - 1) * kServerLineBytes; }

bool ValidRecordNumber(int recPointer) { return recPointer >= 1 && recPointer <= kServerRecords; }

constexpr posix::LockNotes kReadNotes = {"ReadServerFile: Cannot lock file for read",
                                         "ReadServerFile: Cannot unlock read lock"};
constexpr posix::LockNotes kWriteNotes = {"WriteServerFile: Cannot lock file for write",
                                          "WriteServerFile: Cannot unlock write lock"};

// Whole lines read at a time.  The file is read a page's worth at a time
// into one buffer rather than whole: a short command spends more on the
// fresh pages of a 79,000-byte buffer than on the reads.
constexpr std::size_t kBatchLines = 10;
constexpr std::size_t kBatchBytes = kBatchLines * kServerLineBytes;

// Reads `count` bytes from `offset` in batches of whole lines, handing each
// batch to `batch(bytes, got, start)` (`start`: the batch's byte position
// from `offset`).  Every batch is handed on: once the file has ended, or a
// read has failed, the later batches come with nothing read.  The total
// read, or -1 with errno set when a read failed.
template <typename Batch>
ssize_t ReadInBatches(int fd, off_t offset, std::size_t count, Batch &&batch) {
  char buffer[kBatchBytes];
  std::size_t total = 0;
  bool ended = false, failed = false;
  for (std::size_t start = 0; start < count; start += kBatchBytes) {
    std::size_t want = std::min(kBatchBytes, count - start);
    std::size_t got = 0;
    if (!ended) {
      ssize_t n = posix::ReadAt(fd, offset + static_cast<off_t>(start), buffer, want);
      failed = n < 0;
      got = n > 0 ? static_cast<std::size_t>(n) : 0;
      ended = got < want;
      total += got;
    }
    batch(static_cast<const char *>(buffer), got, start);
  }
  return failed ? -1 : static_cast<ssize_t>(total);
}

}  // namespace

int installServerFile(const char *fname) {
  std::vector<char> image(static_cast<std::size_t>(kServerRecords) * kServerLineBytes, kServerEmptySlotChar);
  for (int n = 1; n <= kServerRecords; ++n) image[static_cast<std::size_t>(n) * kServerLineBytes - 1] = '\n';
  return posix::ReplaceFile(fname, 0666, [&](int fd) {
    if (!posix::WriteAt(fd, 0, image.data(), image.size())) return false;
    // The set-group-ID bit marks the file as the server's published table;
    // the other mode bits are kept.
    struct stat st;
    if (fstat(fd, &st) == 0) (void)fchmod(fd, (st.st_mode & 07777) | S_ISGID);
    return true;
  });
}

std::FILE *openServerFileQuietly(const char *fname) { return posix::OpenRegularStream(fname, true); }

std::FILE *openServerFileForRead(const char *fname) { return posix::OpenRegularStream(fname, false); }

namespace {

// The shape check, the caller holding a lock on the file.
int CheckShape(std::FILE *fp, std::string &why) {
  constexpr std::size_t kFileBytes = static_cast<std::size_t>(kServerRecords) * kServerLineBytes;
  int unfed = 0;  // the first line whose line feed is missing
  // One byte more than the file should hold tells a longer file.
  ssize_t got =
      ReadInBatches(fileno(fp), 0, kFileBytes + 1, [&](const char *bytes, std::size_t length, std::size_t start) {
        for (std::size_t end = kServerLineBytes; unfed == 0 && end <= length; end += kServerLineBytes)
          if (bytes[end - 1] != '\n') unfed = static_cast<int>((start + end) / kServerLineBytes);
      });
  char text[96];
  if (got != static_cast<ssize_t>(kFileBytes)) {
    if (got < 0) std::snprintf(text, sizeof text, "it cannot be read: %s", posix::ErrorText(errno).c_str());
    else if (got > static_cast<ssize_t>(kFileBytes)) std::snprintf(text, sizeof text, "it is longer than %zu bytes", kFileBytes);
    else std::snprintf(text, sizeof text, "it is %zd bytes long, not %zu", got, kFileBytes);
    why = text;
    return -1;
  }
  if (unfed != 0) {
    std::snprintf(text, sizeof text, "line %d does not end in a line feed", unfed);
    why = text;
    return -1;
  }
  return 0;
}

// readServerRecords, the caller holding a lock on the file (`lock` null) or
// the shared lock taken here for the read (`lock` given).
int ReadRecords(int first, int last, ServerRec *recs, int *results, std::FILE *fp, const posix::LockNotes *lock) {
  if (!ValidRecordNumber(first) || !ValidRecordNumber(last) || last < first || !fp) {
    std::printf("ReadServerFile: Invalid record number %d\n", ValidRecordNumber(first) ? last : first);
    if (first <= last && last - first < kServerRecords)
      for (int n = first; n <= last; ++n) std::memset(&recs[n - first], 0, sizeof(ServerRec));
    return -1;
  }
  auto count = static_cast<std::size_t>(last - first + 1);
  auto parse = [&](const char *bytes, std::size_t got, std::size_t start) {
    // Bytes that are not in the file end the line early (a short copy
    // reads as empty slots).
    for (std::size_t at = 0; at < kBatchBytes && start + at < count * kServerLineBytes; at += kServerLineBytes) {
      std::size_t length = got > at ? std::min<std::size_t>(got - at, kServerLineChars) : 0;
      std::size_t i = (start + at) / kServerLineBytes;
      int parsed = parseServerLine(length ? std::string_view(bytes + at, length) : std::string_view(), &recs[i]);
      results[i] = parsed == kServerLineUnknownType ? -1 : 0;
      if (parsed == kServerLineUnknownType)
        std::printf("ReadServerFile: Unknown data type %d reading rec %d\n", static_cast<int>(recs[i].DataType),
                    first + static_cast<int>(i));
    }
  };
  ssize_t got;
  {
    std::optional<posix::ScopedLock> shared;
    if (lock) shared.emplace(fileno(fp), posix::LockKind::kShared, *lock);
    got = ReadInBatches(fileno(fp), RecordOffset(first), count * kServerLineBytes - 1, parse);
  }
  if (got < 0) {
    // Nothing of a file that cannot be read is taken: every slot reads empty.
    for (std::size_t i = 0; i < count; ++i) parse(nullptr, 0, i * kServerLineBytes);
  }
  return 0;
}

}  // namespace

int checkServerFileShape(std::FILE *fp, std::string &why) {
  posix::ScopedLock lock(fileno(fp), posix::LockKind::kShared, kReadNotes);
  return CheckShape(fp, why);
}

int checkServerFileShape(const ServerFileWriteLock &, std::FILE *fp, std::string &why) { return CheckShape(fp, why); }

std::FILE *OpenServerFile(const char *fname) {
  std::FILE *fp = openServerFileQuietly(fname);
  if (!fp) std::printf("Fail to open Varnek II server file.\n");
  return fp;
}

int ReadServerFile(int recPointer, ServerRec *rec, std::FILE *fp) {
  int result = 0;
  return readServerRecords(recPointer, recPointer, rec, &result, fp) == 0 ? result : -1;
}

int readServerRecords(int first, int last, ServerRec *recs, int *results, std::FILE *fp) {
  return ReadRecords(first, last, recs, results, fp, &kReadNotes);
}

int readServerRecords(const ServerFileWriteLock &, int first, int last, ServerRec *recs, int *results,
                      std::FILE *fp) {
  return ReadRecords(first, last, recs, results, fp, nullptr);
}

namespace {

// Formats `rec` for line `recPointer`; false after the writer's message when
// it cannot be written.
bool FormatForWrite(int recPointer, const ServerRec &rec, char (&line)[kServerLineChars]) {
  if (rec.DataType < AREA || rec.DataType > TEXT) {
    std::printf("WriteServerFile: Unknown data type %d.\n", static_cast<int>(rec.DataType));
    return false;
  }
  std::string why;
  if (formatServerLine(rec, line, why) != 0) {
    std::printf("WriteServerFile: %s; record %d not written.\n", why.c_str(), recPointer);
    return false;
  }
  return true;
}

// Writes a formatted line over line `recPointer` of the file, the caller
// holding the exclusive lock, whose `feed` is the byte that ends the line
// in the file now.  The line must still be where every record is looked
// for: its line feed in place (a file cut short or shifted has none there).
int WriteLineLocked(int fd, int recPointer, const char (&line)[kServerLineChars], int feed) {
  if (feed != '\n') {
    Tveprintf("WriteServerFile: the availability file is damaged (line %d does not end in a line feed); record %d "
              "not written; run VKS INSTALL to make a new one.\n",
              recPointer, recPointer);
    return kServerNotStored;
  }
  if (!posix::WriteAt(fd, RecordOffset(recPointer), line, sizeof line)) {
    Tveprintf("WriteServerFile: Cannot write rec %d: %s\n", recPointer, posix::ErrorText(errno).c_str());
    return kServerNotStored;
  }
  return 0;
}

}  // namespace

int WriteServerFile(int recPointer, const ServerRec *rec, std::FILE *fp) {
  if (!ValidRecordNumber(recPointer) || !fp) {
    std::printf("WriteServerFile: Invalid record number %d\n", recPointer);
    return -1;
  }
  char line[kServerLineChars];
  if (!FormatForWrite(recPointer, *rec, line)) return -1;
  posix::ScopedLock lock(fileno(fp), posix::LockKind::kExclusive, kWriteNotes);
  char feed = 0;
  if (posix::ReadAt(fileno(fp), RecordOffset(recPointer) + kServerLineChars, &feed, 1) != 1) feed = 0;
  return WriteLineLocked(fileno(fp), recPointer, line, feed);
}

// As posix::ScopedLock: released also when it was not granted, errno kept
// for the caller's report.
ServerFileWriteLock::ServerFileWriteLock(std::FILE *fp) : fd_(fp ? fileno(fp) : -1) {
  if (fd_ >= 0 && posix::LockWholeFile(fd_, posix::LockKind::kExclusive) != 0) std::printf("%s\n", kWriteNotes.lock_failed);
}

ServerFileWriteLock::~ServerFileWriteLock() {
  if (fd_ < 0) return;
  int saved = errno;
  if (posix::UnlockWholeFile(fd_) != 0) std::printf("%s\n", kWriteNotes.unlock_failed);
  errno = saved;
}

int rewriteServerRecord(int recPointer, std::FILE *fp, const std::function<bool(ServerRec &)> &change) {
  if (!ValidRecordNumber(recPointer) || !fp) {
    std::printf("WriteServerFile: Invalid record number %d\n", recPointer);
    return -1;
  }
  // One exclusive lock from the read to the write: no other writer's
  // change to the record can come in between and be lost.
  posix::ScopedLock lock(fileno(fp), posix::LockKind::kExclusive, kWriteNotes);
  char bytes[kServerLineBytes];
  ssize_t got = posix::ReadAt(fileno(fp), RecordOffset(recPointer), bytes, sizeof bytes);
  std::size_t length = got > 0 ? std::min<std::size_t>(static_cast<std::size_t>(got), kServerLineChars) : 0;
  ServerRec rec;
  if (parseServerLine(std::string_view(bytes, length), &rec) == kServerLineUnknownType) {
    std::printf("ReadServerFile: Unknown data type %d reading rec %d\n", static_cast<int>(rec.DataType), recPointer);
    return -1;
  }
  if (!change(rec)) return 0;
  char line[kServerLineChars];
  if (!FormatForWrite(recPointer, rec, line)) return -1;
  int feed = got == static_cast<ssize_t>(sizeof bytes) ? bytes[kServerLineChars] : 0;
  return WriteLineLocked(fileno(fp), recPointer, line, feed);
}

int WriteServerFile(const ServerFileWriteLock &, int recPointer, const ServerRec *rec, std::FILE *fp,
                    char (*written)[kServerLineChars]) {
  if (!ValidRecordNumber(recPointer) || !fp) {
    std::printf("WriteServerFile: Invalid record number %d\n", recPointer);
    return -1;
  }
  char line[kServerLineChars];
  if (!FormatForWrite(recPointer, *rec, line)) return -1;
  int rc = WriteLineLocked(fileno(fp), recPointer, line, '\n');
  if (rc == 0 && written) std::memcpy(*written, line, sizeof line);
  return rc;
}
