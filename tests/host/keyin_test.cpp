// Running host command programs, the output streams and sleeping.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "host/host.h"
#include "host/internal.h"
#include "tests/support/support.h"

using testing_support::CaptureStream;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A PATH directory holding stand-in host programs; PATH and FAKEHOST_LOG
// point at it for the test's duration.
class KeyinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir_.path().c_str(), 1);
    setenv("FAKEHOST_LOG", log().c_str(), 1);
    unsetenv("TVPATH");
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("FAKEHOST_LOG");
    unsetenv("TVPATH");
  }
  void Install(const std::string &name) {
    std::string target = testing_support::ProgramPath("fakehost");
    ASSERT_EQ(symlink(target.c_str(), (dir_ / name).c_str()), 0);
  }
  std::string log() const { return dir_ / "log"; }

  TempDir dir_;
  std::string saved_path_;
};

TEST_F(KeyinTest, RunsLowerCaseWordDotKWithOneStringArgv) {
  Install("rasdup.k");
  EXPECT_EQ(Tvskeyin("  RASDUP A/B.1 LOC/B.2 EXIT=3"), 3);
  EXPECT_EQ(ReadFile(log()), "argc=2\nargv0=[ ]\nargv1=[  RASDUP A/B.1 LOC/B.2 EXIT=3]\n");
}

TEST_F(KeyinTest, MissingProgramStartsNothing) {
  EXPECT_EQ(Tvskeyin("NOSUCH A B"), kTvKeyinNotFound);
  EXPECT_EQ(Tvskeyin(""), kTvKeyinNotFound);
  EXPECT_FALSE(testing_support::Exists(log()));
}

TEST_F(KeyinTest, KilledOrUnstartableChildGivesMinusOne) {
  Install("rasdup.k");
  EXPECT_EQ(Tvskeyin("RASDUP KILLSELF"), kTvKeyinFailed);
  EXPECT_EQ(Tvskeyin("RASDUP EXIT=127"), kTvKeyinFailed);
  EXPECT_EQ(Tvskeyin("RASDUP EXIT=255"), 255);
  // An executable file the system cannot start.
  WriteFile(dir_ / "broken.k", "\x7f" "ELF garbage");
  chmod((dir_ / "broken.k").c_str(), 0755);
  EXPECT_EQ(Tvskeyin("BROKEN"), kTvKeyinFailed);
}

TEST_F(KeyinTest, SlashBecomesKill) {
  Install("kill.k");
  EXPECT_EQ(Tvskeyin(" / 5"), 0);
  EXPECT_NE(ReadFile(log()).find("argv1=[ KILL 5]"), std::string::npos) << ReadFile(log());
}

TEST_F(KeyinTest, BatchRequestsRunThroughRun) {
  Install("run.k");
  EXPECT_EQ(Tvskeyin("'MYJOB A 'b c' K=V"), 0);
  EXPECT_NE(ReadFile(log()).find("argv1=[RUN A 'b c' K=V FILE=MYJOB]"), std::string::npos)
      << ReadFile(log());

  // A word without program but with a batch file on the search path.
  WriteFile(dir_ / "NIGHTLY.TVB", "batch\n");
  setenv("TVPATH", dir_.path().c_str(), 1);
  EXPECT_EQ(Tvskeyin("NIGHTLY 3 EXIT=4"), 4);
  EXPECT_NE(ReadFile(log()).find("argv1=[RUN 3 EXIT=4 FILE=NIGHTLY]"), std::string::npos)
      << ReadFile(log());
  EXPECT_EQ(Tvskeyin("NOBATCH 3"), kTvKeyinNotFound);
}

TEST_F(KeyinTest, TerminateWhileWaitingGoesToTheChild) {
  Install("slow.k");
  // The program terminates its caller until it is ended itself.
  EXPECT_EQ(Tvskeyin("SLOW TERMPARENT"), kTvKeyinFailed);  // the child died of it; we did not
}

TEST(Streams, LinesAreCollectedUntilTheNewline) {
  tv::SetProgramName("vkc");
  std::string err = CaptureStream(tv::kErrorStream, [] {
    Tveprintf("abc");
    Tveprintf("def\nghi  ");
    Tveprintf("\n");
  });
  EXPECT_EQ(err, "vkc: abcdef\nvkc: ghi\n");
  tv::Session().streams[tv::kDebugStream].line_mode = 2;
  std::string debug = CaptureStream(tv::kDebugStream, [] { Tvdprintf("Cmd: %s\n", "X"); });
  tv::Session().streams[tv::kDebugStream].line_mode = 0;
  EXPECT_EQ(debug, "vkc* Cmd: X\n");
  EXPECT_EQ(CaptureStream(tv::kDebugStream, [] {}), "");
}

TEST(Streams, LineModes) {
  tv::SetProgramName("p");
  auto in_mode = [](int mode, int window, auto body) {
    tv::StreamSetting &s = tv::Session().streams[tv::kStandardStream];
    int saved = s.line_mode;
    s.line_mode = mode;
    tv::Session().text_window = window;
    std::string out = CaptureStream(tv::kStandardStream, body);
    s.line_mode = saved;
    tv::Session().text_window = 0;
    return out;
  };
  EXPECT_EQ(in_mode(4, 0, [] { Tvprintf("short\n"); }), "short" + std::string(75, ' '));
  EXPECT_EQ(in_mode(4, 0, [] { Tvprintf("%s\n", std::string(90, 'a').c_str()); }), std::string(80, 'a'));
  EXPECT_EQ(in_mode(5, 0, [] { Tvprintf("crlf  \n"); }), "crlf  \r\n");
  EXPECT_EQ(in_mode(7, 0, [] { Tvprintf("gone\n"); }), "");
  EXPECT_EQ(in_mode(1, 0, [] { Tvprintf("plain \n"); }), "plain\n");
  EXPECT_EQ(in_mode(1, 1, [] { Tvprintf("win\n"); }), std::string("\x02\x00\x03\x00win\n", 8));
  // The error stream marks lines that report completion.
  tv::StreamSetting &e = tv::Session().streams[tv::kErrorStream];
  int saved = e.line_mode;
  e.line_mode = 1;
  tv::Session().text_window = 1;
  std::string err = CaptureStream(tv::kErrorStream, [] { Tveprintf("DONE: SET.\n"); Tveprintf("bad\n"); });
  e.line_mode = saved;
  tv::Session().text_window = 0;
  EXPECT_EQ(err, std::string("\x02\x00\x03\x07p: DONE: SET.\n\x02\x00\x03\x0ep: bad\n", 29));
}

TEST(Sleep, WaitsAtLeastTheGivenTime) {
  auto start = std::chrono::steady_clock::now();
  Tvsleep(0);
  Tvsleep(-5);
  Tvsleep(150);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(150));
}

}  // namespace
