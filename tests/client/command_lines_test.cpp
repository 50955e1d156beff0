// The copy and display lines of AREA records: every form the image check
// and LOAD build, one row each, and a line too long for the host, which is
// refused whole (never cut) by the builder and by the programs.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/command_lines.h"
#include "host/host.h"
#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

using command_lines::LoadTarget;
using command_lines::Magnification;

// A record of RTIM/G8IR as a row sets it up.
struct Shape {
  bool store = false, show = true;
  const char *band = "ALL";
  int beg_size = 0, end_size = 0;
  const char *stretch = "";
};

ClientRec Record(const Shape &s) {
  ClientRec r = ClientDefaults(AREA);
  r.Status = Active;
  std::strcpy(r.Group, "RTIM");
  std::strcpy(r.Descriptor, "G8IR");
  AreaClientStruct &a = r.Data.Area;
  a.BegFrame = 1, a.EndFrame = 4, a.NxtFrame = 1;
  a.Store = s.store ? True : False;
  a.Show = s.show ? True : False;
  std::strcpy(a.Band, s.band);
  a.BegSize = s.beg_size;
  a.EndSize = s.end_size;
  std::strcpy(a.SUname, s.stretch);
  return r;
}

TEST(CommandLinesTest, EveryCopyAndDisplayForm) {
  const Magnification mag{2, 3};
  const std::string look = " LATLON=  40.0   90.0 MAG=2 3 BAND=ALL GRAY=YES TWIN=0";
  struct Row {
    const char *what;
    Shape setup;
    enum { kCopy, kDisplay, kLoad } kind;
    LoadTarget target;
    std::string line;
  } rows[] = {
      {"copy, same size, shown", {true, true}, Row::kCopy, {}, "RASDUP RTIM/G8IR.17 LOC/G8IR.3  SIZE=SAME  MAG=2 3"},
      {"copy, same size, not shown", {true, false, "1"}, Row::kCopy, {},
       "RASDUP RTIM/G8IR.17 LOC/G8IR.3  SIZE=SAME STY=VISR MAG=2 3 "},
      {"copy, whole image", {true, true, "ALL", -99, 300}, Row::kCopy, {}, "RASDUP RTIM/G8IR.17 LOC/G8IR.3 SIZE=ALL"},
      {"copy, band and size", {true, true, "A", 480, 640}, Row::kCopy, {},
       "RASDUP RTIM/G8IR.17 LOC/G8IR.3 BAND=ALL  SIZE=  480   640 STY=VISR TWIN=0 MAG=2 3 "},
      {"display of the copy", {true, true}, Row::kDisplay, {},
       "RASVUE LOC/G8IR.3 5" + look + " REF='ZRNG AUTO'"},
      {"display from the server", {false, true}, Row::kDisplay, {},
       "RASVUE RTIM/G8IR.17 5" + look + " REF='ZRNG AUTO'"},
      {"display with a stretch table", {false, true, "ALL", 0, 0, "ST1"}, Row::kDisplay, {},
       "RASVUE RTIM/G8IR.17 5" + look + " REF='ZRNG AUTO' SU=ST1"},
      {"display, stretch NONE", {false, true, "ALL", 0, 0, "NONE"}, Row::kDisplay, {},
       "RASVUE RTIM/G8IR.17 5" + look + " REF='ZRNG AUTO'"},
      {"load into a frame", {false, true}, Row::kLoad, {false, 4, ""}, "RASVUE RTIM/G8IR  4" + look},
      {"load a time", {false, true}, Row::kLoad, {false, 4, "10:30"}, "RASVUE RTIM/G8IR  4 TIME=10:30" + look},
      {"load the whole loop", {false, true}, Row::kLoad, {true, 4, "ALL"}, "RASVUE RTIM/G8IR  ALL=1 4" + look},
      {"load the local copies", {true, true, "ALL", 0, 0, "ST1"}, Row::kLoad, {false, 2, ""},
       "RASVUE LOC/G8IR  2" + look + " SU=ST1"},
  };
  for (const Row &row : rows) {
    ClientRec r = Record(row.setup);
    std::string line = "old";
    int rc = 0;
    switch (row.kind) {
      case Row::kCopy: {
        char size[30];
        rc = command_lines::CopyLine(r, 17, 3, WriteSize(size, r.Data.Area.BegSize, r.Data.Area.EndSize), mag, line);
        break;
      }
      case Row::kDisplay: rc = command_lines::CheckDisplayLine(r, 17, 3, 5, mag, line); break;
      case Row::kLoad: rc = command_lines::LoadDisplayLine(r, row.target, mag, line); break;
    }
    EXPECT_EQ(rc, 0) << row.what;
    EXPECT_EQ(line, row.line) << row.what;
  }
}

TEST(CommandLinesTest, LineLongerThanTheHostTakesIsRefusedWhole) {
  ClientRec r = Record({false, true, "ALL", 0, 0, "ST1"});
  r.Data.Area.Lat = 1e300;  // a record edited by hand: 300 digits for %6.1f
  r.Data.Area.Lon = 1e300;
  std::string line;
  testing::internal::CaptureStderr();
  EXPECT_EQ(command_lines::CheckDisplayLine(r, 17, 3, 5, {1, 1}, line), kTvKeyinFailed);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_GT(line.size(), command_lines::kMostLineCharacters);
  EXPECT_NE(line.find(" SU=ST1"), std::string::npos) << "built whole, not cut";
  EXPECT_NE(err.find("Command not run: its line would be " + std::to_string(line.size()) +
                     " characters, more than the host takes (511): RASVUE RTIM/G8IR.17 5 LATLON="),
            std::string::npos)
      << err;
  // 511 characters run, 512 do not.
  r = Record({true, true});
  ASSERT_EQ(command_lines::CopyLine(r, 17, 3, "", {1, 1}, line), 0);
  std::string size(command_lines::kMostLineCharacters - line.size(), 'S');
  EXPECT_EQ(command_lines::CopyLine(r, 17, 3, size.c_str(), {1, 1}, line), 0);
  EXPECT_EQ(line.size(), 511u);
  size += 'S';
  testing::internal::CaptureStderr();
  EXPECT_EQ(command_lines::CopyLine(r, 17, 3, size.c_str(), {1, 1}, line), kTvKeyinFailed);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(line.size(), 512u);
}

// The programs: LOAD and the image check run nothing for such a record.
class OverlongLineTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    session_ = std::make_unique<testing_support::FakeSession>(10);
    extra_env_["TVENV_POSUC"] = std::to_string(session_->id());
  }
  std::unique_ptr<testing_support::FakeSession> session_;
};

TEST_F(OverlongLineTest, LoadAndTheCycleRunNoCutCommand) {
  ClientRec r = Area("RTIM", "G8IR");
  Frames(r, 1, 4);
  r.Data.Area.serverRes = 4;
  std::strcpy(r.Data.Area.imgSat, "G8");
  r.Data.Area.Lat = 1e300;  // a record edited by hand: the line would be some 700 characters
  r.Data.Area.Lon = -1e300;
  PutClient(7, r);
  RunResult run = Vkc({"LOAD", "7", "FRAME=2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("vkc: Command not run: its line would be "), std::string::npos) << run.err;
  for (const std::string &c : HostCommands()) EXPECT_NE(c.rfind("RASVUE", 0), 0u) << c;
  EXPECT_EQ(Client(7).Data.Area.NxtFrame, 1);

  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 10, 6, 2024001, 120000)});
  run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("vkc: Command not run: its line would be "), std::string::npos) << run.err;
  for (const std::string &c : HostCommands()) EXPECT_NE(c.rfind("RASVUE", 0), 0u) << c;
  // The image counts as taken; the frame it was not shown in stays next.
  EXPECT_EQ(Client(7).LastItem, 6);
  EXPECT_EQ(Client(7).Data.Area.NxtFrame, 1);
}

}  // namespace
}  // namespace test_cycle
