// Several vks processes updating different records of one availability
// file at the same time, while this process reads every line: no line is
// ever torn (values of two updates mixed) or shifted.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/server.h"
#include "tests/server/vks_fixture.h"

extern char **environ;

namespace {

using test_vks::VksTest;

constexpr int kWriters = 4;
constexpr int kRounds = 100;

// A shell loop that sets record `rec` kRounds times; every field of round i
// is derived from i, with lengths that change from round to round.
std::string SetLoop(int rec) {
  return "i=1; while [ $i -le " + std::to_string(kRounds) + " ]; do \"$VKS\" SET " + std::to_string(rec) +
         " RANGE=$i $((i * 7)) SOURCE=S$i NAME=D$i MACH=m$i$i > /dev/null || exit 1; i=$((i + 1)); done";
}

std::string InvokeLoop() {
  return "i=1; while [ $i -le " + std::to_string(kRounds) + " ]; do \"$VKS\" INVOKE $i FPATH=/nonexistent" +
         " > /dev/null 2>&1 || exit 1; i=$((i + 1)); done";
}

pid_t Spawn(const std::string &script, const std::string &cwd) {
  std::string command = "cd '" + cwd + "' && " + script;
  const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char *const *>(argv), environ) != 0) return -1;
  return pid;
}

// A record as round i of SetLoop leaves it.
bool IsRound(const ServerRec &r) {
  int i = r.ServerData.Area.bRange;
  std::string n = std::to_string(i);
  return r.ServerData.Area.eRange == 7 * i && std::string(r.ServerData.Area.dataSource) == "S" + n &&
         std::string(r.ServerData.Area.Descriptor) == "D" + n && std::string(r.machineName) == "m" + n + n;
}

TEST_F(VksTest, SideBySideUpdatesNeverTearALine) {
  Install();
  for (int rec = 1; rec <= kWriters; ++rec) {
    ServerRec r = Series(AREA, 0, 0, "m00");
    std::strcpy(r.ServerData.Area.dataSource, "S0");
    std::strcpy(r.ServerData.Area.Descriptor, "D0");
    Put(rec, r);
  }
  Put(kWriters + 1, Series(AREA, 1, kRounds));

  setenv("VKS", testing_support::ProgramPath("vks").c_str(), 1);
  setenv("HOME", dir_.path().c_str(), 1);
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  std::vector<pid_t> children;
  for (int rec = 1; rec <= kWriters; ++rec) children.push_back(Spawn(SetLoop(rec), dir_.path()));
  children.push_back(Spawn(InvokeLoop(), dir_.path()));
  for (pid_t pid : children) ASSERT_GT(pid, 0);

  // Read every line while the writers run; the first bad record is kept
  // for the report, and the children are always waited for.
  std::FILE *fp = OpenServerFile(FilePath().c_str());
  ASSERT_NE(fp, nullptr);
  int reads = 0, running = static_cast<int>(children.size());
  std::string bad;
  std::vector<int> status(children.size(), -1);
  while (running > 0) {
    for (int n = 1; n <= kServerRecords && bad.empty(); ++n) {
      ServerRec r;
      bool ok = ReadServerFile(n, &r, fp) == 0;
      if (n <= kWriters) ok = ok && IsRound(r);
      if (n == kWriters + 1) ok = ok && r.ServerData.Area.bRange == 1;
      if (!ok) bad = "record " + std::to_string(n) + " at read " + std::to_string(reads);
    }
    ++reads;
    for (std::size_t c = 0; c < children.size(); ++c) {
      if (status[c] != -1) continue;
      int s = 0;
      if (waitpid(children[c], &s, bad.empty() ? WNOHANG : 0) == children[c]) {
        status[c] = s;
        --running;
      }
    }
  }
  std::fclose(fp);
  EXPECT_EQ(bad, "");
  for (int s : status) EXPECT_TRUE(WIFEXITED(s) && WEXITSTATUS(s) == 0);

  std::string text = FileText();
  ASSERT_EQ(text.size(), 79000u);
  for (int n = 1; n <= kServerRecords; ++n) ASSERT_EQ(text[static_cast<std::size_t>(n) * 395 - 1], '\n') << n;
  for (int rec = 1; rec <= kWriters; ++rec) {
    ServerRec r = Record(rec);
    EXPECT_EQ(r.ServerData.Area.bRange, kRounds);
    EXPECT_TRUE(IsRound(r));
  }
  EXPECT_EQ(Record(kWriters + 1).ServerData.Area.currentNum, kRounds);
  EXPECT_GT(reads, 1);
}

}  // namespace
