// Test support: temporary directories, files, and running built programs
// with a clean host environment.

#ifndef VARNEK_TESTS_SUPPORT_SUPPORT_H
#define VARNEK_TESTS_SUPPORT_SUPPORT_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under $TMPDIR, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &content);
bool Exists(const std::string &path);
// Size of a file in bytes, -1 when it does not exist.
long long FileSize(const std::string &path);

struct RunResult {
  int status = -1;        // exit status, or 128 + signal number
  bool timed_out = false;
  std::string out;        // standard output
  std::string err;        // standard error
};

// The variables through which a host session reaches a program: the areas
// it joins, the keyword check and the debug stream.  Every test binary
// removes them from its own environment before the first test (and sets the
// local session as a session started without them), and RunProgram removes
// them from a run's environment unless the run gives them.
inline constexpr const char *kHostSessionVariables[] = {"TVENV_POSUC", "TVENV_NEGUC", "TVKEYCHECK", "TVDEBUG"};

// Sets (a value) or removes (nullopt) an environment variable of this
// process and puts the old state back when it goes out of scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string> &value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// Environment changes for a run: a value sets the variable, nullopt removes
// it.  The host session variables are removed unless given.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// Runs argv[0] (a path) with the arguments in `cwd`, waiting at most
// `timeout_ms`; a run that takes longer is killed with its process group.
RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd,
              const EnvChanges &env = {}, int timeout_ms = 30000);

// RunProgram for a program file `path` started with `argv` as its argument
// vector (argv[0] need not name the file: a host command program is started
// with argv[0] a blank and the whole command line in argv[1]).
RunResult RunProgramAs(const std::string &path, const std::vector<std::string> &argv, const std::string &cwd,
                       const EnvChanges &env = {}, int timeout_ms = 30000);

// RunProgram with some of the standard descriptors 0, 1 and 2 closed (what
// a closed descriptor would have received is lost).
RunResult RunWithClosedDescriptors(const std::vector<std::string> &argv, const std::string &cwd,
                                   const std::vector<int> &closed, const EnvChanges &env = {});

// Captures what the host runtime writes to one of its streams while `body`
// runs (the stream's descriptor is pointed at a temporary file).
std::string CaptureStream(int stream, const std::function<void()> &body);

// A host session of `frames` image frames that programs join through
// TVENV_POSUC (pass Env() to RunProgram).  Removed when destroyed.
class FakeSession {
 public:
  explicit FakeSession(int frames);
  ~FakeSession();
  FakeSession(const FakeSession &) = delete;
  FakeSession &operator=(const FakeSession &) = delete;
  int id() const { return id_; }

 private:
  int id_ = -1;
  void *area_ = nullptr;
};

// The host command lines (argv[1] of each) that the stand-in host program
// logged in `dir`/host.log so far; the log is removed, so the next call
// sees only later commands.
std::vector<std::string> TakeHostCommands(const std::string &dir);

// A process of the test's own that holds an exclusive whole-file lock on
// `path` (created when missing) until it is killed, as a running client
// holds its marker files; `content`, unless null, is written into the file
// first with "%PID%" replaced by the process's number.  The process runs
// in a session of its own; it is killed (SIGKILL) and reaped when the
// object goes, unless it was ended before.
class LockHolder {
 public:
  LockHolder(const std::string &path, const char *content);
  ~LockHolder();
  LockHolder(const LockHolder &) = delete;
  LockHolder &operator=(const LockHolder &) = delete;
  pid_t pid() const { return pid_; }
  // Waits for the process to end; 128 + the signal that ended it, or its
  // exit status.
  int AwaitEnd();

 private:
  pid_t pid_ = -1;
};

// Paths of the built programs (set by the build).
std::string BinDir();
std::string ProgramPath(const std::string &name);

}  // namespace testing_support

#endif  // VARNEK_TESTS_SUPPORT_SUPPORT_H
