// Processes and file lookup: the one place where the host runtime forks,
// executes and waits for host command programs.
//
// Calling sequence of RunHostProgram: the caller has found the program file;
// the session's stream settings are saved, stdio is flushed (so buffered
// output is not written twice), the child executes the file with
// argv {" ", text}, and the parent waits, passing hang-up, interrupt, quit
// and terminate on to the child, then restores the settings.

#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"
#include "host/internal.h"

namespace tv {
namespace {

volatile sig_atomic_t g_running_child = 0;

void PassOn(int sig) {
  pid_t child = g_running_child;
  if (child > 0) kill(child, sig);
}

constexpr int kPassedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

bool IsExecutableFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsExistingFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string FindOnPath(std::string_view program) {
  if (program.empty()) return "";
  std::string name(program);
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : "";
  const char *path = std::getenv("PATH");
  if (!path) path = "/usr/local/bin:/usr/bin:/bin";
  std::string found;
  EachDirectory(path, [&](const std::string &dir) {
    std::string candidate = dir + "/" + name;
    if (!IsExecutableFile(candidate)) return false;
    found = candidate;
    return true;
  });
  return found;
}

std::string FindHostFile(std::string_view name) {
  if (name.empty()) return "";
  std::string file(name);
  const char *found = Tvpathname(file.c_str());
  return found && IsExistingFile(found) ? std::string(found) : std::string();
}

int RunHostProgram(const std::string &path, const std::string &text) {
  SessionArea &session = Session();
  StreamSetting saved_streams[3];
  std::memcpy(saved_streams, session.streams, sizeof saved_streams);
  std::int32_t saved_check = session.keyword_check;
  std::int32_t saved_window = session.text_window;

  struct sigaction pass = {};
  pass.sa_handler = PassOn;
  sigemptyset(&pass.sa_mask);
  struct sigaction old[4];
  for (int i = 0; i < 4; ++i) sigaction(kPassedSignals[i], &pass, &old[i]);

  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    for (int i = 0; i < 4; ++i) sigaction(kPassedSignals[i], &old[i], nullptr);
    char blank[] = " ";
    char *child_argv[] = {blank, const_cast<char *>(text.c_str()), nullptr};
    execv(path.c_str(), child_argv);
    _exit(127);
  }
  int result = kTvKeyinFailed;
  if (child > 0) {
    g_running_child = child;
    int status = 0;
    pid_t r;
    do {
      r = waitpid(child, &status, 0);
    } while (r < 0 && errno == EINTR);
    g_running_child = 0;
    if (r == child && WIFEXITED(status) && WEXITSTATUS(status) != 127)
      result = WEXITSTATUS(status);
  }
  for (int i = 0; i < 4; ++i) sigaction(kPassedSignals[i], &old[i], nullptr);

  std::memcpy(session.streams, saved_streams, sizeof saved_streams);
  session.keyword_check = saved_check;
  session.text_window = saved_window;
  return result;
}

}  // namespace tv

void Tvsleep(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timeval wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_usec = (milliseconds % 1000) * 1000;
  // select without descriptors waits without consuming input; a signal
  // ends the wait early.
  select(0, nullptr, nullptr, nullptr, &wait);
}
