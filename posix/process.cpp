// Child processes: fork, exec, wait, the relay of terminal signals to a
// child, the shell, and probing and signalling other processes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <string>

#include "posix/posix.h"

extern char **environ;

namespace posix {
namespace {

constexpr int kRelayedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kRelayed = sizeof kRelayedSignals / sizeof kRelayedSignals[0];

volatile sig_atomic_t g_relay_child = 0;
volatile sig_atomic_t g_relay_pending = 0;
// The first terminating signal received while a relay was in place.
volatile sig_atomic_t g_terminating = 0;
struct sigaction g_relay_saved[kRelayed];

void Relay(int sig) {
  if (g_terminating == 0) g_terminating = sig;
  pid_t child = g_relay_child;
  if (child > 0) ::kill(child, sig);
  else g_relay_pending = sig;
}

void RestoreHandlers() {
  for (int i = 0; i < kRelayed; ++i) ::sigaction(kRelayedSignals[i], &g_relay_saved[i], nullptr);
}

}  // namespace

pid_t Fork() {
  std::fflush(nullptr);
  if (Fails(Op::kFork)) return -1;
  return ::fork();
}

int WaitChild(pid_t child, int *status) {
  int ignored = 0;
  pid_t r;
  do {
    r = ::waitpid(child, status ? status : &ignored, 0);
  } while (r < 0 && errno == EINTR);
  return r == child ? 0 : -1;
}

void ExecChild(const char *path, char *const argv[]) {
  ::execv(path, argv);
  ::_exit(127);
}

SignalRelay::SignalRelay() {
  g_relay_child = 0;
  g_relay_pending = 0;
  struct sigaction pass = {};
  pass.sa_handler = Relay;
  sigemptyset(&pass.sa_mask);
  for (int i = 0; i < kRelayed; ++i) ::sigaction(kRelayedSignals[i], &pass, &g_relay_saved[i]);
}

SignalRelay::~SignalRelay() {
  g_relay_child = 0;
  if (!restored_) RestoreHandlers();
}

void SignalRelay::Target(pid_t child) {
  g_relay_child = child;
  int pending = g_relay_pending;
  if (pending && child > 0) {
    g_relay_pending = 0;
    ::kill(child, pending);
  }
}

void SignalRelay::RestoreInChild() {
  RestoreHandlers();
  restored_ = true;
}

namespace {

// Starts `path` with `argv` (and this process's environment) without
// copying this process: posix_spawn shares the memory until the exec, so a
// start costs the same however large the caller has grown, and the caller
// takes no copy-on-write faults afterwards.  The relayed signals are back
// at their default in the child; `actions` may name descriptor changes.
// The child's pid, or -1 with errno set.  A failed exec shows as exit
// status 127.
pid_t Spawn(const char *path, char *const argv[], const posix_spawn_file_actions_t *actions,
            bool own_group = false) {
  std::fflush(nullptr);
  if (g_terminating != 0) {  // the run is ending: nothing further starts
    errno = EINTR;
    return -1;
  }
  if (Fails(Op::kFork)) return -1;
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigemptyset(&none);
  for (int sig : kRelayedSignals) sigaddset(&defaults, sig);
  // A caller may ignore SIGPIPE (a library of it, say); a host command
  // starts with it at its default all the same.
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (own_group) flags |= POSIX_SPAWN_SETPGROUP;  // a group of its own, pgid = its pid
  posix_spawnattr_setflags(&attributes, flags);
  if (own_group) posix_spawnattr_setpgroup(&attributes, 0);
  pid_t child = -1;
  int rc = posix_spawn(&child, path, actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (rc == 0) return child;
  // The exec itself failed (no such file, not executable): the caller sees
  // it as a child that ended with 127, as after fork and exec.
  if (rc == ENOENT || rc == EACCES || rc == ENOEXEC || rc == ENOTDIR || rc == ELOOP || rc == ENAMETOOLONG) {
    errno = rc;
    return 0;
  }
  errno = rc;
  return -1;
}

}  // namespace

int RunAndWait(const char *path, char *const argv[], int *wait_status) {
  SignalRelay relay;
  pid_t child = Spawn(path, argv, nullptr);
  if (child < 0) return -1;
  if (child == 0) {  // never started: as a child that could not exec
    if (wait_status) *wait_status = 127 << 8;
    return 0;
  }
  relay.Target(child);
  return WaitChild(child, wait_status);
}

int RunWithLimit(const char *path, char *const argv[], int seconds, int *wait_status) {
  SignalRelay relay;
  // In a process group of its own, so that the limit also ends what the
  // program started (a transfer it runs would otherwise hang on).
  pid_t child = Spawn(path, argv, nullptr, true);
  if (child < 0) return -1;
  if (child == 0) {
    if (wait_status) *wait_status = 127 << 8;
    return 0;
  }
  relay.Target(child);
  // The kernel tells when the child ends: a descriptor of the process that
  // turns readable then, waited on with the time left (a relayed signal
  // interrupts the wait, which then goes on).  A kernel without it (before
  // Linux 5.3) leaves a look every 10 ms.
  const int ends = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(child, &status, WNOHANG);
    if (r == child) {
      if (ends >= 0) ::close(ends);
      if (wait_status) *wait_status = status;
      return 0;
    }
    if (r < 0 && errno != EINTR) {
      if (ends >= 0) ::close(ends);
      return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (ends >= 0) ::close(ends);
      ::kill(-child, SIGKILL);
      (void)WaitChild(child, nullptr);
      return 1;
    }
    if (ends >= 0) {
      pollfd p = {ends, POLLIN, 0};
      (void)::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left.count() + 1, 60 * 60 * 1000)));
    } else {
      struct timespec pause = {0, 10 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }
}

pid_t StartDetached(const char *path, char *const argv[]) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = Spawn(path, argv, &actions);
  int error = errno;
  posix_spawn_file_actions_destroy(&actions);
  errno = error;
  return child;
}

int RunShell(const char *command) {
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
  int status = 0;
  if (RunAndWait("/bin/sh", argv, &status) != 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

ChildOutput::~ChildOutput() { (void)Finish(); }

int ChildOutput::Start(const char *path, char *const argv[], bool discard_errors) {
  (void)Finish();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);  // the duplicate does not inherit close-on-exec
  if (discard_errors) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = Spawn(path, argv, &actions);
  int error = errno;
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (child < 0) {
    ::close(ends[0]);
    errno = error;
    return -1;
  }
  fd_ = ends[0];
  pid_ = child;  // 0: the program could not be executed
  return 0;
}

ssize_t ChildOutput::Read(void *data, std::size_t size) {
  if (fd_ < 0) return 0;
  if (Fails(Op::kRead)) return -1;
  ssize_t n;
  do {
    n = ::read(fd_, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool ChildOutput::WaitForOutput(int timeout_ms) {
  if (fd_ < 0) return false;
  struct pollfd wanted = {fd_, POLLIN, 0};
  return ::poll(&wanted, 1, timeout_ms < 0 ? 0 : timeout_ms) == 1;
}

int ChildOutput::Finish() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pid_ < 0) return 0;
  pid_t child = pid_;
  pid_ = -1;
  if (child == 0) return 127;
  int wait_status = 0;
  if (WaitChild(child, &wait_status) != 0) return -1;
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : -1;
}

int RunAndRead(const char *command, std::size_t max_bytes, int stop_after_lines, std::string &out, int *status) {
  out.clear();
  SignalRelay relay;
  ChildOutput child;
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
  if (child.Start("/bin/sh", argv, false) != 0) return -1;
  relay.Target(child.pid());
  int lines = 0;
  char buffer[512];
  while (out.size() < max_bytes && (stop_after_lines <= 0 || lines < stop_after_lines)) {
    ssize_t n = child.Read(buffer, std::min(sizeof buffer, max_bytes - out.size()));
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] == '\n') ++lines;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  int exit_status = child.Finish();
  if (status) *status = exit_status;
  return exit_status < 0 ? -1 : 0;
}

int TerminationSignal() { return g_terminating; }

bool EndWithParent(pid_t parent) {
  (void)::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The parent may have ended before the request was made: then no signal
  // will come, and the caller is told instead.
  return ::getppid() == parent;
}

bool ProcessExists(pid_t pid) {
  if (pid <= 0 || pid == ::getpid()) {
    errno = ESRCH;
    return false;
  }
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

int SignalProcess(pid_t pid, int sig) {
  if (pid <= 0 || pid == ::getpid()) {
    errno = EINVAL;
    return -1;
  }
  return ::kill(pid, sig);
}

}  // namespace posix
