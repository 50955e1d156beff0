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
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DBase/DBase.h"
#include "RA/RA.h"
#include "server/server.h"

namespace {

off_t RecordOffset(int recPointer) { return static_cast<off_t>(recPointer - 1) * kServerLineBytes; }

bool ValidRecordNumber(int recPointer) { return recPointer >= 1 && recPointer <= kServerRecords; }

}  // namespace

int installServerFile(const char *fname) {
  std::vector<char> image(static_cast<std::size_t>(kServerRecords) * kServerLineBytes, kServerEmptySlotChar);
  for (int n = 1; n <= kServerRecords; ++n) image[static_cast<std::size_t>(n) * kServerLineBytes - 1] = '\n';
  int fd = open(fname, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  bool ok = RAWriteAt(fd, 0, image.data(), image.size());
  // The set-group-ID bit marks the file as the server's published table;
  // the other mode bits are kept.
  struct stat st;
  if (ok && fstat(fd, &st) == 0) (void)fchmod(fd, (st.st_mode & 07777) | S_ISGID);
  ok = (close(fd) == 0) && ok;
  return ok ? 0 : -1;
}

void initServerFile() {
  if (installServerFile(kServerFileName) != 0) {
    std::printf("Fail to init Varnek II server file, will exit.\n");
    std::fflush(stdout);
    std::exit(1);
  }
  std::printf("Varnek II Server Installed Successfully.\n");
}

std::FILE *OpenServerFile(const char *fname) {
  std::FILE *fp = fname ? std::fopen(fname, "r+e") : nullptr;
  if (!fp) {
    std::printf("Fail to open Varnek II server file.\n");
    return nullptr;
  }
  std::setvbuf(fp, nullptr, _IONBF, 0);
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
  if (setFileLock(fp, 'r') == -1) std::printf("ReadServerFile: Cannot lock file for read\n");
  ssize_t got = RAReadAt(fileno(fp), RecordOffset(first), lines.data(), count * kServerLineBytes - 1);
  if (setFileLock(fp, 'u') == -1) std::printf("ReadServerFile: Cannot unlock read lock\n");
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

int WriteServerFile(int recPointer, const ServerRec *rec, std::FILE *fp) {
  if (!ValidRecordNumber(recPointer) || !fp) {
    std::printf("WriteServerFile: Invalid record number %d\n", recPointer);
    return -1;
  }
  if (rec->DataType < AREA || rec->DataType > TEXT) {
    std::printf("WriteServerFile: Unknown data type %d.\n", static_cast<int>(rec->DataType));
    return -1;
  }
  char line[kServerLineChars];
  std::string why;
  if (formatServerLine(*rec, line, why) != 0) {
    std::printf("WriteServerFile: %s; record %d not written.\n", why.c_str(), recPointer);
    return -1;
  }
  if (setFileLock(fp, 'w') == -1) std::printf("WriteServerFile: Cannot lock file for write\n");
  bool written = RAWriteAt(fileno(fp), RecordOffset(recPointer), line, sizeof line);
  int saved_errno = errno;
  if (setFileLock(fp, 'u') == -1) std::printf("WriteServerFile: Cannot unlock write lock\n");
  if (!written) {
    std::printf("WriteServerFile: Cannot write rec %d: %s\n", recPointer, std::strerror(saved_errno));
    return -1;
  }
  return 0;
}
