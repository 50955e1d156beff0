// Two machines end to end: tools/scenario run in a temporary directory
// inside a session the test holds, then its outcomes checked (not its
// output): the client's copies, the frames' directories, the frame
// pictures, the log, a quiet cycle, and the follower's frames.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

using testing_support::Exists;
using testing_support::FakeSession;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;

// 2024-06-21 15:10:00 UTC: the images were taken at 14:00, 14:30 and
// 15:00 of that day (2024173).
constexpr const char *kNow = "1718982600";
constexpr int kDay = 2024173;

std::uint32_t BigEndian(const std::string &s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return v;
}

// The number of bytes a PNG's image data inflate to; -1 when they do not.
long Inflated(const std::string &png, std::size_t room) {
  std::string idat;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    std::uint32_t length = BigEndian(png, at);
    if (at + 12 + length > png.size()) return -1;
    if (png.compare(at + 4, 4, "IDAT") == 0) idat += png.substr(at + 8, length);
    at += 12 + length;
  }
  std::vector<unsigned char> raw(room + 1);
  uLongf size = raw.size();
  if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef *>(idat.data()), idat.size()) != Z_OK) return -1;
  return static_cast<long>(size);
}

int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class EndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    session_ = new FakeSession(12);
    scratch_ = dir_->path() + "/run";
    result_ = new RunResult(RunProgram({"/bin/bash", VARNEK_SOURCE_DIR "/tools/scenario", testing_support::BinDir(),
                                        VARNEK_KIT_BIN_DIR, scratch_},
                                       dir_->path(), Env(), 120000));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete session_;
    delete dir_;
  }
  static testing_support::EnvChanges Env() {
    return {{"TVENV_POSUC", std::to_string(session_->id())},
            {"VARNEK_SCENARIO_SESSION", "1"},
            {"VARNEK_TEST_NOW", kNow},
            {"TZ", "UTC"}};
  }
  // Frame f's directory words 1 and 2 (date, time) as "date time".
  static std::string Frame(int f) {
    RunResult r = RunProgram({testing_support::ProgramPath("tvprobe"), "GETFRM", std::to_string(f)}, dir_->path(),
                             Env());
    std::string prefix = "getfrm=0 ";
    return r.out.rfind(prefix, 0) == 0 ? r.out.substr(prefix.size(), r.out.size() - prefix.size() - 1) : r.out;
  }
  static std::string Server(const std::string &file) { return ReadFile(scratch_ + "/server/tavrin/data/" + file); }
  static std::string Client(const std::string &file) { return ReadFile(scratch_ + "/client/" + file); }

  static TempDir *dir_;
  static FakeSession *session_;
  static std::string scratch_;
  static RunResult *result_;
};

TempDir *EndToEndTest::dir_ = nullptr;
FakeSession *EndToEndTest::session_ = nullptr;
std::string EndToEndTest::scratch_;
RunResult *EndToEndTest::result_ = nullptr;

TEST_F(EndToEndTest, TheScenarioRunsThrough) {
  EXPECT_EQ(result_->status, 0) << result_->out << result_->err;
  EXPECT_FALSE(result_->timed_out);
  // Every command succeeded but the health checks after the server failed.
  EXPECT_EQ(Count(result_->out, "(exit status"), 2) << result_->out;
  EXPECT_EQ(Count(result_->out, "30m stalled"), 5) << result_->out;  // three hours on, every record
  EXPECT_NE(result_->out.find("fetch-failed (status 1)\n(exit status 2)"), std::string::npos) << result_->out;
}

TEST_F(EndToEndTest, CopiesAreByteIdenticalAtTheirRingPositions) {
  // Image ring 1..6: the first cycle took image 2 (the newest), the second
  // image 3.  Point data and grid rings take each new item in turn.
  const std::pair<const char *, const char *> copies[] = {
      {"tavrin/data/LOC/G8IR/AREA0001", "AREA0002"}, {"tavrin/data/LOC/G8IR/AREA0002", "AREA0003"},
      {"tavrin/data/LOC/SFC/MDXX0001", "MDXX0001"},  {"tavrin/data/LOC/SFC/MDXX0002", "MDXX0002"},
      {"tavrin/data/LOC/ETA/GRID0001", "GRID0001"},  {"tavrin/data/LOC/ETA/GRID0002", "GRID0002"}};
  for (const auto &[local, remote] : copies) {
    ASSERT_TRUE(Exists(scratch_ + "/client/" + local)) << local;
    EXPECT_EQ(Client(local), Server(remote)) << local << " is not " << remote;
  }
  EXPECT_FALSE(Exists(scratch_ + "/client/tavrin/data/LOC/G8IR/AREA0003"));
  EXPECT_FALSE(Exists(scratch_ + "/client/tavrin/data/LOC/SFC/MDXX0003"));
  EXPECT_FALSE(Exists(scratch_ + "/client/tavrin/data/LOC/ETA/GRID0003"));
}

TEST_F(EndToEndTest, TheTextProductCameThroughFtp) {
  if (result_->out.find("(no text record") != std::string::npos)
    GTEST_SKIP() << "the ftp client (Debian package ftp) or the ftp server (python3-pyftpdlib) is missing; "
                    "tools/setup installs them";
  ASSERT_TRUE(Exists(scratch_ + "/client/work/BULLETIN.TXT"));
  EXPECT_EQ(Client("work/BULLETIN.TXT"), Server("BULLETIN.TXT"));
}

TEST_F(EndToEndTest, FramesHoldTheImagesAndTheFollowerLinesUp) {
  const std::string day = std::to_string(kDay);
  // Record 1 displays its copies in frames 1..4; record 4 follows it into
  // frames 5..8 with the same image times, and LOAD put the older 14:00
  // image of record 4 into an empty frame of its loop.
  EXPECT_EQ(Frame(1), day + " 143000");
  EXPECT_EQ(Frame(2), day + " 150000");
  EXPECT_EQ(Frame(5), Frame(1));
  EXPECT_EQ(Frame(6), Frame(2));
  EXPECT_EQ(Frame(8), day + " 140000");
  EXPECT_EQ(Frame(3), "0 0");
  EXPECT_EQ(Frame(7), "0 0");
}

TEST_F(EndToEndTest, EachDisplayedFrameHasAPictureOfTheMagnifiedSize) {
  // 240 x 240 images shown with MAG=2 2: 480 lines of 480 elements.
  for (int f : {1, 2, 5, 6, 8}) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%04d.png", f);
    std::string png = Client(std::string("tavrin/frames/") + name);
    ASSERT_GT(png.size(), 33u) << name;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
    EXPECT_EQ(png.substr(12, 4), "IHDR") << name;
    EXPECT_EQ(BigEndian(png, 16), 480u) << name;
    EXPECT_EQ(BigEndian(png, 20), 480u) << name;
    EXPECT_NE(png.find("IEND"), std::string::npos) << name;
    EXPECT_EQ(Inflated(png, 480 * 481), 480 * 481) << name;  // a filter byte, then 480 gray pixels a line
  }
  EXPECT_FALSE(Exists(scratch_ + "/client/tavrin/frames/frame0003.png"));
  // The loop runs over record 1's frames; the viewer's state file tells
  // what each drawn frame shows, and the viewer follows it.
  const std::string state = Client("tavrin/frames/loop-state.js");
  for (const char *line : {"\"loop 1 500 1 2 3 4\"", "\"frame 1 2024173 143000 480 480 ", " LOC/G8IR\"",
                           "\"frame 2 2024173 150000 480 480 ", "\"frame 8 2024173 140000 480 480 ", "RTIM/G8VS\""})
    EXPECT_NE(state.find(line), std::string::npos) << line << " in\n" << state;
  EXPECT_EQ(state.find("\"frame 3 "), std::string::npos) << state;
  EXPECT_NE(Client("tavrin/frames/loop.html").find("loop-state.js"), std::string::npos);
}

TEST_F(EndToEndTest, TheStationPageShowsEachDisplayedRecordsLatestFrame) {
  // Written beside the frames at the end of the run, with the server failing.
  const std::string page = Client("tavrin/frames/station.html");
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"60\">"), std::string::npos);
  EXPECT_NE(page.find("2024-06-21 15:10:00 UTC"), std::string::npos) << "the time it was written";
  EXPECT_NE(page.find("<a href=\"loop.html\"><img src=\"frame0002.png?v="), std::string::npos) << page;
  EXPECT_NE(page.find("<a href=\"loop.html\"><img src=\"frame0006.png?v="), std::string::npos) << page;
  EXPECT_EQ(Count(page, "data-state=\"on time\""), 5) << page;
  EXPECT_NE(page.find("fetch-failed (status 1)"), std::string::npos);
  EXPECT_NE(result_->out.find("the station page:     " + scratch_ + "/client/tavrin/frames/station.html"),
            std::string::npos);
}

TEST_F(EndToEndTest, TheLogHoldsEachCheckOnceAndTheQuietCycleCopiedNothing) {
  std::string log = Client("work/PRINTLOG");
  EXPECT_EQ(Count(log, "CheckArea  I  Loading new image: 2"), 2);  // record 1, then its follower
  EXPECT_EQ(Count(log, "CheckArea  I  Loading new image: 3"), 2);
  EXPECT_EQ(Count(log, "CheckPnts  I  Loading new MD file: 1"), 1);
  EXPECT_EQ(Count(log, "CheckPnts  I  Loading new MD file: 2"), 1);
  EXPECT_EQ(Count(log, "CheckGrid  I  Loading new grid: 1"), 1);
  EXPECT_EQ(Count(log, "CheckGrid  I  Loading new grid: 2"), 1);
  // Three cycles fetched the table; after the third fetch (nothing new)
  // the log holds no copy, only the operator's LOAD and LOOP.
  EXPECT_EQ(Count(log, "PEEKTX RTIM/VKS DEV=T COMPARE2"), 3);
  std::string after = log.substr(log.rfind("PEEKTX RTIM/VKS DEV=T COMPARE2"));
  for (const char *copy : {"RASDUP", "OBSDUP", "MESHDUP", "VKTransfer", "Loading new"})
    EXPECT_EQ(after.find(copy), std::string::npos) << copy << " after the quiet cycle:\n" << after;
}

TEST_F(EndToEndTest, HealthShowsTheFailedServerAfterItsTableWentAway) {
  // The last cycle of the run could not fetch the server's table: every
  // record is still on time (10 to 40 minutes old), the server is failing.
  RunResult r = RunProgram({testing_support::ProgramPath("vkhealth"), scratch_ + "/client/work"}, dir_->path(), Env());
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("fetch-failed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("late"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("stalled"), std::string::npos) << r.out;
}

}  // namespace
