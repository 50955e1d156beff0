// VKC LOAD, LOOP and STOP in a host session of ten frames whose directories
// a host program writes through the runtime's call, and the remote image
// directory read through a stand-in IMGDIR program.

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

using Lines = std::vector<std::string>;

class FramesTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    session_ = std::make_unique<testing_support::FakeSession>(10);
    extra_env_["TVENV_POSUC"] = std::to_string(session_->id());
    ClientRec r = Area("RTIM", "G8IR");
    Frames(r, 1, 4);
    r.Data.Area.serverRes = 4;
    std::strcpy(r.Data.Area.imgSat, "G8");
    PutClient(7, r);
  }
  // Shows an image of `date` at `time` in `frame`, as the display command
  // does (date 0: the frame is empty).
  void Show(int frame, int date, int time) {
    RunResult r = testing_support::RunProgram(
        {testing_support::ProgramPath("tvprobe"), "PUTFRM", std::to_string(frame), std::to_string(date),
         std::to_string(time)},
        dir_.path(), Env());
    ASSERT_EQ(r.out, "putfrm=0\n");
  }
  // The display command LOAD ran, or "" when it ran none.
  std::string Load(std::vector<std::string> args) {
    args.insert(args.begin(), "LOAD");
    last_ = Vkc(args);
    Lines commands = HostCommands();
    for (const std::string &c : commands)
      if (c.rfind("RASVUE", 0) == 0) return c;
    return "";
  }
  std::unique_ptr<testing_support::FakeSession> session_;
  RunResult last_;
};

const std::string kTail = " LATLON=  40.0   90.0 MAG=4 2 BAND=ALL GRAY=YES TWIN=0";

TEST_F(FramesTest, ImageGoesToTheFrameItsTimeBelongsIn) {
  Show(1, 2024001, 100000), Show(2, 2024001, 101500), Show(3, 2024001, 103000), Show(4, 2024001, 104500);
  struct Row {
    const char *image;
    int frame;
  } rows[] = {{"7:2024001:110000:0", 1}, {"7:2024001:90000:0", 1}, {"7:2024001:103000:0", 3},
              {"7:2024001:102000:0", 2}, {"7:24001:104500:0", 4}};
  for (const Row &row : rows) {
    extra_env_["FAKEHOST_IMAGES"] = std::string(row.image) + ";6:2024001:80000:2";
    EXPECT_EQ(Load({"7"}), "RASVUE RTIM/G8IR  " + std::to_string(row.frame) + kTail) << row.image;
  }
  // Empty frames count as the earliest.
  Show(3, 0, 0), Show(4, 0, 0), Show(2, 2024001, 101500);
  extra_env_["FAKEHOST_IMAGES"] = "7:2024001:90000:0";
  EXPECT_EQ(Load({"7"}), "RASVUE RTIM/G8IR  4" + kTail);
  extra_env_["FAKEHOST_IMAGES"] = "7:2024001:100500:0";
  EXPECT_EQ(Load({"7"}), "RASVUE RTIM/G8IR  1" + kTail);
  // No frame holds an image: the loop's first frame.
  Show(1, 0, 0), Show(2, 0, 0);
  EXPECT_EQ(Load({"7"}), "RASVUE RTIM/G8IR  1" + kTail);
}

TEST_F(FramesTest, TimeFrameAllAndTheLocalCopy) {
  Show(1, 2024001, 233000), Show(2, 2024001, 234500), Show(3, 2024002, 0), Show(4, 2024002, 500);
  extra_env_["VARNEK_TEST_NOW"] = "1704154200";  // 2024-01-02 00:10:00 UTC
  // 23:50 given at 00:10 is yesterday's: between frames 2 and 3.
  EXPECT_EQ(Load({"7", "TIME=23:50"}), "RASVUE RTIM/G8IR  2 TIME=23:50" + kTail);
  EXPECT_EQ(Load({"7", "TIME=00:07"}), "RASVUE RTIM/G8IR  1 TIME=00:07" + kTail) << "later than all: after frame 4";
  EXPECT_EQ(Load({"7", "FRAME=7"}), "RASVUE RTIM/G8IR  7" + kTail);
  ClientRec r = Client(7);
  r.Data.Area.NxtFrame = 3;
  r.Data.Area.BegWS = 1, r.Data.Area.EndWS = 5, r.Data.Area.NxtWS = 1, r.Data.Area.Store = True;
  PutClient(7, r);
  EXPECT_EQ(Load({"7", "TIME=ALL"}), "RASVUE LOC/G8IR  ALL=1 4" + kTail);
  EXPECT_EQ(Client(7).Data.Area.NxtFrame, 1);
  for (const char *bad : {"TIME=1030", "TIME=25:00", "TIME=10:61", "TIME=xx:yy", "FRAME=abc",
                          "TIME=01:02:03:04:05:06:07:08:09:10"}) {
    EXPECT_EQ(Load({"7", bad}), "") << bad;
    EXPECT_NE(last_.err.find("ClientLoad: ERROR in specifying keyword values"), std::string::npos) << bad;
  }
}

TEST_F(FramesTest, LoadStopsWithAMessageWhenThereIsNothingToShow) {
  ClientRec r = Client(7);
  r.Data.Area.serverRes = 0;
  PutClient(7, r);
  EXPECT_EQ(Load({"7", "FRAME=2"}), "");
  EXPECT_EQ(last_.out, "Image resolution on server is unknown.\nWithout MAG specified, LOAD will only work\n"
                       "after image resolution on server is known,\n e.g, after at least one CYCLE\n");
  r.Data.Area.LMag = 2, r.Data.Area.EMag = 2;
  PutClient(7, r);
  EXPECT_EQ(Load({"7", "FRAME=2"}), "RASVUE RTIM/G8IR  2 LATLON=  40.0   90.0 MAG=2 2 BAND=ALL GRAY=YES TWIN=0");

  extra_env_["FAKEHOST_UNKNOWN"] = "1";
  EXPECT_EQ(Load({"7"}), "");
  EXPECT_NE(last_.err.find("Dataset name should be of form group/descriptor\nvkc: RTIM/G8IR is an invalid "
                           "group/descriptor or alias name\n"),
            std::string::npos)
      << last_.err;
  EXPECT_NE(last_.err.find("ClientLoad: ERROR in tvadir_: -2"), std::string::npos) << last_.err;
  extra_env_.erase("FAKEHOST_UNKNOWN");
  extra_env_["FAKEHOST_IMAGES"] = "";
  EXPECT_EQ(Load({"7"}), "");
  EXPECT_NE(last_.err.find("ClientLoad: dataset RTIM/G8IR holds no image"), std::string::npos) << last_.err;
  extra_env_["FAKEHOST_BROKEN"] = "1";
  EXPECT_EQ(Load({"7"}), "");
  EXPECT_NE(last_.err.find("ClientLoad: Error in tvadrd_: -4"), std::string::npos) << last_.err;
  // An inactive record, or one without frames: nothing at all.
  r.Status = Suspend;
  PutClient(7, r);
  EXPECT_EQ(Load({"7", "FRAME=2"}), "");
  EXPECT_EQ(last_.out + last_.err, "");
}

TEST_F(FramesTest, LoopLeavesOutTheBadFrameAndStopShowsTheFirst) {
  struct Row {
    int bad;
    const char *enhance;
    int graphics;
    const char *dwell;
    Lines commands;
  } rows[] = {
      {0, "", 0, "AUTO", {"SEQB 1 10", "ZRNG AUTO", "SCRNSET L ON"}},
      {1, "BW", 0, "AUTO", {"SEQB 2 10", "PALX REST BW 2 10", "ZRNG AUTO", "SCRNSET L ON"}},
      {10, "", 3, "AUTO", {"SEQB 1 9", "SEQB G 3 3", "ZRNG AUTO", "SCRNSET L ON"}},
      {5, "BW", 0, "1 2", {"SEQS 1-4 6-10", "PALX REST BW 1 4", "PALX REST BW 6 10", "ZRNG 1 2", "ZRNG AUTO",
                           "SCRNSET L ON"}},
      {12, "", 0, "AUTO", {"SEQB 1 10", "ZRNG AUTO", "SCRNSET L ON"}},
  };
  for (const Row &row : rows) {
    ClientRec r = Area("RTIM", "G8IR");
    Frames(r, 1, 10);
    r.Data.Area.badFrame = row.bad;
    std::strcpy(r.Data.Area.enhance, row.enhance);
    r.Data.Area.independentG = row.graphics;
    std::strcpy(r.Data.Area.Dwell, row.dwell);
    PutClient(7, r);
    EXPECT_EQ(Vkc({"LOOP", "7"}).status, 0);
    EXPECT_EQ(HostCommands(), row.commands) << row.bad;
    EXPECT_EQ(Client(7).Data.Area.Looping, True);
    EXPECT_EQ(Vkc({"ST", "7"}).status, 0);
    EXPECT_EQ(HostCommands(), Lines{"VWF 1"});
    EXPECT_EQ(Client(7).Data.Area.Looping, False);
  }
  EXPECT_EQ(Vkc({"STOP", "7"}).out, "") << "not looping: nothing";
  EXPECT_TRUE(HostCommands().empty());
  ClientRec r = Client(7);
  r.Status = Suspend;
  PutClient(7, r);
  EXPECT_EQ(Vkc({"LP", "7"}).out, "");
  EXPECT_TRUE(HostCommands().empty());
}

// The runtime's calls in this process.
TEST_F(CycleTest, ImageDirectoryEntriesAndFrames) {
  std::string saved = std::getenv("PATH");
  setenv("PATH", (dir_ / "bin").c_str(), 1);
  setenv("FAKEHOST_IMAGES", "7:98123:120000:15;6:2024001:110000:0", 1);
  char name[80] = "RTIM/G8IR";
  int none = 0, errflag = 1;
  ASSERT_EQ(tvadir_(name, &none, "", &errflag, 80, 1), 0);
  int dir[65];
  char cards[1024];
  ASSERT_EQ(tvadrd_(dir, cards, sizeof cards), 0);
  EXPECT_EQ(dir[0], 7);
  EXPECT_EQ(dir[4], 1998123) << "YYDDD turned into CCYYDDD";
  EXPECT_EQ(dir[64], 12) << "15 cards, 12 delivered";
  ASSERT_EQ(tvadrd_(dir, cards, sizeof cards), 0);
  EXPECT_EQ(dir[0], 6);
  EXPECT_EQ(tvadrd_(dir, cards, sizeof cards), 1);
  EXPECT_EQ(tvadrd_(dir, cards, sizeof cards), kTvDirReadFailed) << "the request is finished";
  char clauses[2][20] = {"TIME=12:00 13:00", "POS 3"};
  int two = 2;
  EXPECT_EQ(tvadir_(name, &two, &clauses[0][0], &errflag, 80, 20), kTvDirBadClause);
  std::strcpy(clauses[1], "TIME=noon");
  EXPECT_EQ(tvadir_(name, &two, &clauses[0][0], &errflag, 80, 20), kTvDirBadTime);
  // A name without "/" is passed on as an alias; the program knows none.
  setenv("FAKEHOST_UNKNOWN", "1", 1);
  char alias[80] = "GOESEAST";
  std::string err = testing_support::CaptureStream(tv::kErrorStream, [&] {
    EXPECT_EQ(tvadir_(alias, &none, "", &errflag, 80, 1), kTvDirUnknown);
  });
  EXPECT_NE(err.find("Dataset name should be of form group/descriptor\n"), std::string::npos) << err;
  EXPECT_NE(err.find("GOESEAST is an invalid group/descriptor or alias name\n"), std::string::npos) << err;
  unsetenv("FAKEHOST_UNKNOWN");
  unsetenv("FAKEHOST_IMAGES");
  setenv("PATH", saved.c_str(), 1);
  int frame = 1, fdir[64];
  EXPECT_EQ(getfrm_(&frame, fdir), kTvNoDisplay) << "no session in this process";
  frame = -1;
  EXPECT_EQ(getfrm_(&frame, fdir), 0);
  EXPECT_EQ(fdir[63], -1);
}

}  // namespace
}  // namespace test_cycle
