// The one POSIX layer of the system: files, whole-file locks and child
// processes.  Every open, lock, fork and exec of the programs goes through
// here, so there is one place to review them and one place where a test can
// make them fail.
//
//   Files       File is an owned descriptor, closed on every path; its
//               Close() still returns the close's status.  OpenExisting,
//               OpenRegular (never blocks on a FIFO or device; refuses what
//               is not a regular file) and CreateTruncate open; ReadAt and
//               WriteAt move whole byte ranges, retrying after signals;
//               ReplaceFile writes a whole file under a temporary name in
//               the same directory and renames it into place, so the name
//               holds either the old file or the complete new one.
//               MakeDirectory, MakeTemporaryDirectory and RemoveDirectory
//               make and remove directories.
//   Locks       LockWholeFile / UnlockWholeFile take and release the
//               operating system's advisory record lock over the whole file
//               (waiting until it is granted).  ScopedLock holds one for a
//               scope: lock, do the I/O, and the lock is released on every
//               path, with the caller's messages when a call fails.
//   Processes   Fork, WaitChild, ExecChild, RunAndWait (start a program and
//               wait for it, passing terminal signals on) and RunShell.
//               ProcessExists and SignalProcess never touch a process
//               number of 0 or below, nor the caller's own.
//
// Results: functions that open or create return 0 or the errno value of the
// failure; the others say so at their declaration.  Nothing here prints,
// except ScopedLock, which prints exactly the messages it is given.
//
// Fault seam.  In builds made with VARNEK_FAULT_SEAM (the test builds), a
// failure can be injected for the next calls of one kind of operation,
// either in-process (InjectFault) or for a whole program run through the
// environment variable VARNEK_FAULTS, read at the first call:
//
//   VARNEK_FAULTS=<kind>[/<skip>]:<count>[:<errno name>][,...]
//
// lets `skip` calls of the kind pass, then makes the next `count` fail with
// the errno (default EIO; ENOLCK for locks).  Kinds: create, open, read,
// write, sync, lock, rename, fork, openw (an open or create asking for
// write access).  Example: VARNEK_FAULTS=write:1:ENOSPC.  The same builds
// let VARNEK_WAIT_MS=<milliseconds> shorten the limits of network waits
// (WaitLimitMs), so that a test of a silent server takes a moment.

#ifndef VARNEK_POSIX_POSIX_H
#define VARNEK_POSIX_POSIX_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace posix {

// ---------------------------------------------------------------------------
// Fault seam.

// kOpenWrite: every open or create that asks for write access (tests of
// readers that must work on files the user may only read).
enum class Op : int { kCreate, kOpen, kRead, kWrite, kSync, kLock, kRename, kFork, kOpenWrite, kCount };

// Makes the next `count` calls of `op` fail with `error`, after letting
// `skip` calls pass.  Replaces what was injected for `op` before.  Does
// nothing in builds without the seam.
void InjectFault(Op op, int count, int error, int skip = 0);

// Removes every injected failure (those of VARNEK_FAULTS too).
void ClearFaults();

// Whether this call of `op` is to fail; when it is, errno is set.  Always
// false in builds without the seam.
[[nodiscard]] bool Fails(Op op);

// A limit of a network wait: `normal`, or in builds with the seam the
// milliseconds VARNEK_WAIT_MS gives (whole digits, at most six) when they
// are fewer.
[[nodiscard]] int WaitLimitMs(int normal);

// ---------------------------------------------------------------------------
// Files.

// Makes sure descriptors 0, 1 and 2 are open, opening /dev/null on each that
// is closed.  Run first thing in every program: a file opened while one of
// them is closed would take its number, and the program's output would go
// into that file.  0, or the errno value when /dev/null cannot be opened.
[[nodiscard]] int EnsureStandardDescriptors();

// The errno-style value OpenRegular gives for a path that is not a regular
// file (a directory, FIFO, device or socket).
inline constexpr int kNotRegularFile = 100001;

// A text for an errno value or kNotRegularFile, as strerror gives it.
std::string ErrorText(int error);

// An owned file descriptor.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  ~File();
  File(File &&other) noexcept : fd_(other.Release()) {}
  File &operator=(File &&other) noexcept;
  File(const File &) = delete;
  File &operator=(const File &) = delete;

  int fd() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }

  // Closes the descriptor: 0, or the errno value of a failed close (the
  // descriptor is gone either way).  0 when nothing is open.
  [[nodiscard]] int Close();

  // Gives up ownership and returns the descriptor.
  int Release();

 private:
  int fd_ = -1;
};

// Opens an existing file (never creates one) with `flags` (O_RDONLY or
// O_RDWR; close-on-exec is always added).  0 or an errno value.
[[nodiscard]] int OpenExisting(const char *path, int flags, File &file);

// Opens an existing file without ever waiting on a FIFO or device (and
// without making a terminal the controlling one), but without checking its
// type, which costs a system call: for a path opened on every entry of a
// log, whose contents are checked before anything is written.  0 or errno.
[[nodiscard]] int OpenExistingNoWait(const char *path, int flags, File &file);

// Opens an existing regular file without ever blocking: the open does not
// wait on a FIFO or device, and anything that is not a regular file is
// refused with kNotRegularFile.  0 or an errno value.
[[nodiscard]] int OpenRegular(const char *path, int flags, File &file);

// OpenRegular as an unbuffered stdio stream, for files of fixed-size records
// read and written with ReadAt / WriteAt on its descriptor (unbuffered, so
// the stream never hands on bytes another process has rewritten since).
// The stream, or null with `*error` (when given) set.
[[nodiscard]] std::FILE *OpenRegularStream(const char *path, bool writable, int *error = nullptr);

// A buffered stdio stream that writes to a duplicate of `fd` (closing the
// stream leaves `fd` open), for filling a ReplaceFile temporary file with
// formatted text.  The stream, or null with errno set.
[[nodiscard]] std::FILE *WriteStreamOn(int fd);

// Creates `path`, or truncates it when it exists, for writing (mode 0666
// before the umask for a new file).  For files a user names.  0 or errno.
[[nodiscard]] int CreateTruncate(const char *path, File &file);

// Creates `path`, which must not exist yet, for reading and writing with
// `mode` before the umask.  0 or errno (EEXIST when it exists).
[[nodiscard]] int CreateNew(const char *path, mode_t mode, File &file);

// Reads `size` bytes at `offset`; returns the bytes read (fewer at the end
// of the file) or -1 with errno set.  Retries after signals.
[[nodiscard]] ssize_t ReadAt(int fd, std::int64_t offset, void *data, std::size_t size);

// Reads up to `size` bytes from the current position; the bytes read (fewer
// at the end of the file), or -1 with errno set.
[[nodiscard]] ssize_t ReadSome(int fd, void *data, std::size_t size);

// Writes every byte of `data` at `offset` / at the current position.  false
// with errno set when any byte could not be written.
[[nodiscard]] bool WriteAt(int fd, std::int64_t offset, const void *data, std::size_t size);
[[nodiscard]] bool WriteAll(int fd, const void *data, std::size_t size);

// Sets the file's size (the new bytes read as zero).  false with errno set.
[[nodiscard]] bool Resize(int fd, std::int64_t size);

// Makes the file's data durable.  false with errno set.
[[nodiscard]] bool Sync(int fd);

// Sets the file's permission bits to exactly `mode` (the umask does not
// apply).  false with errno set.
[[nodiscard]] bool SetMode(int fd, mode_t mode);

// Directories (not part of the fault seam).  MakeDirectory creates `path`
// with `mode` before the umask: 0 or errno (EEXIST when the name exists).
// MakeTemporaryDirectory creates a new directory, mode 0700, from
// `pattern`, a path ending in "XXXXXX" that becomes the name made: 0 or
// errno.  RemoveDirectory removes an empty directory: 0 or errno.
[[nodiscard]] int MakeDirectory(const char *path, mode_t mode);
[[nodiscard]] int MakeTemporaryDirectory(std::string &pattern);
[[nodiscard]] int RemoveDirectory(const char *path);

// What ReplaceFile does when `path` is a symbolic link.
enum class Links {
  kFollow,   // replace the file the link names (record files an operator
             // may have linked on purpose)
  kReplace,  // replace the link itself: a file the program generates for
             // itself is never written through a link someone planted
};

// Writes a whole file: `write` fills a new file created under a temporary
// name ".<name>.new.<pid>" beside `path` (it returns false, with errno set,
// when it fails); the file is then made durable and renamed to `path`.  A
// `path` that is a symbolic link is resolved (kFollow), so the file it
// points to is replaced, or replaced itself (kReplace).  The new file gets
// the permission bits of the regular file it replaces, or `mode` before the
// umask when there is none, before `write` runs (bits `write` sets stay).  Temporary files of the same name left by
// processes that no longer exist are removed first.  0, or the errno value
// of the step that failed; the temporary file never stays behind, and
// `path` then still holds what it held before.  `failed`, when given,
// receives the kind of the step that failed: kCreate (the temporary file),
// kWrite (`write`), kSync or kRename.
[[nodiscard]] int ReplaceFile(const char *path, mode_t mode, const std::function<bool(int fd)> &write,
                              Op *failed = nullptr, Links links = Links::kFollow);

// Opens an existing regular file as OpenRegular does, but never through a
// symbolic link: a link gives ELOOP.  0 or an errno value.
[[nodiscard]] int OpenRegularNoFollow(const char *path, int flags, File &file);

// Whether `path` names the file open on `fd` now (same device and inode; a
// link at `path` is not followed).
[[nodiscard]] bool IsFileAt(int fd, const char *path);

// Creates `path` holding `content`, already locked (an exclusive whole-file
// lock that `file` keeps): the file is written under a temporary name,
// locked, and then linked to `path`, so no other process ever sees it
// unlocked or empty.  0; EEXIST when `path` exists (nothing is changed);
// or the errno value of the step that failed.
[[nodiscard]] int CreateLockedFile(const char *path, mode_t mode, const std::string &content, File &file);

// Renames / hard-links `from` to `to` (a link fails when `to` exists).
// 0 or errno.
[[nodiscard]] int Rename(const char *from, const char *to);
[[nodiscard]] int Link(const char *from, const char *to);

// Removes a file; 0 or errno.
int Unlink(const char *path);

// ---------------------------------------------------------------------------
// Whole-file locks (advisory record locks over the whole file, including
// bytes appended later).  They belong to the process and vanish when any of
// its descriptors of the file is closed: keep one descriptor per file.

enum class LockKind { kShared, kExclusive };

// Takes the lock, waiting until it is granted (retrying after signals).
// 0, or -1 with errno set.
[[nodiscard]] int LockWholeFile(int fd, LockKind kind);

// Releases the process's lock on the file.  0, or -1 with errno set.
[[nodiscard]] int UnlockWholeFile(int fd);

// Takes the lock if no other process holds a conflicting one, without
// waiting.  0; -1 with errno EAGAIN or EACCES when another process holds
// one; -1 with another errno when the call failed.
[[nodiscard]] int TryLockWholeFile(int fd, LockKind kind);

// The process that holds a lock on the file that an exclusive lock of this
// process would conflict with, as the kernel reports it: its pid (0 when
// the holder is in a PID namespace this process cannot see), kNoHolder
// when no other process holds one, or -1 with errno set.  The caller's own
// locks are never reported.
inline constexpr pid_t kNoHolder = -2;
[[nodiscard]] pid_t WholeFileLockHolder(int fd);

// Lines printed (with a newline, on standard output) when taking or
// releasing a lock fails; null prints nothing.
struct LockNotes {
  const char *lock_failed = nullptr;
  const char *unlock_failed = nullptr;
};

// Holds a whole-file lock for its scope.  The I/O of the scope runs whether
// or not the lock was granted (the records' contract: a lock failure is
// reported and the operation still happens); the lock is released when the
// scope ends.
class ScopedLock {
 public:
  ScopedLock(int fd, LockKind kind, LockNotes notes = {});
  ~ScopedLock();
  ScopedLock(const ScopedLock &) = delete;
  ScopedLock &operator=(const ScopedLock &) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_;
  LockNotes notes_;
};

// ---------------------------------------------------------------------------
// Processes.

// Flushes stdio (so buffered output is not written twice) and forks.  The
// child's pid, 0 in the child, or -1 with errno set.
[[nodiscard]] pid_t Fork();

// Waits for `child`, retrying after signals; its wait status in *status.
// 0, or -1 with errno set.
[[nodiscard]] int WaitChild(pid_t child, int *status);

// In a child after Fork: executes `path` with `argv`; when that fails the
// child ends with status 127.
[[noreturn]] void ExecChild(const char *path, char *const argv[]);

// Passes hang-up, interrupt, quit and terminate signals received by this
// process on to a child while it is alive: construct before forking, call
// Target in the parent once the child's pid is known (a signal received in
// between is passed on then), call RestoreInChild in the child.  The
// previous handlers come back when the relay is destroyed.  One relay at a
// time.
class SignalRelay {
 public:
  SignalRelay();
  ~SignalRelay();
  SignalRelay(const SignalRelay &) = delete;
  SignalRelay &operator=(const SignalRelay &) = delete;
  void Target(pid_t child);
  void RestoreInChild();

 private:
  bool restored_ = false;
};

// Starts `path` with `argv`, waits for it while passing terminal signals on
// to it; its wait status in *wait_status.  0, or -1 with errno set when it
// could not be started (a failed exec shows as exit status 127).
[[nodiscard]] int RunAndWait(const char *path, char *const argv[], int *wait_status);

// RunAndWait with a time limit: a program that has not ended after
// `seconds` is killed (SIGKILL), together with the processes it started
// (it runs in a process group of its own).  The wait is the kernel's (a
// process descriptor that turns readable when the program ends), not a
// look every few milliseconds.  0 with its wait status in *wait_status;
// 1 when it was killed for the limit; -1 with errno set when it could not
// be started.
[[nodiscard]] int RunWithLimit(const char *path, char *const argv[], int seconds, int *wait_status);

// Starts `path` with `argv` and does not wait for it: it reads and writes
// /dev/null, writes its errors to this process's error stream, and runs on
// after this process ends (it is reaped then: for a caller about to end).
// Its pid; 0 when the program could not be executed; -1 with errno set
// when it could not be started.
[[nodiscard]] pid_t StartDetached(const char *path, char *const argv[]);

// Runs a command line through /bin/sh and waits for it.  The shell's exit
// status, 128 + the signal for a command killed by one, or -1 when the
// shell could not be started.
[[nodiscard]] int RunShell(const char *command);

// A child program whose standard output is read through a pipe, as it
// comes.  Start it, Read its output, Finish (close the pipe, wait).  A child
// still running when the object goes away is finished then (closing the
// pipe ends a child that would write on: it gets SIGPIPE).
class ChildOutput {
 public:
  ChildOutput() = default;
  ~ChildOutput();
  ChildOutput(const ChildOutput &) = delete;
  ChildOutput &operator=(const ChildOutput &) = delete;

  // Starts `path` with `argv`; its standard error goes to /dev/null when
  // `discard_errors`.  0, or -1 with errno set (a program that cannot be
  // executed starts and ends with status 127).
  [[nodiscard]] int Start(const char *path, char *const argv[], bool discard_errors);

  // Reads what the output holds now, up to `size` bytes (waiting for some
  // when there is none yet): the bytes read, 0 at the end, -1 with errno
  // set.
  [[nodiscard]] ssize_t Read(void *data, std::size_t size);

  // Waits up to `timeout_ms` for output (or its end) to read: true when a
  // Read would not wait.  A signal ends the wait early (false).
  [[nodiscard]] bool WaitForOutput(int timeout_ms);

  // Closes the pipe and waits: the exit status as RunShell gives it, or -1.
  // 0 when nothing runs.
  int Finish();

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// Runs a command line through /bin/sh with its standard output on a pipe,
// reads at most `max_bytes` of that output into `out` (stopping early once
// `stop_after_lines` line feeds have arrived, when that is above 0), then
// closes the pipe and waits for the command.  Its exit status (as RunShell
// gives it) in *status.  0, or -1 with errno set when it could not be
// started.
[[nodiscard]] int RunAndRead(const char *command, std::size_t max_bytes, int stop_after_lines, std::string &out,
                             int *status);

// Terminating signals.  While a relay waits for a child, a hang-up,
// interrupt, quit or terminate signal is passed on to the child and also
// remembered: from then on nothing further is started (Spawn refuses,
// errno EINTR), and the caller ends its run with 128 + the signal.  (At any
// other time those signals have their default effect and end the process
// at once.)  The signal remembered, or 0.
[[nodiscard]] int TerminationSignal();

// Asks the kernel to send this process SIGTERM when the process `parent`
// ends.  false when `parent` has ended already (the caller then ends).
[[nodiscard]] bool EndWithParent(pid_t parent);

// Whether process `pid` exists (probe with signal 0).  Always false for a
// pid of 0 or below and for the caller's own pid.  errno tells why not.
[[nodiscard]] bool ProcessExists(pid_t pid);

// Sends `sig` to process `pid`.  -1 with errno EINVAL, and nothing sent, for
// a pid of 0 or below or the caller's own pid; else 0 or -1 with errno.
[[nodiscard]] int SignalProcess(pid_t pid, int sig);

}  // namespace posix

#endif  // VARNEK_POSIX_POSIX_H
