// tvsession: starts a host session of a given number of image frames and
// runs a command inside it (or a login shell), so that the frames outlive
// a single run of the client: every program started inside joins the
// session, and it ends when the command ends.
//
//   tvsession FRAMES [command [argument ...]]

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.h"
#include "posix/posix.h"

int main(int argc, char **argv) {
  char *end = nullptr;
  long frames = argc < 2 ? 0 : std::strtol(argv[1], &end, 10);
  if (argc < 2 || end == argv[1] || *end || frames < 1 || frames > tv::kMaxFrames) {
    std::fprintf(stderr, "usage: tvsession FRAMES [command [argument ...]]  (FRAMES 1 to %d)\n", tv::kMaxFrames);
    return 2;
  }
  // A session of its own: created here with the frames asked for.
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  setenv("TVFRAMES", argv[1], 1);
  char *session_argv[] = {argv[0], nullptr};
  if (Tvinit(1, session_argv) < 0) {
    std::fprintf(stderr, "tvsession: the session cannot be created\n");
    return 2;
  }
  unsetenv("TVFRAMES");
  std::vector<std::string> command;
  for (int i = 2; i < argc; ++i) command.emplace_back(argv[i]);
  if (command.empty()) {
    const char *shell = std::getenv("SHELL");
    command = {shell && *shell ? shell : "/bin/sh", "-l"};
  }
  std::string path = command[0].find('/') != std::string::npos ? command[0] : tv::FindOnPath(command[0]);
  if (path.empty()) {
    std::fprintf(stderr, "tvsession: %s: command not found\n", command[0].c_str());
    return 127;
  }
  std::vector<char *> args;
  for (auto &c : command) args.push_back(c.data());
  args.push_back(nullptr);
  int status = 0;
  if (posix::RunAndWait(path.c_str(), args.data(), &status) != 0) return 127;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
