// The cycle run as a program: fetches through a stand-in text-read command,
// comparisons, the checks' host command lines byte for byte, the records
// after each pass, the route check, the cycle lock, hostile tables.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/client/cycle_fixture.h"

namespace test_cycle {
namespace {

using Lines = std::vector<std::string>;

const std::string kFetch = "WAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2";

TEST_F(CycleTest, NewImageIsCopiedDisplayedLoggedAndRemembered) {
  ClientRec r = Area("RTIM", "G8IR");
  Work(r, 11, 20);
  Frames(r, 1, 4);
  PutClient(7, r);
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 123000)});

  RunResult run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Complete cycle transfer ...\n"), std::string::npos) << run.out;
  EXPECT_EQ(HostCommands(), (Lines{kFetch, "RASDUP RTIM/G8IR.5 LOC/G8IR.1 BAND=ALL  SIZE=SAME  TWIN=0 MAG=4 4 ",
                                   "RASVUE LOC/G8IR.1 1 LATLON=  40.0   90.0 MAG=4 2 BAND=ALL GRAY=YES TWIN=0 "
                                   "REF='ZRNG AUTO'"}));
  ClientRec after = Client(7);
  EXPECT_EQ(after.LastItem, 5);
  EXPECT_EQ(after.LastDate, 2024001);
  EXPECT_EQ(after.LastTime, 123000);
  std::int64_t stamp = 0;
  getTimeStamp(2024001, 123000, &stamp);
  EXPECT_EQ(after.LastStamp, stamp);
  EXPECT_EQ(after.Data.Area.NxtWS, 12);
  EXPECT_EQ(after.Data.Area.NxtFrame, 2);
  EXPECT_EQ(after.Data.Area.serverRes, 4);
  EXPECT_STREQ(after.Data.Area.imgSat, "G8");
  EXPECT_EQ(after.Data.Area.Complete, True);
  EXPECT_FALSE(testing_support::Exists(dir_ / kCyclePidFile));
  std::string log = testing_support::RunProgram({testing_support::ProgramPath("query_logfile"), "VKLogFile"},
                                                dir_.path()).out;
  EXPECT_NE(log.find("   CheckArea  I  Loading new image: 5\n"), std::string::npos) << log;

  // Nothing new: only the fetch runs, and no record is written.
  std::string file = ReadFile(dir_ / kClientFile);
  EXPECT_EQ(Vkc({"CY"}).status, 0);
  EXPECT_EQ(HostCommands(), Lines{kFetch});
  EXPECT_EQ(ReadFile(dir_ / kClientFile), file);
}

// The copy command's three forms and the display's SU clause.
TEST_F(CycleTest, CopyAndDisplayForms) {
  struct Row {
    int beg_size, end_size;
    bool show;
    const char *band, *su;
    Lines commands;
  } rows[] = {
      {0, 500, true, "ALL", "",
       {"RASDUP RTIM/G8IR.5 LOC/G8IR.1  SIZE=SAME  MAG=4 4",
        "RASVUE LOC/G8IR.1 1 LATLON=  40.0   90.0 MAG=4 2 BAND=ALL GRAY=YES TWIN=0 REF='ZRNG AUTO'"}},
      {0, 500, false, "A", "NONE", {"RASDUP RTIM/G8IR.5 LOC/G8IR.1  SIZE=SAME STY=VISR MAG=4 4 "}},
      {-99, 500, true, "4", "NONE",
       {"RASDUP RTIM/G8IR.5 LOC/G8IR.1 SIZE=ALL",
        "RASVUE LOC/G8IR.1 1 LATLON=  40.0   90.0 MAG=4 2 BAND=4 GRAY=YES TWIN=0 REF='ZRNG AUTO'"}},
      {480, 640, true, "4", "GREY",
       {"RASDUP RTIM/G8IR.5 LOC/G8IR.1 BAND=4  SIZE=  480   640 STY=VISR TWIN=0 MAG=4 4 ",
        "RASVUE LOC/G8IR.1 1 LATLON=  40.0   90.0 MAG=4 2 BAND=4 GRAY=YES TWIN=0 REF='ZRNG AUTO' SU=GREY"}},
  };
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 123000)});
  for (const Row &row : rows) {
    ClientRec r = Area("RTIM", "G8IR");
    Work(r, 1, 4);
    if (row.show) Frames(r, 1, 4);
    r.Data.Area.BegSize = row.beg_size, r.Data.Area.EndSize = row.end_size;
    std::strcpy(r.Data.Area.Band, row.band);
    std::strcpy(r.Data.Area.SUname, row.su);
    PutClient(7, r);
    EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
    Lines expected = {kFetch};
    expected.insert(expected.end(), row.commands.begin(), row.commands.end());
    EXPECT_EQ(HostCommands(), expected) << row.beg_size;
  }
  // Straight from the server, with magnifications as set.
  ClientRec r = Area("RTIM", "G8IR");
  Frames(r, 3, 4);
  r.Data.Area.LMag = 2, r.Data.Area.EMag = -3;
  PutClient(7, r);
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(HostCommands(), (Lines{kFetch, "RASVUE RTIM/G8IR.5 3 LATLON=  40.0   90.0 MAG=2 -3 BAND=ALL GRAY=YES "
                                           "TWIN=0 REF='ZRNG AUTO'"}));
}

TEST_F(CycleTest, RingsWrapAndAFailedDisplayKeepsItsFrame) {
  ClientRec r = Area("RTIM", "G8IR");
  Work(r, 5, 7);
  Frames(r, 1, 10);
  r.Data.Area.NxtWS = 7;
  r.Data.Area.NxtFrame = 10;
  r.Data.Area.badFrame = 10;
  PutClient(7, r);
  PutServer(1, "RTIM", "10.0.0.4");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 120000)});
  extra_env_["FAKEHOST_FAIL"] = "RASVUE";
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  ClientRec after = Client(7);
  EXPECT_EQ(after.Data.Area.NxtWS, 5) << "7 wraps to 5; the copy went to LOC position 3";
  EXPECT_EQ(after.Data.Area.NxtFrame, 10) << "a failed display keeps its frame";
  EXPECT_EQ(after.Data.Area.badFrame, 10);
  EXPECT_EQ(HostCommands()[1].substr(0, 30), "RASDUP RTIM/G8IR.5 LOC/G8IR.3 ");

  extra_env_.erase("FAKEHOST_FAIL");
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 6, 2024001, 130000)});
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  after = Client(7);
  EXPECT_EQ(after.Data.Area.NxtFrame, 1) << "a display into frame 10 wraps to 1";
  EXPECT_EQ(after.Data.Area.badFrame, 0) << "the bad frame is cleared when a display into it succeeds";
}

TEST_F(CycleTest, UserCommandForms) {
  struct Row {
    const char *cmd;
    bool store;
    int date;
    std::string expected;
  } rows[] = {
      {"VKS INVOKE AREA", true, 2024001, "VKS INVOKE 4  AREA"},
      {"VKS INVOKE AREA", false, 2024001, "VKS INVOKE AREA"},
      {"CONV", true, 24060, "CONV 4 _240229_1230"},
      {"CONV", true, 2024060, "CONV 4 _240229_1230"},
      {"LINKCOPY", true, 2024001, "LINKCOPY 4 RTIM G8IR"},
      {"TELL me", true, 2024001, "TELL me"},
  };
  PutServer(1, "RTIM", "10.0.0.4");
  for (const Row &row : rows) {
    ClientRec r = Area("RTIM", "G8IR");
    if (row.store) {
      Work(r, 4, 9);
    }
    std::strcpy(r.UserCmd, row.cmd);
    PutClient(7, r);
    Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, row.date, 123000)});
    ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
    Lines commands = HostCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), row.expected) << row.cmd;
  }
}

TEST_F(CycleTest, DominantRecordLeadsItsFollower) {
  // The follower's image is examined before its leader's in a pass: in the
  // first pass the follower waits, and nothing of it changes.
  ClientRec follower = Area("RTIM", "FOLLOW");
  Frames(follower, 21, 30);
  follower.Data.Area.Dominant = 5;
  PutClient(2, follower);
  ClientRec leader = Area("RTIM", "LEAD");
  Frames(leader, 11, 20);
  leader.Data.Area.NxtFrame = 20;
  PutClient(5, leader);
  PutServer(1, "RTIM", "10.0.0.4");
  // The follower's image comes first in the server's table.
  Table("RTIM", {Image("RTIM", "FOLLOW", 1, 100, 9, 2024001, 120000), Image("RTIM", "LEAD", 1, 100, 5, 2024001, 120000)});
  std::string before = ReadFile(dir_ / kClientFile).substr(12 + 440 * 2, 440);
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(ReadFile(dir_ / kClientFile).substr(12 + 440 * 2, 440), before);
  EXPECT_EQ(Client(5).Data.Area.NxtFrame, 11) << "the leader filled frame 20 and wrapped";
  HostCommands();
  // Next pass: the leader holds this image time; its latest frame is 20,
  // offset 9 in its loop, so the follower displays into frame 30.
  ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
  Lines commands = HostCommands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[1].substr(0, 24), "RASVUE RTIM/FOLLOW.9 30 ");
  EXPECT_EQ(Client(2).Data.Area.NxtFrame, 21);
  EXPECT_EQ(Client(2).LastItem, 9);
}

TEST_F(CycleTest, DarknessWindowOfVisibleImages) {
  struct Row {
    const char *sun;
    int time;
    bool loads;
  } rows[] = {
      {"Sunrise/Sunset 06:10:00 18:20:00", 195000, false}, {"Sunrise/Sunset 06:10:00 18:20:00", 191500, true},
      {"Sunrise/Sunset 06:10:00 18:20:00", 50500, false},  {"Sunrise/Sunset 06:10:00 18:20:00", 51000, true},
      {"Sunrise/Sunset 00:30:00 12:00:00", 233500, true},  {"Sunrise/Sunset 00:30:00 12:00:00", 225900, false},
      {"Sunrise/Sunset 05:00:00 23:10:00", 1000, true},    {"Sunrise/Sunset 05:00:00 23:10:00", 2000, false},
      {"no times on this line", 120000, false},            {"/x 06:10 18:20:00", 120000, false},
  };
  PutServer(1, "RTIM", "10.0.0.4");
  Verbose(2);
  for (const Row &row : rows) {
    ClientRec r = Area("RTIM", "VIS");
    Frames(r, 1, 4);
    std::strcpy(r.Data.Area.Band, "1");
    PutClient(7, r);
    Table("RTIM", {Image("RTIM", "VIS", 1, 100, 5, 2024001, row.time)});
    extra_env_["FAKEHOST_SUN"] = row.sun;
    RunResult run = Vkc({"CYCLE"});
    EXPECT_EQ(Client(7).LastItem == 5, row.loads) << row.sun << " " << row.time << "\n" << run.out;
    // The fetch, the darkness program (solday.k run with date, latitude and
    // longitude), then the display when the image loads.
    std::string log = ReadFile(dir_ / "host.log");
    EXPECT_NE(log.find("argv0=[solday.k]\nargv1=[2024001]\nargv2=[40.000000]\nargv3=[90.000000]\n"),
              std::string::npos);
    Lines commands = HostCommands();
    EXPECT_EQ(commands.size(), row.loads ? 3u : 2u);
  }
  extra_env_["FAKEHOST_SUN"] = "Sunrise/Sunset 05:00:00 23:10:00";
  Table("RTIM", {Image("RTIM", "VIS", 1, 100, 5, 2024001, 2000)});
  EXPECT_NE(Vkc({"CYCLE"}).out.find("Sun rise/set for image center: 05:00:00/23:10:00\n Vis image 5 with image "
                                    "time 2000 is too dark and not loaded\n"),
            std::string::npos);
  ASSERT_EQ(unlink((dir_ / "bin/solday.k").c_str()), 0);
  Verbose(1);
  EXPECT_NE(Vkc({"CYCLE"}).out.find("Error open SOLDAY program.\n"), std::string::npos);
}

TEST_F(CycleTest, RouteCheckAppliesOnlyTheServerAGroupIsRoutedTo) {
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "SRVA", "10.0.0.4");
  Table("SRVA", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 120000)});
  Verbose(2);
  // The server's own group routes to 10.0.0.4; RTIM to another server.
  Routes("QOLA_ROUTE_SRVA=10.0.0.4\nQOLA_ROUTE_RTIM=10.0.0.9\n");
  RunResult run = Vkc({"CYCLE"});
  EXPECT_NE(run.out.find("Warning: Group RTIM is available on server 10.0.0.4! NOT APPLIED\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Compare VARNEK V2 complete ...\n"), std::string::npos);
  EXPECT_EQ(Client(7).LastItem, 0);
  // Routed to this very server: applied.
  Routes("QOLA_ROUTE_SRVA=10.0.0.4\nQOLA_ROUTE_RTIM=10.0.0.4\n");
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(Client(7).LastItem, 5);
  // A group without a route is applied.
  Routes("QOLA_ROUTE_SRVA=10.0.0.4\n");
  Table("SRVA", {Image("RTIM", "G8IR", 1, 100, 6, 2024001, 130000)});
  EXPECT_EQ(Vkc({"CYCLE"}).status, 0);
  EXPECT_EQ(Client(7).LastItem, 6);
}

TEST_F(CycleTest, MissingRouteTableSkipsThatServerAndEndsWithStatusOne) {
  ASSERT_EQ(unlink((dir_ / "tavrin/data/TVTABLE.TXT").c_str()), 0);
  PutClient(7, Area("RTIM", "G8IR"));
  PutServer(1, "RTIM", "10.0.0.4");
  PutServer(2, "OLD", "10.0.0.5", 1);
  Table("RTIM", {Image("RTIM", "G8IR", 1, 100, 5, 2024001, 120000)});
  WriteFile(dir_ / "tables/OLD_DAVARNEK_Y2K", "1 2\n1 - 1 100 7 2024001 140000 RTIM 100 0 G8IR G8 4\n");
  RunResult run = Vkc({"CYCLE"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Fail to open " + dir_.path() + "/tavrin/data/TVTABLE.TXT for read\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(Client(7).LastItem, 7) << "the version-1 server is still compared";
  EXPECT_FALSE(testing_support::Exists(dir_ / kCyclePidFile));
}

TEST_F(CycleTest, GridPointAndTextChecks) {
  ClientRec grid = ClientDefaults(GRID);
  grid.Status = Active;
  std::strcpy(grid.Group, "MODL"), std::strcpy(grid.Descriptor, "GFS");
  grid.Data.Grid.bServerPos = 1, grid.Data.Grid.eServerPos = 10;
  grid.Data.Grid.BegWS = grid.Data.Grid.NxtWS = 1, grid.Data.Grid.EndWS = 2;
  PutClient(1, grid);
  ClientRec fixed = grid;
  std::strcpy(fixed.Descriptor, "NAM");
  fixed.Data.Grid.Position = 3;
  PutClient(2, fixed);
  ClientRec md = ClientDefaults(MD);
  md.Status = Active;
  std::strcpy(md.Group, "PTS"), std::strcpy(md.Descriptor, "SFC");
  md.Data.Pnts.BegWS = md.Data.Pnts.NxtWS = 1, md.Data.Pnts.EndWS = 2;
  PutClient(3, md);
  ClientRec text = ClientDefaults(TEXT);
  text.Status = Active;
  std::strcpy(text.Data.Text.From, "/data/x.txt");
  std::strcpy(text.Data.Text.To, "here.txt");
  PutClient(4, text);
  PutServer(1, "RTIM", "ftp.example 2121");
  WriteFile(dir_ / "VKTransfer", "#!/bin/sh\nprintf '%s|' \"$@\" >> transfers\necho >> transfers\n");
  ASSERT_EQ(chmod((dir_ / "VKTransfer").c_str(), 0755), 0);

  auto series = [](FileTypes type, const char *group, const char *descriptor, int current, int hour) {
    ServerRec s;
    (void)initServerRec(&s, type);
    s.Status = Active;
    s.fileMdate = 2024001;
    s.fileMtime = hour * 10000;
    GridServerStruct &g = s.ServerData.Grid;  // the MD part has the same leading fields
    g.bRange = 1, g.eRange = 99, g.currentNum = current;
    std::strcpy(type == MD ? s.ServerData.Md.Group : g.Group, group);
    std::strcpy(type == MD ? s.ServerData.Md.Descriptor : g.Descriptor, descriptor);
    return s;
  };
  auto textfile = [](const char *path, const char *name, int hour) {
    ServerRec s;
    (void)initServerRec(&s, TEXT);
    s.Status = Active;
    std::strcpy(s.filePath, path);
    std::strcpy(s.ServerData.Text.fileName, name);
    s.fileMdate = 2024001;
    s.fileMtime = hour * 10000;
    return s;
  };
  for (int round = 0; round < 3; ++round) {
    int hour = 12 + round;  // a new modification time each round, an hour apart
    Table("RTIM", {series(GRID, "MODL", "GFS", 11, hour), series(GRID, "MODL", "GFS", 4, hour),
                   series(GRID, "MODL", "NAM", 5, hour), series(MD, "PTS", "SFC", 8, hour),
                   textfile("/data", "x.txt", hour), textfile("/data/", "x.txt", hour)});
    ASSERT_EQ(Vkc({"CYCLE"}).status, 0);
    Lines commands = HostCommands();
    std::string ws = std::to_string(round % 2 + 1);
    EXPECT_EQ(commands, (Lines{kFetch, "MESHDUP MODL/GFS.4 LOC/GFS." + ws + " DEL=YES NUM=500",
                               "MESHDUP MODL/NAM.5 LOC/NAM.3 DEL=YES NUM=500",
                               "OBSDUP PTS/SFC LOC/SFC." + ws + " DELETE=YES"}))
        << "round " << round;
  }
  EXPECT_EQ(Client(1).LastItem, 4) << "position 11 lies outside SPOS 1..10";
  EXPECT_EQ(Client(2).Data.Grid.NxtWS, 1) << "a fixed position leaves the work ring alone";
  EXPECT_EQ(Client(3).Data.Pnts.NxtWS, 2) << "1, 2, 1, then 2 next";
  EXPECT_EQ(Client(4).LastDate, 2024001);
  EXPECT_EQ(Client(4).LastTime, 140000);
  // The address is the script's first argument whole: its unquoted $1
  // splits "host port" for ftp, and the file names stay $2 and $3.
  EXPECT_EQ(ReadFile(dir_ / "transfers"), std::string() +
                                              "ftp.example 2121|/data/x.txt|here.txt|\n"
                                              "ftp.example 2121|/data/x.txt|here.txt|\n"
                                              "ftp.example 2121|/data/x.txt|here.txt|\n");
}

}  // namespace
}  // namespace test_cycle
