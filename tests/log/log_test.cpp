// The operations log: creation, the ring, concurrent writers, the read side
// and the query tool, PRINTLOG, and the command runner.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Logfile/Logfile.h"
#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"
#include "tests/support/support.h"

using testing_support::Exists;
using testing_support::FileSize;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// Runs each test in a fresh working directory (the log is "VKLogFile" there).
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(saved_), 0);
    unsetenv("VARNEK_TEST_NOW");
  }
  int Log(const char *comment) { return logwriter_(kClientLogFile, kClientProgramName, "Exec", "I", comment); }
  BLOCK_TYPE Block() {
    LOGFILE_TYPE log;
    EXPECT_EQ(Logfile_Open(&log, kClientLogFile, ""), 0);
    BLOCK_TYPE b{};
    EXPECT_EQ(Logfile_ReadBlk(&log, &b), 0);
    (void)Logfile_Close(&log);
    return b;
  }
  RECORD_TYPE Entry(int n) {
    LOGFILE_TYPE log;
    EXPECT_EQ(Logfile_Open(&log, kClientLogFile, ""), 0);
    RECORD_TYPE r{};
    EXPECT_EQ(Logfile_Read(&log, n, &r), 0) << n;
    (void)Logfile_Close(&log);
    return r;
  }
  void SetBlock(int current, int count) {
    LOGFILE_TYPE log;
    ASSERT_EQ(Logfile_Open(&log, kClientLogFile, ""), 0);
    BLOCK_TYPE b{current, count};
    ASSERT_EQ(Logfile_WriteBlk(&log, &b), 0);
    (void)Logfile_Close(&log);
  }
  // A log whose records 1..count hold comments "rec <n>" (day of year n % 7).
  void MakeLog(int current, int count) {
    ASSERT_EQ(Logfile_Init(kClientLogFile, 8, 240, 10000), 0);
    LOGFILE_TYPE log;
    ASSERT_EQ(Logfile_Open(&log, kClientLogFile, ""), 0);
    for (int n = 1; n <= count; ++n) {
      RECORD_TYPE r{};
      r.Date = {2024, n % 7, 1, 2, 3};
      std::strcpy(r.ProgramName, "VARNEK-II Client");
      std::strcpy(r.Function, "Exec");
      std::strcpy(r.Status, n % 5 == 0 ? "E" : "I");
      std::snprintf(r.Comment, sizeof r.Comment, "rec %d", n);
      ASSERT_EQ(Logfile_Write(&log, n, &r), 0);
    }
    BLOCK_TYPE b{current, count};
    ASSERT_EQ(Logfile_WriteBlk(&log, &b), 0);
    (void)Logfile_Close(&log);
  }
  RunResult Query(std::vector<std::string> args) {
    args.insert(args.begin(), {ProgramPath("query_logfile"), "VKLogFile"});
    return RunProgram(args, dir_.path());
  }
  // The comments of the listed entries, in order.
  static std::vector<std::string> Comments(const std::string &listing) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = listing.find("  rec ", at)) != std::string::npos) {
      at += 2;
      out.push_back(listing.substr(at, listing.find('\n', at) - at));
    }
    return out;
  }
  static std::vector<std::string> Recs(std::initializer_list<int> ns) {
    std::vector<std::string> out;
    for (int n : ns) out.push_back("rec " + std::to_string(n));
    return out;
  }

  TempDir dir_;
  char saved_[4096];
};

TEST_F(LogTest, FirstEntryCreatesTheLog) {
  setenv("VARNEK_TEST_NOW", "1704067205", 1);  // 2024-01-01 00:00:05 UTC
  ASSERT_EQ(Log("RASDUP A/B.1 LOC/B.1"), 0);
  EXPECT_EQ(FileSize("VKLogFile"), 2400020);
  BLOCK_TYPE b = Block();
  EXPECT_EQ(b.Current_Record, 1);
  EXPECT_EQ(b.Log_Record_Count, 1);
  RECORD_TYPE r = Entry(1);
  EXPECT_EQ(r.Date.Year, 2024);
  EXPECT_EQ(r.Date.Julian_Date, 0);
  EXPECT_EQ(r.Date.Hour, 0);
  EXPECT_EQ(r.Date.Minute, 0);
  EXPECT_EQ(r.Date.Second, 5);
  EXPECT_STREQ(r.ProgramName, "VARNEK-II Client");
  EXPECT_STREQ(r.Function, "Exec");
  EXPECT_STREQ(r.Status, "I");
  EXPECT_STREQ(r.Comment, "RASDUP A/B.1 LOC/B.1");
  // Entry n lies at 20 + 240 * n.
  EXPECT_EQ(ReadFile("VKLogFile").substr(20 + 240 + 77, 6), "RASDUP");
  EXPECT_FALSE(Exists("VKLogFile.srv"));  // the lock-file name is only stored
}

TEST_F(LogTest, RingWrapsAfterTenThousandEntries) {
  ASSERT_EQ(Log("first"), 0);
  SetBlock(9999, 9999);
  ASSERT_EQ(Log("ten thousand"), 0);
  EXPECT_EQ(FileSize("VKLogFile"), 2400260);
  EXPECT_EQ(Block().Current_Record, 10000);
  EXPECT_EQ(Block().Log_Record_Count, 10000);
  EXPECT_STREQ(Entry(10000).Comment, "ten thousand");
  ASSERT_EQ(Log("10001"), 0);
  EXPECT_EQ(Block().Current_Record, 1);
  EXPECT_EQ(Block().Log_Record_Count, 10000);
  EXPECT_STREQ(Entry(1).Comment, "10001");
  ASSERT_EQ(Log("10002"), 0);
  EXPECT_EQ(Block().Current_Record, 2);
  EXPECT_EQ(Block().Log_Record_Count, 10000);
  EXPECT_STREQ(Entry(2).Comment, "10002");
  EXPECT_EQ(FileSize("VKLogFile"), 2400260);
}

TEST_F(LogTest, RefusedEntriesWriteNothing) {
  ASSERT_EQ(Log("one"), 0);
  EXPECT_EQ(Log(std::string(160, 'c').c_str()), 1);
  EXPECT_EQ(logwriter_(kClientLogFile, "P", std::string(35, 'f').c_str(), "I", "x"), 1);
  EXPECT_EQ(logwriter_(kClientLogFile, "P", "F", "II", "x"), 1);
  EXPECT_EQ(logwriter_(std::string(46, 'L').c_str(), "P", "F", "I", "x"), 1);
  EXPECT_EQ(Log(std::string(159, 'c').c_str()), 0);  // the longest comment that fits
  EXPECT_EQ(Block().Current_Record, 2);

  // A control character in a comment would split a listing line.
  EXPECT_EQ(Log("a\nb"), 1);
  EXPECT_EQ(Block().Current_Record, 2);
}

TEST_F(LogTest, DamagedLogIsSetAsideAndAFreshOneStarted) {
  setenv("VARNEK_TEST_NOW", "1704067205", 1);  // 2024-01-01 00:00:05 UTC
  struct Damage {
    const char *what;
    std::function<void()> damage;
    const char *why;
  };
  const std::vector<Damage> rows = {
      {"a block outside the ring", [this] { SetBlock(-4, 3); }, "its block names entry -4 of 3"},
      {"too short for its block", [] { ASSERT_EQ(truncate("VKLogFile", 14), 0); },
       "it is 14 bytes long, too short to hold a log"},
      {"a file of another layout", [] { ASSERT_EQ(RAInit("VKLogFile", 0, 440, 200), 0); },
       "block size 0 and record size 440 are not a log's"},
  };
  int round = 0;
  for (const Damage &row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ(Log("before"), 0);
    row.damage();
    std::string damaged = ReadFile("VKLogFile");
    LogWriteNote note;
    ASSERT_EQ(AppendLogEntry(kClientLogFile, kClientProgramName, "Exec", "I", "after", note), 0);
    EXPECT_EQ(note.damage, row.why);
    std::string aside = "VKLogFile.damaged.2024001.000005" + std::string(round ? "." + std::to_string(round + 1) : "");
    EXPECT_EQ(note.set_aside_as, aside);
    EXPECT_EQ(ReadFile(aside), damaged) << "the damaged log is kept whole";
    EXPECT_EQ(Block().Current_Record, 1);
    EXPECT_STREQ(Entry(1).Comment, "after");
    ++round;
  }
}

TEST_F(LogTest, EntryThatCannotBeWrittenLeavesTheLogAsItWas) {
  ASSERT_EQ(Log("one"), 0);
  std::string before = ReadFile("VKLogFile");
  posix::InjectFault(posix::Op::kWrite, 1, ENOSPC);
  LogWriteNote note;
  EXPECT_EQ(AppendLogEntry(kClientLogFile, kClientProgramName, "Exec", "I", "two", note), 1);
  EXPECT_EQ(note.error, ENOSPC);
  EXPECT_EQ(ReadFile("VKLogFile"), before);
  posix::InjectFault(posix::Op::kWrite, 1, ENOSPC, 1);  // the entry is written, its block is not
  EXPECT_EQ(Log("two"), 1);
  EXPECT_EQ(Block().Current_Record, 1) << "the block never names an entry it does not hold";
  EXPECT_EQ(Log("three"), 0);  // the log goes on once the disk has room
  EXPECT_STREQ(Entry(2).Comment, "three");
  ASSERT_EQ(unlink("VKLogFile"), 0);
  ASSERT_EQ(mkfifo("VKLogFile", 0600), 0);
  EXPECT_EQ(AppendLogEntry(kClientLogFile, kClientProgramName, "Exec", "I", "x", note), 1);
  EXPECT_EQ(note.error, posix::kNotRegularFile);
}

TEST_F(LogTest, ConcurrentWritersLoseNoEntry) {
  constexpr int kWriters = 4, kEach = 2000;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        char comment[32];
        std::snprintf(comment, sizeof comment, "w%d-%d", w, i);
        failures += logwriter_(kClientLogFile, kClientProgramName, "Exec", "I", comment);
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  BLOCK_TYPE b = Block();
  EXPECT_EQ(b.Current_Record, kWriters * kEach);
  EXPECT_EQ(b.Log_Record_Count, kWriters * kEach);
  std::multiset<std::string> seen;
  for (int n = 1; n <= kWriters * kEach; ++n) seen.insert(Entry(n).Comment);
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kEach; ++i)
      ASSERT_EQ(seen.count("w" + std::to_string(w) + "-" + std::to_string(i)), 1u) << w << " " << i;
}

TEST_F(LogTest, ListingsFollowTimeOrder) {
  MakeLog(1, 1);
  EXPECT_EQ(Comments(Query({}).out), Recs({1}));
  EXPECT_EQ(Comments(Query({"-last", "5"}).out), Recs({1}));

  MakeLog(3, 10000);
  RunResult whole = Query({});
  std::vector<std::string> all = Comments(whole.out);
  ASSERT_EQ(all.size(), 10000u);
  EXPECT_EQ(all.front(), "rec 4");
  EXPECT_EQ(all[9996], "rec 10000");
  EXPECT_EQ(all[9997], "rec 1");
  EXPECT_EQ(all.back(), "rec 3");
  EXPECT_EQ(whole.out.substr(0, 1), "\n");
  EXPECT_EQ(whole.out.substr(whole.out.size() - 7), "\nDone.\n");
  EXPECT_EQ(Comments(Query({"-last", "2"}).out), Recs({2, 3}));
  EXPECT_EQ(Comments(Query({"-last", "5"}).out), Recs({9999, 10000, 1, 2, 3}));
  EXPECT_EQ(Comments(Query({"-last", "20000"}).out).size(), 10000u);
  EXPECT_EQ(Query({"-last", "0"}).out, "\n\nDone.\n");
}

TEST_F(LogTest, ScreenLineAndSearches) {
  MakeLog(12, 12);
  RunResult r = Query({"-last", "1"});
  EXPECT_EQ(r.out, "\n2024.005 01:02:03Z VARNEK-II Client          Exec  I  rec 12\n\nDone.\n");
  EXPECT_EQ(Comments(Query({"-date", "0"}).out), Recs({7}));
  EXPECT_EQ(Comments(Query({"-status", "E"}).out), Recs({5, 10}));
  EXPECT_EQ(Comments(Query({"-status", "I"}).out).size(), 10u);
  EXPECT_EQ(Comments(Query({"-text", "rec 1"}).out), Recs({1, 10, 11, 12}));
  EXPECT_EQ(Comments(Query({"-text", "REC"}).out).size(), 0u);  // case counts
}

TEST_F(LogTest, QueryToolUsage) {
  MakeLog(1, 1);
  const std::string usage =
      "\nUsage:  query_logfile input-file"
      "\n        query_logfile input-file -date 0..999"
      "\n        query_logfile input-file -status \"...\""
      "\n        query_logfile input-file -text \"...\""
      "\n        query_logfile input-file -last 0..99999"
      "\n        query_logfile input-file -print output-file\n";
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-last"}, {"-last", "12a"}, {"-date", "1000"}, {"-what", "x"}}) {
    RunResult r = Query(args);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.status, 1);
  }
  RunResult r = Query({"-last", "123456"});
  EXPECT_EQ(r.out, "\nNumber too large\n" + usage);
  EXPECT_EQ(r.status, 1);
  // A log that cannot be read: the tool says what is wrong with it.
  r = RunProgram({ProgramPath("query_logfile"), "nolog"}, dir_.path());
  EXPECT_EQ(r.out, "Unable to open log file nolog: No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  WriteFile("short", "abc");
  EXPECT_EQ(RunProgram({ProgramPath("query_logfile"), "short"}, dir_.path()).out,
            "Unable to open log file short: it is too short to hold a log\n");
  ASSERT_EQ(RAInit("other", 0, 440, 200), 0);
  EXPECT_EQ(RunProgram({ProgramPath("query_logfile"), "other"}, dir_.path()).out,
            "Unable to open log file other: block size 0 and record size 440 are not a log's\n");
  ASSERT_EQ(Logfile_Init("empty", 8, 240, 10000), 0);
  EXPECT_EQ(RunProgram({ProgramPath("query_logfile"), "empty"}, dir_.path()).out,
            "Unable to open log file empty: its block names entry 0 of 0\n");

  EXPECT_EQ(Is_A_Number("12345"), 0);
  EXPECT_EQ(Is_A_Number(""), 0);
  EXPECT_EQ(Is_A_Number("12a"), 1);
}

TEST_F(LogTest, PrintLogNamesTheFileAsTyped) {
  MakeLog(3, 3);
  RunResult r = RunProgram({ProgramPath("vkc"), "PRINTLOG"}, dir_.path());
  EXPECT_EQ(r.out, "\nCreating a text file - PRINTLOG\n\nDone.\n\nTotal records copied: 3\n\n");
  EXPECT_EQ(ReadFile("PRINTLOG"),
            "2024.001 01:02:03Z VARNEK-II Client  Exec  I  rec 1\n"
            "2024.002 01:02:03Z VARNEK-II Client  Exec  I  rec 2\n"
            "2024.003 01:02:03Z VARNEK-II Client  Exec  I  rec 3\n");
  r = RunProgram({ProgramPath("vkc"), "PL"}, dir_.path());
  EXPECT_EQ(ReadFile("PL"), ReadFile("PRINTLOG"));

  ASSERT_EQ(unlink("PRINTLOG"), 0);
  ASSERT_EQ(mkdir("PRINTLOG", 0755), 0);
  r = RunProgram({ProgramPath("vkc"), "PRINTLOG"}, dir_.path());
  EXPECT_EQ(r.out, "Cannot create text file PRINTLOG\n");

  ASSERT_EQ(unlink("VKLogFile"), 0);
  r = RunProgram({ProgramPath("vkc"), "PRINTLOG"}, dir_.path());
  EXPECT_EQ(r.out, "Unable to open log file ...\n");
  EXPECT_EQ(r.err, "vkc: VKLogFile: No such file or directory\n");
  WriteFile("VKCVerboseLevel", "0\n");
  EXPECT_EQ(RunProgram({ProgramPath("vkc"), "PL"}, dir_.path()).out, "");
}

// Exec in this process, with a stand-in host program on PATH.
class ExecTest : public LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    saved_path_ = std::getenv("PATH");
    setenv("PATH", dir_.path().c_str(), 1);
    ASSERT_EQ(symlink(ProgramPath("fakehost").c_str(), "rasdup.k"), 0);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    verbose = 1;
    LogTest::TearDown();
  }
  // Runs Exec with standard output going to a file; returns that output.
  std::string ExecOutput(const char *cmd, int &rc) {
    std::fflush(stdout);
    int saved = dup(1);
    int out = open("exec.out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    rc = Exec(cmd);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(out);
    return ReadFile("exec.out");
  }
  std::string saved_path_;
};

TEST_F(ExecTest, PassesTheStatusBackAndLogsEveryCommand) {
  int rc = 0;
  for (int level : {0, 1, 2}) {
    verbose = level;
    std::string out = ExecOutput("RASDUP SAY=hello EXIT=3", rc);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(out, level > 1 ? "fakehost: hello\nRASDUP SAY=hello EXIT=3\n" : "fakehost: hello\n");
    EXPECT_EQ(Block().Current_Record, level + 1);
    RECORD_TYPE r = Entry(level + 1);
    EXPECT_STREQ(r.Function, "Exec");
    EXPECT_STREQ(r.Status, "I");
    EXPECT_STREQ(r.Comment, "RASDUP SAY=hello EXIT=3");
  }
  verbose = 1;
  EXPECT_EQ(ExecOutput("NOSUCHCMD A", rc), "");
  EXPECT_EQ(rc, -2);
  EXPECT_STREQ(Entry(4).Comment, "NOSUCHCMD A");
  EXPECT_STREQ(Entry(4).Function, "Exec");

  std::string long_command = "RASDUP " + std::string(200, 'a');
  ExecOutput(long_command.c_str(), rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::string(Entry(5).Comment), long_command.substr(0, 156) + "...");
}

}  // namespace

namespace {

// The client's log helper: a log that cannot take entries is reported once
// per run, however many entries fail.
TEST_F(LogTest, FailingLogIsReportedOncePerRun) {
  ASSERT_EQ(mkdir("VKLogFile", 0755), 0);  // no log can be made under this name
  std::string err = testing_support::CaptureStream(tv::kErrorStream, [] {
    LogEntry("Exec", "one");
    LogEntry("Exec", "two");
    LogEntry("CheckArea", "three");
  });
  EXPECT_EQ(err, std::string(tv::ProgramName()) + ": VKLogFile: log entry not written: Is a directory\n");
}

}  // namespace
