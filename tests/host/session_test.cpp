// Host sessions: a program started outside a session creates one and
// removes it afterwards, whatever happens to its processes.  These tests
// look at the machine's shared memory segments and run alone.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/support.h"

using testing_support::Exists;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::set<int> SegmentIds() {
  std::set<int> ids;
  std::ifstream in("/proc/sysvipc/shm");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long key = 0;
    int id = -1;
    fields >> key >> id;
    ids.insert(id);
  }
  return ids;
}

struct Ids {
  int posuc = -1, neguc = -1, ppid = -1, pid = -1, frames = -1;
};

std::vector<Ids> ReadIds(const std::string &path) {
  std::vector<Ids> out;
  std::istringstream in(ReadFile(path));
  Ids ids;
  while (in >> ids.posuc >> ids.neguc >> ids.ppid >> ids.pid >> ids.frames) out.push_back(ids);
  return out;
}

// Starts the probe outside a session without waiting for it.
pid_t Spawn(const std::vector<std::string> &args) {
  pid_t pid = fork();
  if (pid == 0) {
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

Ids WaitForIds(const std::string &path) {
  for (int i = 0; i < 3000; ++i) {
    auto ids = ReadIds(path);
    if (!ids.empty()) return ids[0];
    usleep(2000);
  }
  ADD_FAILURE() << "probe did not start";
  return {};
}

TEST(Session, CreatedForAProgramAndRemovedAfterIt) {
  TempDir dir;
  auto r = RunProgram({ProgramPath("tvprobe"), "EXIT", "5"}, dir.path());
  EXPECT_EQ(r.status, 5);  // the caller sees the program's own status
  r = RunProgram({ProgramPath("tvprobe"), "IDS", dir / "ids"}, dir.path());
  ASSERT_EQ(r.status, 0);
  Ids ids = ReadIds(dir / "ids").at(0);
  EXPECT_EQ(ids.frames, 1);
  EXPECT_NE(ids.posuc, ids.neguc);
  auto now = SegmentIds();
  EXPECT_EQ(now.count(ids.posuc), 0u);
  EXPECT_EQ(now.count(ids.neguc), 0u);
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
  EXPECT_EQ(SegmentIds().count(child.posuc), 0u);
}

TEST(Session, RemovedWhenTheProgramIsKilled) {
  TempDir dir;
  pid_t parent = Spawn({"WAIT", dir / "ids"});
  Ids ids = WaitForIds(dir / "ids");
  EXPECT_EQ(ids.ppid, parent);
  EXPECT_EQ(SegmentIds().count(ids.posuc), 1u);
  kill(ids.pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(parent, &status, 0), parent);
  ASSERT_TRUE(WIFSIGNALED(status));  // ends like its program did
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(SegmentIds().count(ids.posuc), 0u);
  EXPECT_EQ(SegmentIds().count(ids.neguc), 0u);
}

TEST(Session, RemovedWhenItsParentIsKilled) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the orphaned program comes to us
  TempDir dir;
  pid_t parent = Spawn({"WAIT", dir / "ids"});
  Ids ids = WaitForIds(dir / "ids");
  kill(parent, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(parent, &status, 0), parent);
  EXPECT_EQ(SegmentIds().count(ids.posuc), 1u);  // the program still uses it
  WriteFile(dir / "ids.go", "");
  ASSERT_EQ(waitpid(ids.pid, &status, 0), ids.pid);
  EXPECT_EQ(WEXITSTATUS(status), 7);
  auto now = SegmentIds();
  EXPECT_EQ(now.count(ids.posuc), 0u);
  EXPECT_EQ(now.count(ids.neguc), 0u);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(Session, ThousandsOfRunsLeaveNothingBehind) {
  TempDir dir;
  auto before = SegmentIds();
  for (int i = 0; i < 2000; ++i) {
    pid_t pid = Spawn({"IDS", dir / "ids"});
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WEXITSTATUS(status), 0);
  }
  auto runs = ReadIds(dir / "ids");
  EXPECT_EQ(runs.size(), 2000u);
  auto after = SegmentIds();
  EXPECT_EQ(after, before);
  for (const Ids &ids : runs) EXPECT_EQ(after.count(ids.posuc) - before.count(ids.posuc), 0u);
}

TEST(Session, UnusableSessionVariableIsAStartFailure) {
  TempDir dir;
  auto r = RunProgram({ProgramPath("tvprobe"), "EXIT", "0"}, dir.path(), {{"TVENV_POSUC", "junk"}});
  EXPECT_EQ(r.out, "TVinit error -4\n");
  r = RunProgram({ProgramPath("tvprobe"), "EXIT", "0"}, dir.path(), {{"TVENV_POSUC", "2147483000"}});
  EXPECT_EQ(r.out, "TVinit error -4\n");
}

}  // namespace
