// Host sessions: a program started outside a session creates one and
// removes it afterwards, whatever happens to its processes.  Each test
// looks only for the segments its own runs made (identifier and creating
// process), so other processes may create and remove segments meanwhile.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/support.h"

using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

// The machine's shared memory segments as (identifier, creating process).
// The creator tells a run's own segment from a later one that got the same
// identifier.
using Segments = std::set<std::pair<int, long>>;

Segments CurrentSegments() {
  Segments segments;
  std::ifstream in("/proc/sysvipc/shm");
  std::string line;
  std::getline(in, line);  // header: key shmid perms size cpid ...
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long key = 0, cpid = -1;
    int id = -1;
    std::string perms, size;
    if (fields >> key >> id >> perms >> size >> cpid) segments.emplace(id, cpid);
  }
  return segments;
}

// What a probe reports: its session's areas and who made them, its parent,
// itself and the session's frame count.
struct Ids {
  int posuc = -1, neguc = -1, ppid = -1, pid = -1, frames = -1, pos_creator = -1, neg_creator = -1;
};

std::vector<Ids> ParseIds(const std::string &text) {
  std::vector<Ids> out;
  std::istringstream in(text);
  Ids ids;
  while (in >> ids.posuc >> ids.neguc >> ids.ppid >> ids.pid >> ids.frames >> ids.pos_creator >> ids.neg_creator)
    out.push_back(ids);
  return out;
}

std::vector<Ids> ReadIds(const std::string &path) { return ParseIds(ReadFile(path)); }

bool HasPosArea(const Segments &segments, const Ids &ids) {
  return segments.count({ids.posuc, ids.pos_creator}) > 0;
}
bool HasNegArea(const Segments &segments, const Ids &ids) {
  return segments.count({ids.neguc, ids.neg_creator}) > 0;
}

// Starts the probe outside a session without waiting for it; -1 for `in`
// or `out` leaves this process's own standard input or output.
pid_t Spawn(const std::vector<std::string> &args, int in = -1, int out = -1) {
  pid_t pid = fork();
  if (pid == 0) {
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    unsetenv("TVENV_POSUC");
    unsetenv("TVENV_NEGUC");
    std::vector<char *> argv;
    std::string probe = ProgramPath("tvprobe");
    argv.push_back(probe.data());
    std::vector<std::string> copy = args;
    for (auto &a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// A probe that runs until it is released: it reports its ids on a pipe and
// ends (status 7) when the pipe to its standard input is closed.
class WaitingProbe {
 public:
  WaitingProbe() {
    int to[2], from[2];
    if (pipe2(to, O_CLOEXEC) != 0 || pipe2(from, O_CLOEXEC) != 0) std::abort();
    parent_ = Spawn({"WAIT"}, to[0], from[1]);
    close(to[0]);
    close(from[1]);
    to_ = to[1];
    from_ = fdopen(from[0], "r");
    char line[256];
    auto ids = ParseIds(from_ && std::fgets(line, sizeof line, from_) ? line : "");
    if (ids.empty()) ADD_FAILURE() << "probe did not start";
    else ids_ = ids[0];
  }
  ~WaitingProbe() {
    Release();
    if (from_) std::fclose(from_);
  }
  WaitingProbe(const WaitingProbe &) = delete;
  WaitingProbe &operator=(const WaitingProbe &) = delete;

  pid_t parent() const { return parent_; }
  const Ids &ids() const { return ids_; }
  void Release() {
    if (to_ >= 0) close(to_);
    to_ = -1;
  }

 private:
  pid_t parent_ = -1;
  int to_ = -1;
  std::FILE *from_ = nullptr;
  Ids ids_;
};

TEST(Session, CreatedForAProgramAndRemovedAfterIt) {
  TempDir dir;
  auto r = RunProgram({ProgramPath("tvprobe"), "EXIT", "5"}, dir.path());
  EXPECT_EQ(r.status, 5);  // the caller sees the program's own status
  r = RunProgram({ProgramPath("tvprobe"), "IDS", dir / "ids"}, dir.path());
  ASSERT_EQ(r.status, 0);
  Ids ids = ReadIds(dir / "ids").at(0);
  EXPECT_EQ(ids.frames, 1);
  EXPECT_NE(ids.posuc, ids.neguc);
  EXPECT_EQ(ids.pos_creator, ids.ppid);  // made by the session's parent
  EXPECT_EQ(ids.neg_creator, ids.ppid);
  auto now = CurrentSegments();
  EXPECT_FALSE(HasPosArea(now, ids));
  EXPECT_FALSE(HasNegArea(now, ids));
}

TEST(Session, HostProgramsJoinTheSessionAndCannotChangeItsSettings) {
  TempDir dir;
  ASSERT_EQ(symlink(ProgramPath("tvprobe").c_str(), (dir / "probe.k").c_str()), 0);
  testing_support::EnvChanges env = {{"PATH", dir.path()}};
  auto r = RunProgram({ProgramPath("tvprobe"), "KEYIN", "\"PROBE", "IDS", dir / "ids"}, dir.path(), env);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("result=0 debugmode=0 errorfd=2"), std::string::npos) << r.out;
  Ids child = ReadIds(dir / "ids").at(0);

  r = RunProgram({ProgramPath("tvprobe"), "KEYIN", "\"PROBE", "MUTATE"}, dir.path(), env);
  EXPECT_NE(r.out.find("result=0 debugmode=0 errorfd=2"), std::string::npos) << r.out;

  r = RunProgram({ProgramPath("tvprobe"), "KEYIN", "\"probe", "DUMP", "a", "TYPE=area", "X", "'b", "c'"},
          dir.path(), env);
  EXPECT_EQ(r.out,
            "name=probe\n"
            "[probe] [DUMP] [a]\n"
            "[TYPE] [area] [x] [b c]\n"
            "result=0 debugmode=0 errorfd=2\n");
  // The host program attached both areas of its caller, and they went with
  // the caller.
  EXPECT_NE(child.pos_creator, child.pid);
  EXPECT_EQ(child.neg_creator, child.pos_creator);
  auto now = CurrentSegments();
  EXPECT_FALSE(HasPosArea(now, child));
  EXPECT_FALSE(HasNegArea(now, child));
}

TEST(Session, RemovedWhenTheProgramIsKilled) {
  WaitingProbe probe;
  const Ids &ids = probe.ids();
  ASSERT_GT(ids.pid, 0);
  EXPECT_EQ(ids.ppid, probe.parent());
  EXPECT_TRUE(HasPosArea(CurrentSegments(), ids));
  kill(ids.pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(probe.parent(), &status, 0), probe.parent());
  ASSERT_TRUE(WIFSIGNALED(status));  // ends like its program did
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  auto now = CurrentSegments();
  EXPECT_FALSE(HasPosArea(now, ids));
  EXPECT_FALSE(HasNegArea(now, ids));
}

TEST(Session, RemovedWhenItsParentIsKilled) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the orphaned program comes to us
  WaitingProbe probe;
  const Ids &ids = probe.ids();
  ASSERT_GT(ids.pid, 0);
  kill(probe.parent(), SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(probe.parent(), &status, 0), probe.parent());
  // The program does not run on without the parent that passes signals to
  // it: the kernel sends it SIGTERM.
  ASSERT_EQ(waitpid(ids.pid, &status, 0), ids.pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  auto now = CurrentSegments();
  EXPECT_FALSE(HasPosArea(now, ids));
  EXPECT_FALSE(HasNegArea(now, ids));
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(Session, ThousandsOfRunsLeaveNothingBehind) {
  TempDir dir;
  for (int i = 0; i < 2000; ++i) {
    pid_t pid = Spawn({"IDS", dir / "ids"});
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
  auto runs = ReadIds(dir / "ids");
  ASSERT_EQ(runs.size(), 2000u);
  auto after = CurrentSegments();
  int left = 0;
  for (const Ids &ids : runs) {
    ASSERT_GT(ids.pos_creator, 0);
    ASSERT_GT(ids.neg_creator, 0);
    left += HasPosArea(after, ids) + HasNegArea(after, ids);
  }
  EXPECT_EQ(left, 0);
}

TEST(Session, UnusableSessionVariableIsAStartFailure) {
  TempDir dir;
  auto r = RunProgram({ProgramPath("tvprobe"), "EXIT", "0"}, dir.path(), {{"TVENV_POSUC", "junk"}});
  EXPECT_EQ(r.out, "TVinit error -4\n");
  r = RunProgram({ProgramPath("tvprobe"), "EXIT", "0"}, dir.path(), {{"TVENV_POSUC", "2147483000"}});
  EXPECT_EQ(r.out, "TVinit error -4\n");
}

}  // namespace
