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

int checkServerFileShape(std::FILE *fp, std::string &why) {
  constexpr std::size_t kFileBytes = static_cast<std::size_t>(kServerRecords) * kServerLineBytes;
  std::vector<char> bytes(kFileBytes + 1);
  ssize_t got;
  {
    posix::ScopedLock lock(fileno(fp), posix::LockKind::kShared, kReadNotes);
    got = posix::ReadAt(fileno(fp), 0, bytes.data(), bytes.size());
  }
  char text[96];
  if (got != static_cast<ssize_t>(kFileBytes)) {
    if (got < 0) std::snprintf(text, sizeof text, "it cannot be read: %s", posix::ErrorText(errno).c_str());
    else if (got > static_cast<ssize_t>(kFileBytes)) std::snprintf(text, sizeof text, "it is longer than %zu bytes", kFileBytes);
    else std::snprintf(text, sizeof text, "it is %zd bytes long, not %zu", got, kFileBytes);
    why = text;
    return -1;
  }
  for (int n = 1; n <= kServerRecords; ++n) {
    if (bytes[static_cast<std::size_t>(n) * kServerLineBytes - 1] == '\n') continue;
    std::snprintf(text, sizeof text, "line %d does not end in a line feed", n);
    why = text;
    return -1;
  }
  return 0;
}

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
  if (!ValidRecordNumber(first) || !ValidRecordNumber(last) || last < first || !fp) {
    std::printf("ReadServerFile: Invalid record number %d\n", ValidRecordNumber(first) ? last : first);
    if (first <= last && last - first < kServerRecords)
      for (int n = first; n <= last; ++n) std::memset(&recs[n - first], 0, sizeof(ServerRec));
    return -1;
  }
  auto count = static_cast<std::size_t>(last - first + 1);
  std::vector<char> lines(count * kServerLineBytes);
  ssize_t got;
  {
    posix::ScopedLock lock(fileno(fp), posix::LockKind::kShared, kReadNotes);
    got = posix::ReadAt(fileno(fp), RecordOffset(first), lines.data(), count * kServerLineBytes - 1);
  }
  std::size_t available = got > 0 ? static_cast<std::size_t>(got) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    // Bytes that are not in the file end the line early (a short copy
    // reads as empty slots).
    std::size_t start = i * kServerLineBytes;
    std::size_t length = available > start ? std::min<std::size_t>(available - start, kServerLineChars) : 0;
    int n = first + static_cast<int>(i);
    int parsed = parseServerLine(std::string_view(lines.data() + start, length), &recs[i]);
    results[i] = parsed == kServerLineUnknownType ? -1 : 0;
    if (parsed == kServerLineUnknownType)
      std::printf("ReadServerFile: Unknown data type %d reading rec %d\n", static_cast<int>(recs[i].DataType), n);
  }
  return 0;
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
