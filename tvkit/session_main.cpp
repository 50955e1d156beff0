// tvsession: starts a host session of a given number of image frames and
// runs a command inside it (or an interactive shell), so that the frames
// outlive a single run of the client: every program started inside joins
// the session, and it ends when the command ends.
//
//   tvsession FRAMES [command [argument ...]]
//
// Exit status: the command's (128 + the signal that ended it; 127 when it
// cannot be found or started); its own refusals as every kit command's:
// kUsage for no FRAMES or FRAMES that is no whole number, kCouldNot for
// FRAMES outside 1 .. 9999 or a session that cannot be created.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.h"
#include "posix/posix.h"
#include "tvkit/tvkit.h"
#include "vocab/field_reader.h"

int main(int argc, char **argv) {
  // FRAMES as strtol reads it: blanks first, a sign, digits, nothing after.
  constexpr field::NumberForm kForm{true, field::Sign::kEither, 0, 0};
  int frames = 0;
  const field::Read read = argc < 2 ? field::Read::kNoNumber : field::WholeNumber(argv[1], kForm, 1, tv::kMaxFrames, frames);
  const int rc = read == field::Read::kOk ? tvkit::kDone : read == field::Read::kRange ? tvkit::kCouldNot : tvkit::kUsage;
  if (rc != tvkit::kDone) {
    std::fprintf(stderr, "usage: tvsession FRAMES [command [argument ...]]  (FRAMES 1 to %d)\n", tv::kMaxFrames);
    return rc;
  }
  // A session of its own: created here with the frames asked for.
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  setenv("TVFRAMES", argv[1], 1);
  char *session_argv[] = {argv[0], nullptr};
  if (Tvinit(1, session_argv) < 0) {
    std::fprintf(stderr, "tvsession: the session cannot be created\n");
    return tvkit::kCouldNot;
  }
  unsetenv("TVFRAMES");
  std::vector<std::string> command;
  for (int i = 2; i < argc; ++i) command.emplace_back(argv[i]);
  // No command: the caller's shell, interactive but not a login shell.  A
  // login shell reads the account's profile, which on many systems sets
  // PATH afresh and so loses the kit's links the caller put on it.
  if (command.empty()) {
    const char *shell = std::getenv("SHELL");
    command = {shell && *shell ? shell : "/bin/sh", "-i"};
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
