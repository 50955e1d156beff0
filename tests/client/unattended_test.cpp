// The client left running unattended against servers and directories it
// does not control: it signals only processes the kernel names as holders
// of its marker files, starts exactly one cycle or loop of two started
// together, never writes through a link, never counts a failed copy or a
// future-dated item as taken, and ends when a terminating signal reaches
// it.  Every process here runs in a session of its own, and events are
// ordered through FIFOs the stand-in host programs write to.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/health.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

using Lines = std::vector<std::string>;
using testing_support::Exists;
using testing_support::LockHolder;

const std::string kFetch = "WAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2";

class UnattendedTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    ASSERT_EQ(mkfifo((dir_ / "notify").c_str(), 0600), 0);
    // Held open for reading and writing: the stand-in programs' writes never
    // fail for want of a reader, and reads wait for them.
    notify_ = ::open((dir_ / "notify").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(notify_, 0);
    extra_env_["FAKEHOST_NOTIFY"] = dir_ / "notify";
  }
  void TearDown() override {
    for (pid_t pid : started_) {
      kill(-pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (hold_ >= 0) ::close(hold_);
    ::close(notify_);
  }
  pid_t Start(const std::vector<std::string> &args, const std::string &out) {
    started_.push_back(StartVkc(args, dir_ / out));
    return started_.back();
  }
  // Host commands from now on wait, once started, until Release.
  void HoldCommands() {
    if (!Exists(dir_ / "hold")) {
      ASSERT_EQ(mkfifo((dir_ / "hold").c_str(), 0600), 0);
    }
    hold_ = ::open((dir_ / "hold").c_str(), O_RDWR | O_CLOEXEC);  // never inherited: its close releases the commands
    ASSERT_GE(hold_, 0);
    extra_env_["FAKEHOST_HOLD"] = dir_ / "hold";
  }
  void Release() {
    ::close(hold_);
    hold_ = -1;
  }
  void AwaitCommandStart() {
    char byte;
    ASSERT_EQ(::read(notify_, &byte, 1), 1);
  }
  // Waits at most `timeout_ms` for one started process to end: its index in
  // `pids` and its status (128 + signal, or the exit status), or -1.
  int AwaitAnyEnd(const std::vector<pid_t> &pids, int timeout_ms, int &status) {
    std::vector<pollfd> fds;
    for (pid_t pid : pids) fds.push_back({static_cast<int>(syscall(SYS_pidfd_open, pid, 0)), POLLIN, 0});
    int ended = -1;
    if (poll(fds.data(), fds.size(), timeout_ms) > 0)
      for (std::size_t i = 0; i < fds.size() && ended < 0; ++i)
        if (fds[i].revents) ended = static_cast<int>(i);
    for (pollfd &f : fds) ::close(f.fd);
    if (ended >= 0) status = Reap(pids[static_cast<std::size_t>(ended)]);
    return ended;
  }
  int Reap(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    std::erase(started_, pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  health::HealthFile Health() {
    health::HealthFile file;
    std::string why;
    EXPECT_EQ(health::ReadHealth((dir_ / health::kHealthFile).c_str(), file, why), health::kHealthOk) << why;
    return file;
  }

  int notify_ = -1;
  int hold_ = -1;
  std::vector<pid_t> started_;
};

TEST_F(UnattendedTest, MarkersNamingLiveProcessesThatHoldNoLockAreStale) {
  LockHolder live(dir_ / "unrelated", nullptr);  // alive, and holding nothing of ours
  const std::string pid = std::to_string(live.pid());
  WriteFile(dir_ / "VKBackGround", pid + "\n");
  RunResult r = Vkc({"OFF"});
  EXPECT_EQ(r.out, "VARNEK-II is shuting down ...\nVarnek II background process was not running.\n");
  WriteFile(dir_ / "VKBackGround", pid + "\n");
  r = Vkc({"BG"});
  EXPECT_NE(r.out.find("VKBackGround file exists but the background process is dead.\n"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(dir_ / "VKBackGround"));
  WriteFile(dir_ / kCyclePidFile, pid + " 0\n");  // far past the age limit
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(kill(live.pid(), 0), 0) << "a process named in a stale marker was signalled";

  // A loop that holds its marker but is not the process the marker names
  // is not stopped either; the marker goes, and the loop with it.
  LockHolder loop(dir_ / "VKBackGround", (pid + "\n").c_str());
  r = Vkc({"OFF"});
  EXPECT_EQ(r.out, "VARNEK-II is shuting down ...\nVarnek II background process was not running.\n");
  EXPECT_EQ(kill(loop.pid(), 0), 0);
  EXPECT_FALSE(Exists(dir_ / "VKBackGround"));
}

TEST_F(UnattendedTest, ALoopWhoseMarkerNoLongerNamesItEndsAtItsNextPass) {
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  pid_t loop = Start({"BG", "0"}, "loop.out");
  AwaitCommandStart();
  WriteFile(dir_ / "VKBackGround", "1\n");  // the same file, naming another process
  EXPECT_EQ(Reap(loop), 0);
  EXPECT_NE(ReadFile(dir_ / "loop.out").find("VARNEK dead ...\n"), std::string::npos);
}

TEST_F(UnattendedTest, ProcessOneNamedInAMarkerIsNeverSignalled) {
  if (testing_support::RunProgram({"/usr/bin/unshare", "-fp", "--mount-proc", "/bin/true"}, dir_.path()).status != 0)
    GTEST_SKIP() << "no new PID namespace may be made here (unshare -fp --mount-proc is refused)";
  // In a PID namespace of its own the shell is process 1.
  const std::string vkc = testing_support::ProgramPath("vkc");
  RunResult r = testing_support::RunProgram(
      {"/usr/bin/unshare", "-fp", "--mount-proc", "/bin/sh", "-c",
       "echo 1 > VKBackGround; '" + vkc + "' OFF; echo '1 0' > VKCPid; '" + vkc + "' CYCLE; echo survived $$"},
      dir_.path(), Env());
  EXPECT_NE(r.out.find("Varnek II background process was not running.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Check using kill failed: No such process"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("survived 1\n"), std::string::npos) << r.out;
}

TEST_F(UnattendedTest, OfTwoCyclesStartedTogetherExactlyOneRuns) {
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  for (int trial = 0; trial < 20; ++trial) {
    HoldCommands();
    std::vector<pid_t> pids = {Start({"CYCLE"}, "a.out"), Start({"CYCLE"}, "b.out")};
    AwaitCommandStart();  // one cycle is inside its fetch
    int status = -1;
    int ended = AwaitAnyEnd(pids, 10000, status);
    ASSERT_GE(ended, 0) << "trial " << trial << ": both cycles run";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(dir_ / (ended == 0 ? "a.out" : "b.out")),
              "VKC cycle still running, no need to start another cycle\n");
    Release();
    EXPECT_EQ(Reap(pids[ended == 0 ? 1 : 0]), 0);
    EXPECT_EQ(HostCommands(), Lines{kFetch}) << "trial " << trial;
    EXPECT_FALSE(Exists(dir_ / kCyclePidFile));
  }
}

TEST_F(UnattendedTest, OfTwoLoopsStartedTogetherExactlyOneLoops) {
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<pid_t> pids = {Start({"BG", "15"}, "a.out"), Start({"BG", "15"}, "b.out")};
    AwaitCommandStart();  // one loop's first cycle has started
    int status = -1;
    int ended = AwaitAnyEnd(pids, 10000, status);
    ASSERT_GE(ended, 0) << "trial " << trial << ": both loops run";
    EXPECT_EQ(status, 1);  // it did not start a loop
    EXPECT_EQ(ReadFile(dir_ / (ended == 0 ? "a.out" : "b.out")),
              "Check whether background job is already running...\nVARNEK-II - Already In Background ...\n");
    EXPECT_EQ(Vkc({"OFF"}).out, "VARNEK-II is shuting down ...\nVarnek II background process killed.\n");
    EXPECT_EQ(Reap(pids[ended == 0 ? 1 : 0]), 128 + SIGKILL);
    EXPECT_FALSE(Exists(dir_ / "VKBackGround"));
    (void)unlink((dir_ / kCyclePidFile).c_str());  // left if the loop was killed inside its cycle
  }
}

TEST_F(UnattendedTest, GeneratedFilesReplaceLinksAndNeverWriteThroughThem) {
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {});
  const char *names[] = {"VKCPid", "VKHealth", "COMPARE2", "VKBackGround", "PRINTLOG", "VKGetWSAvail", "VKTransfer"};
  for (const char *name : names) {
    WriteFile(dir_ / (std::string("victim.") + name), "victim\n");
    ASSERT_EQ(symlink((dir_ / (std::string("victim.") + name)).c_str(), (dir_ / name).c_str()), 0);
  }
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(Vkc({"BG"}).status, 1);  // a marker that is a link is stale: its name goes, no loop starts
  EXPECT_EQ(Vkc({"PRINTLOG"}).status, 0);
  EXPECT_EQ(Vkc({"INSTALL"}).status, 0);
  for (const char *name : names) {
    EXPECT_EQ(ReadFile(dir_ / (std::string("victim.") + name)), "victim\n") << name;
    struct stat st;
    if (lstat((dir_ / name).c_str(), &st) == 0) {
      EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    }
  }
  EXPECT_FALSE(Exists(dir_ / "VKCPid"));
  EXPECT_FALSE(Exists(dir_ / "VKBackGround"));
}

TEST_F(UnattendedTest, AFailedCopyIsNotTakenAndIsTriedAgainNextCycle) {
  ClientRec area = Area("RTIM", "G8IR");
  Work(area, 11, 20);
  Frames(area, 1, 4);
  PutClient(7, area);
  ClientRec md = ClientDefaults(MD);
  md.Status = Active;
  std::strcpy(md.Group, "RTIM");
  std::strcpy(md.Descriptor, "SFC");
  md.Data.Pnts.BegWS = md.Data.Pnts.NxtWS = 1, md.Data.Pnts.EndWS = 2;
  PutClient(8, md);
  ServerRec obs;
  (void)initServerRec(&obs, MD);
  obs.Status = Active;
  obs.fileMdate = 2024001, obs.fileMtime = 120000;
  std::strcpy(obs.ServerData.Md.Group, "RTIM");
  std::strcpy(obs.ServerData.Md.Descriptor, "SFC");
  obs.ServerData.Md.currentNum = 3;
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 123000), obs});

  extra_env_["FAKEHOST_FAIL"] = "RASDUP,OBSDUP";
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  // Nothing displayed from the position the copy did not fill, no record moved.
  EXPECT_EQ(HostCommands(), (Lines{kFetch, "RASDUP RTIM/G8IR.5 LOC/G8IR.1 BAND=ALL  SIZE=SAME  TWIN=0 MAG=4 4 ",
                                   "OBSDUP RTIM/SFC LOC/SFC.1 DELETE=YES"}));
  ClientRec a = Client(7);
  EXPECT_EQ(a.LastItem, 0);
  EXPECT_EQ(a.LastStamp, 0);
  EXPECT_EQ(a.Data.Area.NxtWS, 11);
  EXPECT_EQ(a.Data.Area.NxtFrame, 1);
  EXPECT_EQ(Client(8).LastItem, 0);
  EXPECT_EQ(Client(8).Data.Pnts.NxtWS, 1);
  health::HealthFile file = Health();
  ASSERT_EQ(file.records.size(), 2u);
  for (const health::RecordHealth &record : file.records) {
    EXPECT_EQ(record.failed_command, "copy");
    EXPECT_EQ(record.taken, 0);
  }

  // The next cycle takes both.
  extra_env_.erase("FAKEHOST_FAIL");
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(HostCommands(), (Lines{kFetch, "RASDUP RTIM/G8IR.5 LOC/G8IR.1 BAND=ALL  SIZE=SAME  TWIN=0 MAG=4 4 ",
                                   "RASVUE LOC/G8IR.1 1 LATLON=  40.0   90.0 MAG=4 2 BAND=ALL GRAY=YES TWIN=0 "
                                   "REF='ZRNG AUTO'",
                                   "OBSDUP RTIM/SFC LOC/SFC.1 DELETE=YES"}));
  EXPECT_EQ(Client(7).LastItem, 5);
  EXPECT_EQ(Client(8).LastItem, 3);
}

TEST_F(UnattendedTest, FutureDatedItemsAreNotTakenAndAGenuineNewerOneIs) {
  extra_env_["VARNEK_TEST_NOW"] = "1704110400";  // 2024-01-01 12:00 UTC
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "RTIM", "10.0.0.4");
  for (int date : {2024003, 9999999}) {
    Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, date, 120000)});
    RunResult r = Vkc({"CYCLE"});
    EXPECT_NE(r.out.find("Server 10.0.0.4: RTIM/G8IR item dated " + std::to_string(date) +
                         " 120000 is more than 24 hours ahead of this clock; not taken.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Client(7).LastStamp, 0);
    health::HealthFile file = Health();
    ASSERT_EQ(file.records.size(), 1u);
    EXPECT_EQ(file.records[0].failed_command, health::kFutureDatedWord);
  }
  // Up to a day ahead is believed (clocks and zones differ), and taken.
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 6, 2024002, 113000)});
  EXPECT_EQ(Vkc({"CYCLE"}).out.find("ahead of this clock"), std::string::npos);
  EXPECT_EQ(Client(7).LastItem, 6);
}

TEST_F(UnattendedTest, ACutTableIsAFailedFetchAndNothingIsCompared) {
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 120000)});
  std::string table = ReadFile(dir_ / "tables/RTIM_VKS");
  WriteFile(dir_ / "tables/RTIM_VKS", table.substr(0, table.size() / 2));
  RunResult r = Vkc({"CYCLE"});
  EXPECT_NE(r.err.find("COMPARE2 fetched for RTIM from 10.0.0.4 is 39500 bytes, not 79000; nothing compared."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Client(7).LastItem, 0);
  health::HealthFile file = Health();
  ASSERT_EQ(file.servers.size(), 1u);
  EXPECT_EQ(file.servers[0].outcome, health::kFetchFailed);
}

TEST_F(UnattendedTest, ATerminatingSignalEndsTheRunAndNothingFurtherStarts) {
  PutServer(1, "RTIM", "10.0.0.4");
  PutServer(2, "RTIM", "10.0.0.5");
  Table("RTIM", {});
  HoldCommands();
  pid_t vkc = Start({"CYCLE"}, "out");
  AwaitCommandStart();  // inside the first server's fetch
  ASSERT_EQ(kill(vkc, SIGTERM), 0);
  Release();  // a run that went on would fetch the second server now
  EXPECT_EQ(Reap(vkc), 128 + SIGTERM);
  EXPECT_EQ(HostCommands(), Lines{kFetch});  // the second server is never fetched

  // A program whose session parent is killed outright ends too: the pipe
  // it (and its fetch) inherited reads its end once every holder is gone.
  HoldCommands();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  vkc = Start({"CYCLE"}, "out");
  ::close(ends[1]);
  AwaitCommandStart();
  ASSERT_EQ(kill(vkc, SIGKILL), 0);
  EXPECT_EQ(Reap(vkc), 128 + SIGKILL);
  pollfd gone = {ends[0], POLLIN, 0};
  EXPECT_EQ(poll(&gone, 1, 10000), 1) << "the program ran on without its session parent";
  char byte;
  EXPECT_EQ(::read(ends[0], &byte, 1), 0);
  ::close(ends[0]);
  Release();
}

TEST_F(UnattendedTest, TransferNamesThatTheFtpClientWouldRunAreRefused) {
  for (const char *value : {"TO=|touch x", "FROM=!touch x"}) {
    RunResult r = Vkc({"CREATE", "5", "TYPE=TEXT", value});
    EXPECT_EQ(r.out.rfind("VKC SET error: TO= and FROM= name files; a name beginning with | or ! is refused.\n", 0), 0u)
        << r.out;
    EXPECT_EQ(Client(5).Status, 0) << value;
  }
}

}  // namespace
}  // namespace test_cycle
