#include "DBase/DBase.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

int setFileLock(std::FILE *fp, char lockType) {
  struct flock lock = {};
  switch (lockType) {
    case 'r': lock.l_type = F_RDLCK; break;
    case 'w': lock.l_type = F_WRLCK; break;
    case 'u': lock.l_type = F_UNLCK; break;
    default: return -1;
  }
  if (!fp) return -1;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, including bytes appended later
  int rc;
  do {
    rc = fcntl(fileno(fp), F_SETLKW, &lock);
  } while (rc == -1 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

int DBInit(const char *FileName, int SizeofRec, int NRecords) {
  return RAInit(FileName, 0, SizeofRec, NRecords);
}

int DBOpen(DBase *DB, const char *FileName, const char *LockFile) {
  return DB ? RAOpen(&DB->File, FileName, LockFile) : 1;
}

int DBRead(DBase *DB, int Rec, void *Data) {
  if (setFileLock(DB->File.fp, 'r') == -1) std::printf("DBRead: Cannot lock file for read\n");
  int rc = RAReadRec(&DB->File, Rec, Data);
  if (setFileLock(DB->File.fp, 'u') == -1) std::printf("DBRead: Cannot unlock read lock\n");
  return rc;
}

int DBWrite(DBase *DB, int Rec, const void *Data) {
  if (setFileLock(DB->File.fp, 'w') == -1) std::printf("DBWrite: Cannot lock file for write\n");
  int rc = RAWriteRec(&DB->File, Rec, Data);
  if (setFileLock(DB->File.fp, 'u') == -1) std::printf("DBWrite: Cannot unlock write lock\n");
  return rc;
}

int DBClose(DBase *DB) { return DB ? RAClose(&DB->File) : -1; }
