// Child processes: fork, exec, wait, the relay of terminal signals to a
// child, the shell, and probing and signalling other processes.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "posix/posix.h"

namespace posix {
namespace {

constexpr int kRelayedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
constexpr int kRelayed = sizeof kRelayedSignals / sizeof kRelayedSignals[0];

volatile sig_atomic_t g_relay_child = 0;
volatile sig_atomic_t g_relay_pending = 0;
struct sigaction g_relay_saved[kRelayed];

void Relay(int sig) {
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

int RunAndWait(const char *path, char *const argv[], int *wait_status) {
  SignalRelay relay;
  pid_t child = Fork();
  if (child == 0) {
    relay.RestoreInChild();
    ExecChild(path, argv);
  }
  if (child < 0) return -1;
  relay.Target(child);
  return WaitChild(child, wait_status);
}

int RunShell(const char *command) {
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
  int status = 0;
  if (RunAndWait("/bin/sh", argv, &status) != 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

int RunAndRead(const char *command, std::size_t max_bytes, int stop_after_lines, std::string &out, int *status) {
  out.clear();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
  SignalRelay relay;
  pid_t child = Fork();
  if (child == 0) {
    relay.RestoreInChild();
    ::dup2(ends[1], 1);  // the duplicate does not inherit close-on-exec
    char sh[] = "/bin/sh", dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
    ExecChild("/bin/sh", argv);
  }
  ::close(ends[1]);
  if (child < 0) {
    int error = errno;
    ::close(ends[0]);
    errno = error;
    return -1;
  }
  relay.Target(child);
  int lines = 0;
  char buffer[512];
  while (out.size() < max_bytes && (stop_after_lines <= 0 || lines < stop_after_lines)) {
    std::size_t want = std::min(sizeof buffer, max_bytes - out.size());
    ssize_t n = ::read(ends[0], buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] == '\n') ++lines;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  // Closing the pipe ends a command that would write on (it gets SIGPIPE).
  ::close(ends[0]);
  int wait_status = 0;
  if (WaitChild(child, &wait_status) != 0) return -1;
  if (status) {
    if (WIFEXITED(wait_status)) *status = WEXITSTATUS(wait_status);
    else *status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : -1;
  }
  return 0;
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
