// Host command programs: finding them on PATH and running them.
//
// Calling sequence of RunHostProgram: the caller has found the program file;
// the session's stream settings are saved, the child is started through the
// POSIX layer with argv {" ", text} (stdio is flushed first, terminal
// signals are passed on to it while it runs), and the settings are restored
// when it has ended.

#include <sys/select.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"
#include "host/internal.h"
#include "posix/posix.h"

namespace tv {
namespace {

bool IsExecutableFile(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
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

  char blank[] = " ";
  char *child_argv[] = {blank, const_cast<char *>(text.c_str()), nullptr};
  int status = 0;
  int result = kTvKeyinFailed;
  if (posix::RunAndWait(path.c_str(), child_argv, &status) == 0 && WIFEXITED(status) &&
      WEXITSTATUS(status) != 127)
    result = WEXITSTATUS(status);

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
