// The cycle's parts in this process: time stamps, the image check's rules
// on a record held in memory, the merge that never undoes a concurrent
// change, the cycle lock, hostile tables and VKC COMPARE.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "client/internal.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

using Lines = std::vector<std::string>;

TEST(TimeStamps, MinutesSince1997) {
  struct Row {
    int date, time;
    std::int64_t stamp;
  } rows[] = {
      {1997001, 0, 0},          {1997001, 13000, 90},     {1997002, 0, 1440},      {97001, 13000, 90},
      {98123, 0, 122 * 1440 + 365 * 1440},                {2005001, 0, 2922 * 1440}, {5001, 0, 2922 * 1440},
      {105001, 0, 2922 * 1440}, {1996366, 235930, 0},     {1996366, 235900, -1},    {1997366, 0, 365 * 1440},
      {1997001, 3000059, 300 * 60},                        {2000060, 120000, (3 * 365 + 59) * 1440 + 720},
  };
  for (const Row &row : rows) {
    std::int64_t stamp = 12345;
    getTimeStamp(row.date, row.time, &stamp);
    EXPECT_EQ(stamp, row.stamp) << row.date << " " << row.time;
  }
  auto same = [](int a_date, int b_date) {
    std::int64_t a = 0, b = 0;
    getTimeStamp(a_date, 0, &a);
    getTimeStamp(b_date, 0, &b);
    return a == b;
  };
  EXPECT_TRUE(same(99365, 1999365));
  EXPECT_TRUE(same(96365, 2096365));
  EXPECT_TRUE(same(118123, 2018123));
}

// The image check on records held in memory, in a working directory of its
// own (a record that takes an image logs it; no host program is found, so
// the commands it runs fail quietly).
class CheckAreaTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    saved_path_ = std::getenv("PATH");
    setenv("PATH", (dir_ / "bin").c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    ASSERT_EQ(chdir(saved_), 0);
    client_internal::g_before_merge = nullptr;
  }
  static CompareRec Image(int position, int date, int time, int scan = 100) {
    CompareRec c{};
    c.CrntArea = position;
    c.ImageDate = date;
    c.ImageTime = time;
    c.ScanLine = scan;
    std::strcpy(c.Group, "RTIM");
    std::strcpy(c.Descriptor, "G8IR");
    std::strcpy(c.Satellite, "G8");
    c.Resolution = 4;
    return c;
  }
  // Runs the check of `image` against record 7 as `record` holds it; the
  // fields it changed.
  unsigned Check(ClientRec &record, const CompareRec &image) {
    PutClient(7, record);
    DBase db;
    EXPECT_EQ(DBOpen(&db, kClientFile, ""), 0);
    ClientTable table(&db);
    EXPECT_TRUE(table.Load());
    std::int64_t stamp = 0;
    getTimeStamp(image.ImageDate, image.ImageTime, &stamp);
    unsigned changed = CheckArea(image, stamp, 7, table.Record(7), table);
    record = *table.Record(7);
    (void)DBClose(&db);
    return changed;
  }
  char saved_[4096];
  std::string saved_path_;
};

TEST_F(CheckAreaTest, IncrementWindowCompletenessAndPercent) {
  std::int64_t s = 0;
  getTimeStamp(2024001, 120000, &s);
  struct Row {
    const char *what;
    int last_item;
    std::int64_t last_stamp;
    int complete, percent, rtime_b, rtime_e;
    CompareRec image;
    bool loads;
    int complete_after;
  } rows[] = {
      {"29 minutes after: not due", 5, s, 1, 100, 0, 60, Image(6, 2024001, 122900), false, 1},
      {"30 minutes after: due", 5, s, 1, 100, 0, 60, Image(6, 2024001, 123000), true, 1},
      {"same item, not due, complete", 6, s, 1, 100, 0, 60, Image(6, 2024001, 121000), false, 1},
      {"new item below the percent", 5, s - 60, 1, 100, 0, 60, Image(6, 2024001, 121000, 99), false, 0},
      {"window 50..10: minute 55", 5, 0, 1, 100, 50, 10, Image(6, 2024001, 125500), true, 1},
      {"window 50..10: minute 10", 5, 0, 1, 100, 50, 10, Image(6, 2024001, 121000), true, 1},
      {"window 50..10: minute 11", 5, 0, 1, 100, 50, 10, Image(6, 2024001, 121100), false, 1},
      {"window 50..10: minute 49", 5, 0, 1, 100, 50, 10, Image(6, 2024001, 124900), false, 1},
  };
  for (const Row &row : rows) {
    ClientRec r = Area("RTIM", "G8IR");
    r.LastItem = row.last_item;
    r.LastStamp = row.last_stamp;
    r.Data.Area.Complete = row.complete;
    r.Data.Area.Percent = row.percent;
    r.Data.Area.RtimeB = row.rtime_b;
    r.Data.Area.RtimeE = row.rtime_e;
    unsigned changed = Check(r, row.image);
    EXPECT_EQ(r.LastItem == 6 && r.LastItem != row.last_item, row.loads) << row.what;
    EXPECT_EQ(r.Data.Area.Complete, row.complete_after) << row.what;
    EXPECT_EQ((changed & kChangedLastItem) != 0, row.loads) << row.what;
  }
  // Another dataset's image resets the completeness flag all the same.
  ClientRec r = Area("RTIM", "OTHER");
  r.Data.Area.Percent = 101;
  EXPECT_EQ(Check(r, Image(6, 2024001, 123000)), kChangedComplete);
  EXPECT_EQ(r.Data.Area.Complete, 0);
  EXPECT_EQ(r.LastItem, 0);

  // At verbose level 2 a due image of the record's own says why its scan
  // lines keep it out (another dataset's says nothing).
  ::testing::internal::CaptureStdout();
  verbose = 2;
  ClientRec own = Area("RTIM", "G8IR");
  (void)Check(own, Image(6, 2024001, 123000, 80));
  (void)Check(r, Image(6, 2024001, 123000, 80));
  verbose = 1;
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Image 6 of RTIM/G8IR not taken: its scan-line count 80 is below PER=100.\n");
}

TEST_F(CheckAreaTest, UnknownServerResolutionNeverDivides) {
  ClientRec r = Area("RTIM", "G8IR");
  Frames(r, 1, 2);
  CompareRec image = Image(6, 2024001, 123000);
  image.Resolution = 0;
  ::testing::internal::CaptureStdout();
  verbose = 2;
  (void)Check(r, image);
  verbose = 1;
  std::fflush(stdout);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Image resolution on server is unknown; magnification 1 1 is used.\n"), std::string::npos);
  EXPECT_NE(out.find("RASVUE RTIM/G8IR.6 1 LATLON=  40.0   90.0 MAG=1 1 "), std::string::npos) << out;
}

// A SET made by another process between the cycle's read of a record and
// its write is never undone: only the fields the check changed are merged.
TEST_F(CheckAreaTest, ConcurrentChangeSurvivesTheMerge) {
  ClientRec r = Area("RTIM", "G8IR");
  Work(r, 1, 3);
  r.Data.Area.Increment = 30;
  PutClient(7, r);
  static std::string file;
  file = dir_ / kClientFile;
  client_internal::g_before_merge = [](int n) {
    // What "vkc SET 7 STATUS=INACTIVE INC=45" writes meanwhile.
    DBase db;
    ASSERT_EQ(DBOpen(&db, file.c_str(), ""), 0);
    ClientRec now;
    ASSERT_EQ(DBRead(&db, n, &now), 0);
    now.Status = Inactive;
    now.Data.Area.Increment = 45;
    ASSERT_EQ(DBWrite(&db, n, &now), 0);
    ASSERT_EQ(DBClose(&db), 0);
  };
  DBase db;
  ASSERT_EQ(DBOpen(&db, kClientFile, ""), 0);
  ClientTable table(&db);
  ASSERT_TRUE(table.Load());
  CompareRec image = Image(6, 2024001, 123000);
  std::int64_t stamp = 0;
  getTimeStamp(image.ImageDate, image.ImageTime, &stamp);
  unsigned changed = CheckArea(image, stamp, 7, table.Record(7), table);
  ASSERT_NE(changed & kChangedLastItem, 0u);
  ASSERT_EQ(table.Merge(7, changed), kClientOk);
  (void)DBClose(&db);
  ClientRec after = Client(7);
  EXPECT_EQ(after.Status, Inactive) << "the operator's change stays";
  EXPECT_EQ(after.Data.Area.Increment, 45);
  EXPECT_EQ(after.LastItem, 6) << "and the cycle's change is there too";
  EXPECT_EQ(after.Data.Area.NxtWS, 2);
  EXPECT_EQ(table.Record(7)->Status, Inactive) << "the copy held for the pass is the record as written";

  // A record replaced meanwhile (deleted and made anew for another dataset)
  // takes nothing of the check.
  client_internal::g_before_merge = [](int n) {
    DBase other;
    ASSERT_EQ(DBOpen(&other, file.c_str(), ""), 0);
    ClientRec fresh = ClientDefaults(MD);
    ASSERT_EQ(DBWrite(&other, n, &fresh), 0);
    ASSERT_EQ(DBClose(&other), 0);
  };
  ASSERT_EQ(DBOpen(&db, kClientFile, ""), 0);
  PutClient(7, r);
  ClientTable second(&db);
  ASSERT_TRUE(second.Load());
  changed = CheckArea(image, stamp, 7, second.Record(7), second);
  ASSERT_EQ(second.Merge(7, changed), kClientOk);
  (void)DBClose(&db);
  EXPECT_EQ(Client(7).DataType, MD);
  EXPECT_EQ(Client(7).LastItem, 0);
}

// The cycle lock: a lock file nobody holds is stale whatever it says; a
// holder is judged, and killed past the age limit, only when the file names
// it.  Every process here runs in a session of its own (a wrong signal
// could not reach this test).
TEST_F(CycleTest, CycleLockStatesAndUnsafeContents) {
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  extra_env_["VARNEK_TEST_NOW"] = "1000000";
  testing_support::LockHolder live(dir_ / "unrelated", nullptr);  // a live process that holds nothing of ours
  const std::string pid = std::to_string(live.pid());
  for (const std::string &content : {std::string("0 999999\n"), std::string("-1 999999\n"), std::string("abc\n"),
                                     std::string(""), std::string("2147483647 999999\n"), std::string("-2147483648 5\n"),
                                     pid + " 0\n", "+" + pid + "x 0\n", " " + pid + " 999999\n"}) {
    WriteFile(dir_ / kCyclePidFile, content);
    RunResult run = Vkc({"CYCLE"});
    EXPECT_EQ(run.status, 0) << content;
    EXPECT_EQ(run.out.find("still running"), std::string::npos) << content;
    EXPECT_NE(run.err.find("Check using kill failed: No such process"), std::string::npos) << run.err;
    EXPECT_FALSE(testing_support::Exists(dir_ / kCyclePidFile));
  }
  EXPECT_EQ(kill(live.pid(), 0), 0) << "a process named in a stale lock file was signalled";

  WriteFile(dir_ / kCycleMaxTimeFile, "5\n");
  {
    // Held by a process the file does not name: not judged, even past the limit.
    testing_support::LockHolder stranger(dir_ / kCyclePidFile, (pid + " 0\n").c_str());
    RunResult run = Vkc({"CYCLE"});
    EXPECT_EQ(run.out, "VKC cycle still running, no need to start another cycle\n");
    EXPECT_EQ(kill(stranger.pid(), 0), 0);
    EXPECT_EQ(kill(live.pid(), 0), 0);
  }
  HostCommands();
  // A live cycle younger than the limit: nothing happens.
  WriteFile(dir_ / kCycleMaxTimeFile, "600\n");
  testing_support::LockHolder other(dir_ / kCyclePidFile, "%PID% 999990\n");
  RunResult run = Vkc({"CYCLE"});
  EXPECT_EQ(run.out, "VKC cycle still running, no need to start another cycle\n");
  EXPECT_TRUE(HostCommands().empty());
  // Older than the limit set in VKCPidMaxTime: killed and taken over.
  WriteFile(dir_ / kCycleMaxTimeFile, "5\n");
  run = Vkc({"CYCLE"});
  EXPECT_NE(run.out.find("Complete cycle transfer ...\n"), std::string::npos) << run.out;
  EXPECT_EQ(other.AwaitEnd(), 128 + SIGKILL);
  EXPECT_FALSE(testing_support::Exists(dir_ / kCyclePidFile));
}

TEST_F(CycleTest, HostileTablesAreCutOrRefusedNeverACrash) {
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "RTIM", "10.0.0.4");
  PutServer(2, "OLD", "10.0.0.5", 1);
  Verbose(2);
  // Version 2: an overlong descriptor, a satellite of seven characters, a
  // group with a quote: those records are skipped with a message.
  ServerRec long_name = Image("RTIM", "G8IRFULLDISK1", 1, 100, 5, 2024001, 120000);
  ServerRec long_sat = Image("RTIM", "G8IR", 1, 100, 5, 2024001, 120000);
  std::strcpy(long_sat.ServerData.Area.dataSource, "GOES16X");
  ServerRec quote = Image("RT'M", "G8IR", 1, 100, 5, 2024001, 120000);
  Table("RTIM", {long_name, long_sat, quote});
  RunResult run = Vkc({"CYCLE"});
  EXPECT_NE(run.out.find("Server record 1 skipped: descriptor \"G8IRFULLDISK1\" is not a word of at most 12"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Server record 2 skipped: satellite \"GOES16X\""), std::string::npos);
  EXPECT_NE(run.out.find("Server record 3 skipped: group \"RT'M\""), std::string::npos);
  EXPECT_EQ(Client(7).LastItem, 0);
  // Binary bytes and a 10 MB line where a table should be (both versions).
  std::string junk(10u << 20, 'x');
  for (std::size_t i = 0; i < junk.size(); i += 997) junk[i] = static_cast<char>(i % 256);
  WriteFile(dir_ / "tables/RTIM_VKS", junk);
  WriteFile(dir_ / "tables/OLD_DAVARNEK_Y2K", "1 2\n" + junk + "\n3 - 1 100 7 2024001 140000 RTIM 100 0\n" +
                                                  "4 - 1 100 8 2024001 150000 RTIM 100 0 G8IR G8 4 extra\n");
  run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Line 3 of COMPARE2 does not match the version-1 pattern; skipped.\n"), std::string::npos);
  EXPECT_EQ(Client(7).LastItem, 8) << "a line with more after its twelve fields still reads, as scanning does";
}

TEST_F(CycleTest, CompareCommand) {
  PutClient(7, Area("RTIM", "G8IR"));
  RunResult run = Vkc({"COMPARE"});
  EXPECT_EQ(run.err, "vkc: COMPARE2: No such file or directory; nothing compared.\n");
  EXPECT_EQ(Vkc({"CO", "2"}).out, "Unknown VARNEK version number ...\n");
  EXPECT_EQ(Vkc({"CO", "1", "2"}).out, "Invalid number of positional arguments ...\n");
  WriteFile(dir_ / "COMPARE2", "1 2\n1 -  1 100 5 2024001 120000 RTIM 100 0 G8IR G8 4\n");
  EXPECT_EQ(Vkc({"COMPARE", "1"}).status, 0);
  EXPECT_EQ(Client(7).LastItem, 5);
  EXPECT_EQ(HostCommands(), Lines{}) << "no host command: neither a work ring nor frames";
  WriteFile(dir_ / "COMPARE2", "1 2\n");
  EXPECT_EQ(Vkc({"CO"}).status, 0);
}

}  // namespace
}  // namespace test_cycle
