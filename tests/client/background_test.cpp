// VKC BACKGROUND and OFF: the marker's states, a loop that runs cycles back
// to back and ends when its marker goes, OFF killing a running loop, and a
// loop killed in the middle of a cycle.  Every loop runs in a process
// session of its own (a wrong signal could not reach the test), and events
// are ordered through FIFOs the stand-in host programs write to.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "client/health.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

class BackgroundTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    PutServer(1, "RTIM", "10.0.0.4");
    Table("RTIM", {});
    ASSERT_EQ(mkfifo((dir_ / "notify").c_str(), 0600), 0);
    // Held open for reading and writing: the stand-in programs' writes never
    // fail for want of a reader, and reads wait for them.
    notify_ = ::open((dir_ / "notify").c_str(), O_RDWR);
    ASSERT_GE(notify_, 0);
    extra_env_["FAKEHOST_NOTIFY"] = dir_ / "notify";
  }
  void TearDown() override {
    if (loop_ > 0) {
      kill(-loop_, SIGKILL);
      waitpid(loop_, nullptr, 0);
    }
    ::close(notify_);
  }
  // Starts `vkc BG <args>` in a session of its own, output to a file.
  void StartLoop(const std::string &interval) { loop_ = StartVkc({"BG", interval}, dir_ / "loop.out"); }
  // Waits until the loop's fetch has run `count` times.
  void AwaitFetches(int count) {
    for (int i = 0; i < count; ++i) {
      char byte;
      ASSERT_EQ(read(notify_, &byte, 1), 1);
    }
  }
  // The loop's end: its exit status, or 128 + the signal that ended it.
  int AwaitLoopEnd() {
    int status = 0;
    EXPECT_EQ(waitpid(loop_, &status, 0), loop_);
    loop_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string LoopOutput() { return ReadFile(dir_ / "loop.out"); }
  std::string Log() {
    return testing_support::RunProgram({testing_support::ProgramPath("query_logfile"), "VKLogFile"}, dir_.path()).out;
  }
  int notify_ = -1;
  pid_t loop_ = -1;
};

TEST_F(BackgroundTest, BackToBackCyclesEndWhenTheMarkerIsRemovedByHand) {
  Verbose(2);
  StartLoop("0");
  AwaitFetches(3);  // three cycles, with no pause between them
  std::string marker = ReadFile(dir_ / "VKBackGround");
  EXPECT_EQ(marker.back(), '\n');
  ASSERT_EQ(unlink((dir_ / "VKBackGround").c_str()), 0);
  EXPECT_EQ(AwaitLoopEnd(), 0);
  std::string out = LoopOutput();
  EXPECT_EQ(out.rfind("VARNEK-II - Starting Background Job ... \nVARNEK Crawling ...\n", 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 16), "VARNEK dead ...\n");
  EXPECT_NE(Log().find("ClientBGJob  I  VARNEK-II - Starting Background Job ... "), std::string::npos);
}

TEST_F(BackgroundTest, OffKillsARunningLoopAndRemovesItsMarker) {
  StartLoop("15");
  AwaitFetches(1);
  RunResult r = Vkc({"BG"});
  EXPECT_EQ(r.out, "Check whether background job is already running...\nVARNEK-II - Already In Background ...\n");
  r = Vkc({"O"});
  EXPECT_EQ(r.out, "VARNEK-II is shuting down ...\nVarnek II background process killed.\n");
  EXPECT_EQ(AwaitLoopEnd(), 128 + SIGKILL);
  EXPECT_FALSE(testing_support::Exists(dir_ / "VKBackGround"));
  EXPECT_NE(Log().find("ClientBGOff  I  VARNEK-II is shuting down ..."), std::string::npos);
  r = Vkc({"OFF"});
  EXPECT_EQ(r.out, "VARNEK-II - Is not currently running ...\n");
}

TEST_F(BackgroundTest, StaleAndDamagedMarkers) {
  // A process number that no process has, and contents that are no process
  // number at all: stale, never probed or signalled.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  for (const std::string &content : {std::to_string(gone) + "\n", std::string("0\n"), std::string("-1\n"),
                                     std::string("abc\n"), std::string("")}) {
    testing_support::WriteFile(dir_ / "VKBackGround", content);
    RunResult r = Vkc({"BG"});
    EXPECT_EQ(r.out, "Check whether background job is already running...\nVKBackGround file exists but the background "
                     "process is dead.\nPlease run 'VKC BG' again to restart the Varnek II.\n")
        << content;
    EXPECT_FALSE(testing_support::Exists(dir_ / "VKBackGround"));
    testing_support::WriteFile(dir_ / "VKBackGround", content);
    r = Vkc({"OFF"});
    EXPECT_EQ(r.out, "VARNEK-II is shuting down ...\nVarnek II background process was not running.\n") << content;
    EXPECT_FALSE(testing_support::Exists(dir_ / "VKBackGround"));
  }
  // A marker that cannot be created: the loop does not start.
  extra_env_["VARNEK_FAULTS"] = "create/0:1:EACCES";
  RunResult r = Vkc({"BG"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("VKBackGround cannot be created: Permission denied; the background job does not start."),
            std::string::npos)
      << r.err;
}

TEST_F(BackgroundTest, LoopKilledInTheMiddleOfACycleLeavesALockTheNextCycleTakesOver) {
  ASSERT_EQ(mkfifo((dir_ / "hold").c_str(), 0600), 0);
  int hold = ::open((dir_ / "hold").c_str(), O_RDWR);  // the fetch waits until this is closed
  ASSERT_GE(hold, 0);
  extra_env_["FAKEHOST_HOLD"] = dir_ / "hold";
  StartLoop("5");
  AwaitFetches(1);  // the loop's cycle is inside its fetch now
  EXPECT_TRUE(testing_support::Exists(dir_ / kCyclePidFile));
  RunResult r = Vkc({"OFF"});
  EXPECT_EQ(AwaitLoopEnd(), 128 + SIGKILL);
  ::close(hold);  // the orphaned fetch ends
  extra_env_.erase("FAKEHOST_HOLD");
  EXPECT_TRUE(testing_support::Exists(dir_ / kCyclePidFile));
  r = Vkc({"CYCLE"});
  EXPECT_NE(r.err.find("Check using kill failed: No such process"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Complete cycle transfer ..."), std::string::npos);
  EXPECT_FALSE(testing_support::Exists(dir_ / kCyclePidFile));
}

TEST_F(BackgroundTest, PassKilledHalfWayLeavesThePreviousHealthFile) {
  extra_env_["VARNEK_TEST_NOW"] = "1704110400";
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  char byte;
  ASSERT_EQ(::read(notify_, &byte, 1), 1);  // that cycle's fetch
  const std::string before = testing_support::ReadFile(dir_ / health::kHealthFile);
  ASSERT_NE(before.find("pass 1704110400 "), std::string::npos) << before;

  ASSERT_EQ(mkfifo((dir_ / "hold").c_str(), 0600), 0);
  int hold = ::open((dir_ / "hold").c_str(), O_RDWR);  // the fetch waits until this is closed
  ASSERT_GE(hold, 0);
  extra_env_["FAKEHOST_HOLD"] = dir_ / "hold";
  extra_env_["VARNEK_TEST_NOW"] = "1704200000";
  StartLoop("5");
  AwaitFetches(1);  // the loop's pass is inside its fetch now
  (void)Vkc({"OFF"});
  EXPECT_EQ(AwaitLoopEnd(), 128 + SIGKILL);
  ::close(hold);
  EXPECT_EQ(testing_support::ReadFile(dir_ / health::kHealthFile), before);
  health::HealthFile file;
  std::string why;
  EXPECT_EQ(health::ReadHealth((dir_ / health::kHealthFile).c_str(), file, why), health::kHealthOk) << why;
}

}  // namespace
}  // namespace test_cycle
