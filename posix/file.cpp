// Files: owned descriptors, opening and creating, positioned I/O, and
// whole-file replacement through a temporary name.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "posix/posix.h"

namespace posix {

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "Not a regular file";
  return std::strerror(error);
}

int EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is `fd` itself: the ones below it are open.
    int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return errno;
    if (opened != fd) {
      ::close(opened);
      return EBADF;
    }
  }
  return 0;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File &File::operator=(File &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int File::Close() {
  if (fd_ < 0) return 0;
  int fd = fd_;
  fd_ = -1;
  // A close interrupted by a signal has still released the descriptor
  // on Linux: never close twice.
  return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

int File::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

namespace {

int OpenWith(const char *path, int flags, mode_t mode, Op op, File &file) {
  file = File();
  if (!path || !*path) return ENOENT;
  if (Fails(op)) return errno;
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0 && Fails(Op::kOpenWrite)) return errno;
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  file = File(fd);
  return 0;
}

// The directory part of `path` ("." for a bare name), with a final "/".
std::string DirectoryOf(const std::string &path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

int OpenExisting(const char *path, int flags, File &file) { return OpenWith(path, flags, 0, Op::kOpen, file); }

int OpenExistingNoWait(const char *path, int flags, File &file) {
  return OpenWith(path, flags | O_NONBLOCK | O_NOCTTY, 0, Op::kOpen, file);
}

namespace {

int OpenRegularWith(const char *path, int flags, File &file) {
  int rc = OpenWith(path, flags | O_NONBLOCK | O_NOCTTY, 0, Op::kOpen, file);
  if (rc != 0) return rc;
  struct stat st;
  if (::fstat(file.fd(), &st) != 0) {
    int error = errno;
    file = File();
    return error;
  }
  if (!S_ISREG(st.st_mode)) {
    file = File();
    return kNotRegularFile;
  }
  // O_NONBLOCK stays set: it changes nothing for a regular file (reads and
  // writes of one never wait, and lock waits are not affected by it).
  return 0;
}

}  // namespace

int OpenRegular(const char *path, int flags, File &file) {
  return OpenRegularWith(path, flags, file);
}

int OpenRegularNoFollow(const char *path, int flags, File &file) {
  return OpenRegularWith(path, flags | O_NOFOLLOW, file);
}

bool IsFileAt(int fd, const char *path) {
  struct stat open_file, named;
  return ::fstat(fd, &open_file) == 0 && ::lstat(path, &named) == 0 && open_file.st_dev == named.st_dev &&
         open_file.st_ino == named.st_ino;
}

int CreateTruncate(const char *path, File &file) {
  return OpenWith(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0666, Op::kCreate, file);
}

int CreateNew(const char *path, mode_t mode, File &file) {
  return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, mode, Op::kCreate, file);
}

ssize_t ReadAt(int fd, std::int64_t offset, void *data, std::size_t size) {
  if (Fails(Op::kRead)) return -1;
  std::size_t done = 0;
  while (done < size) {
    ssize_t r = ::pread(fd, static_cast<char *>(data) + done, size - done, offset + static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

ssize_t ReadSome(int fd, void *data, std::size_t size) {
  if (Fails(Op::kRead)) return -1;
  std::size_t done = 0;
  while (done < size) {
    ssize_t r = ::read(fd, static_cast<char *>(data) + done, size - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

namespace {

// Writes every byte through `put` (a pwrite or write of the rest), retrying
// after signals; a call that writes nothing means the disk is full.
template <typename Put>
bool WriteEvery(std::size_t size, Put put) {
  if (Fails(Op::kWrite)) return false;
  std::size_t done = 0;
  while (done < size) {
    ssize_t r = put(done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace

bool WriteAt(int fd, std::int64_t offset, const void *data, std::size_t size) {
  return WriteEvery(size, [&](std::size_t done) {
    return ::pwrite(fd, static_cast<const char *>(data) + done, size - done, offset + static_cast<off_t>(done));
  });
}

bool WriteAll(int fd, const void *data, std::size_t size) {
  return WriteEvery(size, [&](std::size_t done) { return ::write(fd, static_cast<const char *>(data) + done, size - done); });
}

std::FILE *OpenRegularStream(const char *path, bool writable, int *error) {
  File file;
  int rc = OpenRegular(path, writable ? O_RDWR : O_RDONLY, file);
  std::FILE *fp = rc == 0 ? fdopen(file.fd(), writable ? "r+b" : "rb") : nullptr;
  if (!fp) {
    if (error) *error = rc ? rc : errno;
    return nullptr;
  }
  (void)file.Release();
  std::setvbuf(fp, nullptr, _IONBF, 0);
  return fp;
}

std::FILE *WriteStreamOn(int fd) {
  int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  std::FILE *stream = fdopen(copy, "w");
  if (!stream) {
    int error = errno;
    ::close(copy);
    errno = error;
  }
  return stream;
}

bool Resize(int fd, std::int64_t size) {
  if (Fails(Op::kWrite)) return false;
  int rc;
  do {
    rc = ::ftruncate(fd, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool Sync(int fd) {
  if (Fails(Op::kSync)) return false;
  return ::fsync(fd) == 0;
}

bool SetMode(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0; }

int MakeDirectory(const char *path, mode_t mode) { return ::mkdir(path, mode) == 0 ? 0 : errno; }

int MakeTemporaryDirectory(std::string &pattern) { return ::mkdtemp(pattern.data()) ? 0 : errno; }

int RemoveDirectory(const char *path) { return ::rmdir(path) == 0 ? 0 : errno; }

int Rename(const char *from, const char *to) {
  if (Fails(Op::kRename)) return errno;
  return ::rename(from, to) == 0 ? 0 : errno;
}

int Link(const char *from, const char *to) {
  if (Fails(Op::kRename)) return errno;
  return ::link(from, to) == 0 ? 0 : errno;
}

int Unlink(const char *path) { return ::unlink(path) == 0 ? 0 : errno; }

namespace {

// The temporary name beside `target` under which this process writes it.
// The start of the temporary names of `target`: ".<name>.new.".
std::string TemporaryPrefix(const std::string &target) {
  const std::string dir = DirectoryOf(target);
  std::string prefix = ".";
  prefix.append(target, dir.size(), std::string::npos);
  prefix.append(".new.");
  return prefix;
}

std::string TemporaryName(const std::string &target) {
  std::string name = DirectoryOf(target);
  name.append(TemporaryPrefix(target));
  name.append(std::to_string(::getpid()));
  return name;
}

// Removes the temporary files ".<name>.new.<pid>" of `target` that
// processes which no longer exist left behind (killed half way through a
// write); those of live processes are theirs.
void RemoveDeadTemporaries(const std::string &target) {
  const std::string dir = DirectoryOf(target);
  const std::string prefix = TemporaryPrefix(target);
  DIR *listing = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!listing) return;
  while (const struct dirent *entry = ::readdir(listing)) {
    std::string_view name = entry->d_name;
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    std::string_view digits = name.substr(prefix.size());
    pid_t pid = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (ec != std::errc() || end != digits.data() + digits.size() || pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno == EPERM) continue;  // its writer is alive
    (void)Unlink((dir + std::string(name)).c_str());
  }
  ::closedir(listing);
}

// Creates this process's temporary file for `target` (named in
// `temporary`), after removing those of dead writers.  0 or errno.
int CreateTemporary(const std::string &target, mode_t mode, std::string &temporary, File &file) {
  RemoveDeadTemporaries(target);
  temporary = TemporaryName(target);
  int rc = CreateNew(temporary.c_str(), mode, file);
  if (rc == EEXIST) {
    // Left behind by a process of the same number that was killed.
    (void)Unlink(temporary.c_str());
    rc = CreateNew(temporary.c_str(), mode, file);
  }
  return rc;
}

}  // namespace

int ReplaceFile(const char *path, mode_t mode, const std::function<bool(int fd)> &write, Op *failed, Links links) {
  Op ignored = Op::kCount;
  Op &step = failed ? *failed : ignored;
  step = Op::kCreate;
  if (!path || !*path) return ENOENT;
  std::string target = path;
  struct stat st;
  bool is_link = ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
  if (is_link && links == Links::kFollow) {
    // Replace the file the link names, in its own directory.
    char resolved[PATH_MAX];
    if (::realpath(path, resolved)) target = resolved;
  }
  bool keep_mode = !(is_link && links == Links::kReplace) && ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  mode_t kept = st.st_mode & 07777;

  std::string temporary;
  File file;
  if (int rc = CreateTemporary(target, mode, temporary, file); rc != 0) return rc;
  step = Op::kWrite;
  auto fail = [&](int error) {
    file = File();
    (void)Unlink(temporary.c_str());
    return error;
  };
  // The replaced file's permission bits first, so that what `write` sets
  // (a set-group-ID bit, say) stands.
  if (keep_mode && ::fchmod(file.fd(), kept) != 0) return fail(errno);
  if (!write(file.fd())) return fail(errno ? errno : EIO);
  step = Op::kSync;
  if (!Sync(file.fd())) return fail(errno);
  if (int close_rc = file.Close(); close_rc != 0) return fail(close_rc);
  step = Op::kRename;
  if (int rename_rc = Rename(temporary.c_str(), target.c_str()); rename_rc != 0) return fail(rename_rc);
  step = Op::kCount;
  return 0;
}

int CreateLockedFile(const char *path, mode_t mode, const std::string &content, File &file) {
  file = File();
  if (!path || !*path) return ENOENT;
  const std::string target = path;
  std::string temporary;
  File created;
  if (int rc = CreateTemporary(target, mode, temporary, created); rc != 0) return rc;
  // Locked and written before it has its name: a reader that finds the
  // name finds the lock and the content.
  int error = 0;
  if (TryLockWholeFile(created.fd(), LockKind::kExclusive) != 0 ||
      !WriteAll(created.fd(), content.data(), content.size()))
    error = errno ? errno : EIO;
  else
    error = Link(temporary.c_str(), target.c_str());
  (void)Unlink(temporary.c_str());
  if (error != 0) return error;
  file = std::move(created);
  return 0;
}

}  // namespace posix
