#include "tests/support/support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "host/host.h"

extern char **environ;

namespace testing_support {

namespace {

// Before any test: this process and what it starts see no session values of
// the caller's shell and the real clock, and the local session (read from
// TVKEYCHECK and TVDEBUG once, at program start) holds what a session started
// without them holds.
class PinnedHostSettings : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char *name : kHostSessionVariables) unsetenv(name);
    unsetenv("VARNEK_TEST_NOW");
    tv::SessionArea &session = tv::Session();
    session.keyword_check = 1;
    session.streams[tv::kDebugStream].line_mode = 0;
  }
};

[[maybe_unused]] ::testing::Environment *const g_pinned_host_settings =
    ::testing::AddGlobalTestEnvironment(new PinnedHostSettings);

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string> &value) : name_(std::move(name)) {
  if (const char *old = std::getenv(name_.c_str())) saved_ = old;
  if (value) setenv(name_.c_str(), value->c_str(), 1);
  else unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (saved_) setenv(name_.c_str(), saved_->c_str(), 1);
  else unsetenv(name_.c_str());
}

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnek-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

long long FileSize(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

namespace {

RunResult Run(const std::vector<std::string> &argv, const std::string &cwd, const EnvChanges &env, int timeout_ms,
              const std::vector<int> &closed, const std::string &path = "");

}  // namespace

RunResult RunProgramAs(const std::string &path, const std::vector<std::string> &argv, const std::string &cwd,
                       const EnvChanges &env, int timeout_ms) {
  return Run(argv, cwd, env, timeout_ms, {}, path);
}

RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd, const EnvChanges &env,
                     int timeout_ms) {
  return Run(argv, cwd, env, timeout_ms, {});
}

RunResult RunWithClosedDescriptors(const std::vector<std::string> &argv, const std::string &cwd,
                                   const std::vector<int> &closed, const EnvChanges &env) {
  return Run(argv, cwd, env, 30000, closed);
}

namespace {

RunResult Run(const std::vector<std::string> &argv, const std::string &cwd, const EnvChanges &env, int timeout_ms,
              const std::vector<int> &closed, const std::string &path) {
  RunResult result;
  const std::string file = path.empty() ? argv.at(0) : path;
  TempDir capture;
  std::string out_path = capture / "out", err_path = capture / "err";

  std::map<std::string, std::string> vars;
  for (char **e = environ; *e; ++e) {
    const char *eq = std::strchr(*e, '=');
    if (eq) vars[std::string(static_cast<const char *>(*e), eq)] = eq + 1;
  }
  for (const char *name : kHostSessionVariables) vars.erase(name);
  for (const auto &[name, value] : env) {
    if (value) vars[name] = *value;
    else vars.erase(name);
  }
  std::vector<std::string> env_strings;
  for (const auto &[name, value] : vars) env_strings.push_back(name + "=" + value);
  std::vector<char *> envp, args;
  for (auto &s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto &s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    setsid();  // a session of its own: no signal it sends can reach the test runner
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(in, 0);
    for (int fd : closed) close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execve(file.c_str(), args.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  int waited_ms = 0;
  while (true) {
    pid_t r = waitpid(child, &status, WNOHANG);
    if (r == child) break;
    if (r < 0 && errno != EINTR) break;
    if (waited_ms >= timeout_ms) {
      result.timed_out = true;
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    usleep(1000);
    ++waited_ms;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace

std::string CaptureStream(int stream, const std::function<void()> &body) {
  tv::StreamSetting &setting = tv::Session().streams[stream];
  tv::StreamSetting saved = setting;
  std::FILE *file = std::tmpfile();
  setting.fd = fileno(file);
  if (setting.line_mode == 0) setting.line_mode = 2;
  body();
  setting = saved;
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, n);
  std::fclose(file);
  return text;
}

FakeSession::FakeSession(int frames) {
  std::size_t bytes = tv::SessionAreaBytes(frames);
  id_ = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id_ < 0) std::abort();
  area_ = shmat(id_, nullptr, 0);
  shmctl(id_, IPC_RMID, nullptr);  // gone when the last program detaches
  auto *s = static_cast<tv::SessionArea *>(area_);
  std::memcpy(s->magic, tv::kSessionMagic, sizeof s->magic);
  s->area_bytes = static_cast<std::int32_t>(bytes);
  s->frame_count = frames;
  s->frame_lines = 480;
  s->frame_elements = 640;
  s->keyword_check = 1;
  s->streams[tv::kStandardStream] = {1, 2, 0, 0};
  s->streams[tv::kErrorStream] = {2, 2, 0, 14};
  s->streams[tv::kDebugStream] = {2, 0, 0, 14};
}

FakeSession::~FakeSession() { shmdt(area_); }

std::string BinDir() { return VARNEK_BIN_DIR; }
std::string ProgramPath(const std::string &name) { return BinDir() + "/" + name; }

std::vector<std::string> TakeHostCommands(const std::string &dir) {
  std::vector<std::string> out;
  std::string log = ReadFile(dir + "/host.log");
  for (std::size_t at = 0; (at = log.find("argv1=[", at)) != std::string::npos;) {
    at += 7;
    out.push_back(log.substr(at, log.find("]\n", at) - at));
  }
  unlink((dir + "/host.log").c_str());
  return out;
}

LockHolder::LockHolder(const std::string &path, const char *content) {
  int ready[2];
  if (pipe(ready) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    setsid();
    close(ready[0]);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLKW, &lock) != 0) _exit(1);
    if (content) {
      std::string text = content;
      if (std::size_t at = text.find("%PID%"); at != std::string::npos)
        text.replace(at, 5, std::to_string(getpid()));
      if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        _exit(1);
    }
    if (write(ready[1], "x", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte;
  EXPECT_EQ(read(ready[0], &byte, 1), 1) << "the lock holder did not take its lock";
  close(ready[0]);
}

LockHolder::~LockHolder() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

int LockHolder::AwaitEnd() {
  int status = 0;
  EXPECT_EQ(waitpid(pid_, &status, 0), pid_);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testing_support
