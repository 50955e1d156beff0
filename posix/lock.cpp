// Whole-file advisory locks.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "posix/posix.h"

namespace posix {
namespace {

int SetLock(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, including bytes appended later
  int rc;
  do {
    rc = ::fcntl(fd, F_SETLKW, &lock);
  } while (rc == -1 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

void Note(const char *line) {
  if (line) std::printf("%s\n", line);
}

}  // namespace

int LockWholeFile(int fd, LockKind kind) {
  if (Fails(Op::kLock)) return -1;
  return SetLock(fd, kind == LockKind::kShared ? F_RDLCK : F_WRLCK);
}

int UnlockWholeFile(int fd) { return SetLock(fd, F_UNLCK); }

int TryLockWholeFile(int fd, LockKind kind) {
  if (Fails(Op::kLock)) return -1;
  struct flock lock = {};
  lock.l_type = kind == LockKind::kShared ? F_RDLCK : F_WRLCK;
  lock.l_whence = SEEK_SET;
  int rc;
  do {
    rc = ::fcntl(fd, F_SETLK, &lock);
  } while (rc == -1 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

pid_t WholeFileLockHolder(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_GETLK, &lock) != 0) return -1;
  return lock.l_type == F_UNLCK ? kNoHolder : lock.l_pid;
}

ScopedLock::ScopedLock(int fd, LockKind kind, LockNotes notes)
    : fd_(fd), held_(LockWholeFile(fd, kind) == 0), notes_(notes) {
  if (!held_) Note(notes_.lock_failed);
}

ScopedLock::~ScopedLock() {
  // Released also when it was not granted: the contract is lock, I/O,
  // unlock, with a message for each call that fails.  errno stays what the
  // I/O of the scope left, for the caller's report.
  int saved = errno;
  if (UnlockWholeFile(fd_) != 0) Note(notes_.unlock_failed);
  errno = saved;
}

}  // namespace posix
