// The client's configuration commands run as programs in an installed
// working directory, with stand-in host programs that record how they were
// started.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "client/client.h"
#include "tests/support/support.h"

using testing_support::EnvChanges;
using testing_support::Exists;
using testing_support::FakeSession;
using testing_support::FileSize;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr std::size_t kRecord = 440;

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *host : {"setreg.k", "rascat.k", "obscat.k", "meshcat.k", "waitcap.k"})
      ASSERT_EQ(symlink(ProgramPath("fakehost").c_str(), (dir_ / host).c_str()), 0);
    ASSERT_EQ(Vkc({"INSTALL"}).out, "Install complete ...\n");
  }
  EnvChanges Env() {
    EnvChanges env = {{"PATH", dir_.path() + ":/usr/bin:/bin"}, {"HOME", dir_.path()},
                      {"FAKEHOST_LOG", dir_ / "host.log"}};
    if (session_) env["TVENV_POSUC"] = std::to_string(session_->id());
    return env;
  }
  RunResult Vkc(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath("vkc"));
    return RunProgram(args, dir_.path(), Env());
  }
  std::string Out(std::vector<std::string> args) { return Vkc(std::move(args)).out; }
  // The host command lines started so far (argv[1] of each), then forgotten.
  std::vector<std::string> HostCommands() { return testing_support::TakeHostCommands(dir_.path()); }
  std::string RecordBytes(int n) { return ReadFile(dir_ / "VKClientFile").substr(12 + kRecord * n, kRecord); }
  ClientRec Record(int n) {
    ClientRec r;
    std::string bytes = RecordBytes(n);
    std::memcpy(&r, bytes.data(), sizeof r);
    return r;
  }
  void Store(int n, const ClientRec &r) {
    DBase db;
    ASSERT_EQ(DBOpen(&db, (dir_ / "VKClientFile").c_str(), ""), 0);
    ASSERT_EQ(DBWrite(&db, n, &r), 0);
    ASSERT_EQ(DBClose(&db), 0);
  }
  void Verbose(int level) { WriteFile(dir_ / "VKCVerboseLevel", std::to_string(level) + "\n"); }

  TempDir dir_;
  std::unique_ptr<FakeSession> session_;
};

// ---------------------------------------------------------------------------
// Files and layouts.

TEST_F(ClientTest, InstallCreatesEmptyFilesAndScripts) {
  EXPECT_EQ(FileSize(dir_ / "VKClientFile"), 88012);
  EXPECT_EQ(FileSize(dir_ / "VKServerListTable"), 5412);
  EXPECT_EQ(ReadFile(dir_ / "VKClientFile").substr(0, 12), std::string("\0\0\0\0\xb8\x01\0\0\xc8\0\0\0", 12));
  for (const char *file : {"VKClientFile", "VKServerListTable"}) {
    struct stat st;
    ASSERT_EQ(stat((dir_ / file).c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_ISGID) << file;
  }
  // The availability fetch by hand removes the old COMPARE and fetches
  // through the transfer script.
  const std::string fetch = ReadFile(dir_ / "VKGetWSAvail");
  EXPECT_EQ(fetch.rfind("#!/bin/sh\n", 0), 0u);
  EXPECT_NE(fetch.find("\nrm -f COMPARE\nexec ./VKTransfer \"$1\" \"./tavrin/data/$2\" COMPARE\n"), std::string::npos);
  // The transfer script fetches beside the local name and moves the file
  // into place only after the replies show it came whole (its runs are in
  // the kit's ftp tests).
  const std::string transfer = ReadFile(dir_ / "VKTransfer");
  EXPECT_EQ(transfer.rfind("#!/bin/sh\n", 0), 0u);
  for (const char *line : {"part=$(mktemp \"$3.part.XXXXXX\") || exit 1\n", "replies=$(ftp -v $1 2>&1 <<EOF", "get $2 $part\n",
                           "mv -f \"$part\" \"$3\"; then\n  exit 0\n", "rm -f \"$part\"\nexit 1\n"})
    EXPECT_NE(transfer.find(line), std::string::npos) << line;
  EXPECT_EQ(FileSize(dir_ / "VKGetWSAvail"), 217);
  EXPECT_EQ(FileSize(dir_ / "VKTransfer"), 784);
  EXPECT_EQ(access((dir_ / "VKGetWSAvail").c_str(), X_OK), 0);
  EXPECT_EQ(access((dir_ / "VKTransfer").c_str(), X_OK), 0);
  ClientRec empty = Record(1);
  EXPECT_EQ(empty.Status, 0);
  EXPECT_EQ(empty.DataType, 0);
}

TEST_F(ClientTest, InstallAgainEmptiesAndUninstallRemoves) {
  Vkc({"C", "3", "TYPE=MD"});
  Vkc({"CS", "2", "GROUP=G", "ADDRESS=a"});
  Vkc({"INSTALL"});
  EXPECT_EQ(RecordBytes(3), std::string(kRecord, '\0'));
  EXPECT_EQ(ReadFile(dir_ / "VKServerListTable").substr(12, 5400), std::string(5400, '\0'));

  WriteFile(dir_ / "COMPARE2", "kept");
  RunResult r = Vkc({"UNINSTALL"});
  EXPECT_NE(r.out.find("UnInstall complate ...\n"), std::string::npos);
  for (const char *file : {"VKClientFile", "VKServerListTable", "VKGetWSAvail", "VKTransfer", "VKCVerboseLevel"})
    EXPECT_FALSE(Exists(dir_ / file)) << file;
  EXPECT_TRUE(Exists(dir_ / "COMPARE2"));
  EXPECT_EQ(Vkc({"LIST", "1"}).out, "Unable to open VARNEK-II Client File...\n\nNumber Suspended: 0; Number Active: 0\n");
}

// Offsets and values of the fields that CREATE sets, by type; every other
// byte of a new record is zero.
struct Field {
  std::size_t offset;
  std::string bytes;
};

std::string I32(std::int32_t v) { return std::string(reinterpret_cast<char *>(&v), 4); }
std::string F64(double v) { return std::string(reinterpret_cast<char *>(&v), 8); }

TEST_F(ClientTest, CreateDefaultsOfEachTypeAsStored) {
  const std::vector<Field> common = {{0, I32(2)}, {8, "NONE"}, {40, "NONE"}, {72, "NONE"}};
  struct Case {
    const char *type;
    std::int32_t code;
    std::vector<Field> fields;
  } cases[] = {
      {"AREA", 1, {{128, I32(1)}, {152, I32(30)}, {156, "ALL"}, {160, F64(40.0)}, {168, F64(90.0)},
                   {200, "AUTO"}, {240, "YES"}, {260, I32(1)}, {300, I32(100)}, {304, I32(-1)},
                   {308, I32(-1)}, {316, I32(60)}}},
      {"GRID", 3, {{140, "NONE"}, {180, I32(1)}, {184, I32(1000)}, {188, I32(500)}, {192, "NONE"},
                   {252, I32(9999)}, {256, I32(30)}}},
      {"MD", 2, {{128, "NONE"}, {208, "NONE"}, {288, I32(1)}, {304, I32(30)}}},
      {"TEXT", 4, {{128, "NONE"}, {192, "NONE"}, {260, I32(30)}}},
  };
  int n = 10;
  for (const Case &c : cases) {
    Vkc({"CREATE", std::to_string(n), std::string("TYPE=") + c.type});
    std::string expected(kRecord, '\0');
    for (const Field &f : common) expected.replace(f.offset, f.bytes.size(), f.bytes);
    expected.replace(4, 4, I32(c.code));
    for (const Field &f : c.fields) expected.replace(f.offset, f.bytes.size(), f.bytes);
    EXPECT_EQ(RecordBytes(n), expected) << c.type;
    ++n;
  }
}

// ---------------------------------------------------------------------------
// CREATE, SET, DELETE.

TEST_F(ClientTest, CreateListsTheRecordItMade) {
  RunResult r = Vkc({"CREATE", "7", "TYPE=AREA", "NAME=X", "GROUP=G"});
  EXPECT_EQ(r.out,
            "Done Creating Client Record 7.\n" + std::string(80, '*') +
                "\n***** Client Records Listing: Records:   7 --   7 ******************************\n" +
                std::string(80, '=') +
                "\nSET X DATASET ...       RS B LAT(D) LON(D) INC BEGWS ENDWS BFR EFR  SU  DOM OPP (AREA)\n" +
                std::string(80, '-') +
                "\n  7 S G/NONE             1 A   40.0   90.0  30     0     0   0   0      \n"
                "Total frames: 1, Free frames:  1-1\n"
                "\nNumber Suspended: 1; Number Active: 0\n");
  // NAME=X is the placeholder: the descriptor keeps its default.
  EXPECT_STREQ(Record(7).Descriptor, "NONE");
  EXPECT_TRUE(HostCommands().empty());  // no work ring: nothing to register
}

TEST_F(ClientTest, CreateNeedsATypeAndAnEmptySlot) {
  RunResult r = Vkc({"CREATE", "4"});
  EXPECT_EQ(r.out.substr(0, 31), "Done Creating Client Record 4.\n");
  EXPECT_EQ(r.out.find("(AREA)"), std::string::npos);
  EXPECT_EQ(Record(4).Status, 0);
  Vkc({"CREATE", "4", "TYPE=AREAS"});
  EXPECT_EQ(Record(4).Status, 0);

  Vkc({"CREATE", "4", "TYPE=GRID", "NAME=ETA"});
  r = Vkc({"CREATE", "4", "TYPE=MD"});
  EXPECT_EQ(r.out.substr(0, 70), "Loop 4 is not empty, please another loop or delete this loop first.\nDo");
  EXPECT_EQ(Record(4).DataType, GRID);

  // DELETE empties the slot and keeps everything else; CREATE then starts afresh.
  std::string before = RecordBytes(4);
  Vkc({"DELETE", "4"});
  std::string after = RecordBytes(4);
  EXPECT_EQ(after.substr(0, 4), I32(0));
  EXPECT_EQ(after.substr(4), before.substr(4));
  Vkc({"CREATE", "4", "TYPE=MD"});
  EXPECT_STREQ(Record(4).Descriptor, "NONE");
  EXPECT_EQ(Record(4).DataType, MD);
}

TEST_F(ClientTest, WorkRingRegistersTheLocalDataset) {
  Vkc({"CREATE", "7", "TYPE=AREA", "NAME=G8IR", "GROUP=RTIM"});
  EXPECT_TRUE(HostCommands().empty());
  Vkc({"SET", "7", "WORK=11", "20"});
  ClientRec r = Record(7);
  EXPECT_EQ(r.Data.Area.Store, 1);
  EXPECT_EQ(r.Data.Area.NxtWS, 11);
  EXPECT_EQ(HostCommands(), std::vector<std::string>{"SETREG ADD LOC/G8IR AREA 11 20"});
  Vkc({"SET", "7", "NAME=G9IR"});  // a new name with a work ring: registered again
  EXPECT_EQ(HostCommands(), std::vector<std::string>{"SETREG ADD LOC/G9IR AREA 11 20"});
  Vkc({"SET", "7", "FRAME=3", "6", "INC=15"});
  r = Record(7);
  EXPECT_EQ(r.Data.Area.NxtFrame, 3);
  EXPECT_EQ(r.Data.Area.Show, 1);
  EXPECT_EQ(r.Data.Area.Increment, 15);
  EXPECT_TRUE(HostCommands().empty());

  Vkc({"CREATE", "8", "TYPE=MD", "NAME=SFC"});  // point data: NAME alone registers
  EXPECT_EQ(HostCommands(), std::vector<std::string>{"SETREG ADD LOC/SFC MD 0 0"});
  Vkc({"CREATE", "9", "TYPE=GRID", "WORK=5", "9"});
  EXPECT_EQ(HostCommands(), std::vector<std::string>{"SETREG ADD LOC/NONE GRID 5 9"});
  EXPECT_EQ(Record(9).Data.Grid.NxtWS, 5);
  // Every command that ran is in the operations log.
  EXPECT_NE(ReadFile(dir_ / "VKLogFile").find("SETREG ADD LOC/G8IR AREA 11 20"), std::string::npos);
}

TEST_F(ClientTest, BadFrameSendsTheNextDisplayBack) {
  Vkc({"CREATE", "7", "TYPE=AREA", "FRAME=1", "8"});
  ClientRec r = Record(7);
  struct Row {
    int next, bad, expected_next;
  } rows[] = {{5, 4, 4}, {1, 8, 8}, {5, 3, 5}, {1, 1, 1}};
  for (const Row &row : rows) {
    r.Data.Area.NxtFrame = row.next;
    Store(7, r);
    Vkc({"SET", "7", std::string("BADFRAME=") + std::to_string(row.bad), "INC=99", "WORK=1", "2"});
    ClientRec after = Record(7);
    EXPECT_EQ(after.Data.Area.NxtFrame, row.expected_next) << row.next << " " << row.bad;
    EXPECT_EQ(after.Data.Area.badFrame, row.bad);
    EXPECT_EQ(after.Data.Area.Increment, 30);  // nothing else applies
  }
  Vkc({"SET", "7", "INC=45"});  // without BADFRAME the bad frame is cleared
  EXPECT_EQ(Record(7).Data.Area.badFrame, 0);
  EXPECT_TRUE(HostCommands().empty());
}

TEST_F(ClientTest, ResolutionAndMagnificationExcludeEachOther) {
  Vkc({"CREATE", "7", "TYPE=AREA", "MAG=2", "3"});
  ClientRec r = Record(7);
  EXPECT_EQ(r.Data.Area.LMag, 2);
  EXPECT_EQ(r.Data.Area.EMag, 3);
  EXPECT_EQ(r.Data.Area.Resolution, 0);
  Vkc({"SET", "7", "RES=4"});
  r = Record(7);
  EXPECT_EQ(r.Data.Area.Resolution, 4);
  EXPECT_EQ(r.Data.Area.LMag, 0);
  EXPECT_EQ(r.Data.Area.EMag, 0);

  Verbose(0);
  std::string before = RecordBytes(7);
  EXPECT_EQ(Out({"SET", "7", "RES=4", "MAG=2", "2", "INC=5"}),
            "VKC SET error: RES and MAG keywords are mutually exclusive, please use only one.\n");
  EXPECT_EQ(RecordBytes(7), before);
  // A refused CREATE leaves the slot empty.
  Out({"CREATE", "8", "TYPE=AREA", "RES=4", "MAG=2", "2"});
  EXPECT_EQ(Record(8).Status, 0);
}

TEST_F(ClientTest, KeywordValuesOfEveryType) {
  Vkc({"CREATE", "7", "TYPE=AREA", "LAT=43:30:00", "LON=-95.5", "BAND=4", "GRAY=NO", "SU=IRTAB", "DWELL=3",
       "SIZE=480", "640", "RTIME=50", "10", "PER=80", "OPP=5", "DOM=2", "PALX=ENH", "SEQBG=3", "CMD=VKS",
       "STATUS=ACTIVE"});
  ClientRec r = Record(7);
  const AreaClientStruct &a = r.Data.Area;
  EXPECT_DOUBLE_EQ(a.Lat, 43.5);
  EXPECT_DOUBLE_EQ(a.Lon, -95.5);
  EXPECT_STREQ(a.Band, "4");
  EXPECT_STREQ(a.Gray, "NO");
  EXPECT_STREQ(a.SUname, "IRTAB");
  EXPECT_STREQ(a.Dwell, "3");
  EXPECT_EQ((std::vector<int>{a.BegSize, a.EndSize, a.RtimeB, a.RtimeE, a.Percent, a.Opposite, a.Dominant,
                              a.independentG}),
            (std::vector<int>{480, 640, 50, 10, 80, 5, 2, 3}));
  EXPECT_STREQ(a.enhance, "ENH");
  EXPECT_STREQ(r.UserCmd, "VKS");
  EXPECT_EQ(r.Status, Active);

  Vkc({"CREATE", "8", "TYPE=GRID", "PARAM=T", "LEVEL=500", "FOR=0", "48", "6", "MAX=5", "NUM=7", "POS=3",
       "SPOS=10", "20", "DELETE=NO"});
  const GridClientStruct g = Record(8).Data.Grid;
  EXPECT_EQ((std::vector<int>{g.BegForcast, g.EndForcast, g.NxtForcast, g.MaxGrid, g.NumMatch, g.Position,
                              g.bServerPos, g.eServerPos, g.DestDel}),
            (std::vector<int>{0, 48, 6, 5, 7, 3, 10, 20, 0}));
  EXPECT_STREQ(g.Param, "T");
  EXPECT_STREQ(g.Level, "500");

  Vkc({"CREATE", "9", "TYPE=MD", "SELECT=ID KDEN", "TITLE=Denver", "POS=4", "INC=60", "DELETE=F"});
  const PntsClientStruct p = Record(9).Data.Pnts;
  EXPECT_STREQ(p.Select, "ID KDEN");
  EXPECT_STREQ(p.Title, "Denver");
  EXPECT_EQ((std::vector<int>{p.Position, p.Increment, p.DestDel}), (std::vector<int>{4, 60, 0}));

  // Yes/no words: T and YES are true, NO false; other words keep the value.
  Vkc({"CREATE", "10", "TYPE=TEXT", "FROM=/data/x.txt", "TO=/tmp/x", "BINARY=T"});
  EXPECT_EQ(Record(10).Data.Text.Binary, 1);
  RunResult run = Vkc({"SET", "10", "BINARY=MAYBE"});
  EXPECT_EQ(run.out.substr(0, 28), "Undefined command option ...");
  EXPECT_EQ(Record(10).Data.Text.Binary, 1);
  Vkc({"SET", "10", "BINARY=NO"});
  EXPECT_EQ(Record(10).Data.Text.Binary, 0);
  EXPECT_STREQ(Record(10).Data.Text.From, "/data/x.txt");

  // A value that is not a number is reported and not applied.
  run = Vkc({"SET", "10", "INC=abc", "TO=/tmp/y"});
  EXPECT_NE(run.err.find("first INC= argument has invalid integer form --> abc"), std::string::npos) << run.err;
  EXPECT_EQ(Record(10).Data.Text.Increment, 30);
  EXPECT_STREQ(Record(10).Data.Text.To, "/tmp/y");
  // STATUS=INACTIVE empties the slot.
  Vkc({"SET", "10", "STATUS=INACTIVE"});
  EXPECT_EQ(Record(10).Status, 0);
}

TEST_F(ClientTest, ValuesLongerThanTheirFieldAreRefused) {
  Vkc({"CREATE", "7", "TYPE=AREA", "NAME=G8"});
  std::string file_before = ReadFile(dir_ / "VKClientFile");
  RunResult r = Vkc({"SET", "7", "NAME=" + std::string(32, 'n'), "INC=5"});
  EXPECT_EQ(r.out.substr(0, 50), "VKC error: NAME value is longer than 31 characters");
  EXPECT_EQ(ReadFile(dir_ / "VKClientFile"), file_before);
  r = Vkc({"SET", "7", "BAND=ALLX"});
  EXPECT_NE(r.out.find("VKC error: BAND value is longer than 3 characters."), std::string::npos);
  Vkc({"CREATE", "8", "TYPE=TEXT", "FROM=" + std::string(64, 'f')});
  EXPECT_EQ(Record(8).Status, 0);
  EXPECT_EQ(ReadFile(dir_ / "VKClientFile"), file_before);
  // The longest value that fits keeps its terminator.
  Vkc({"SET", "7", "NAME=" + std::string(31, 'n')});
  EXPECT_EQ(RecordBytes(7).substr(8, 32), std::string(31, 'n') + '\0');
}

TEST_F(ClientTest, RecordNumbersAndTheirLimits) {
  EXPECT_EQ(Out({"SET", "3", "4"}), "Invalid number of positional arguments ...\n");
  RunResult r = Vkc({"SET", "201"});
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("2nd positional argument is too big --> 201"), std::string::npos);
  // Record 200 lies past the end of a new file: it reads as empty.
  EXPECT_EQ(Out({"REPORT", "200"}), "");
  Vkc({"CREATE", "200", "TYPE=MD"});
  EXPECT_EQ(FileSize(dir_ / "VKClientFile"), 88012 + 440);
  EXPECT_EQ(Record(200).DataType, MD);
}

// ---------------------------------------------------------------------------
// LIST, REPORT, DATA, RESET.

TEST_F(ClientTest, ListOfOnlyPointDataRecords) {
  Vkc({"CREATE", "3", "TYPE=MD", "NAME=SFC", "GROUP=RTPT", "TITLE=Hourly"});
  Vkc({"CREATE", "5", "TYPE=MD", "NAME=UPA", "GROUP=RTPT", "STATUS=ACTIVE", "SELECT=ID"});
  // The frame report follows the (empty) image section, before the others.
  EXPECT_EQ(Out({"LIST", "1", "200"}),
            std::string(80, '*') + "\n***** Client Records Listing: Records:   1 -- 200 ******************************\n" +
                "Total frames: 1, Free frames:  1-1\n" + std::string(80, '=') +
                "\nSET X DATASET ...     BEGWS ENDWS INC POS SELECT ... (MD)\n" + std::string(80, '-') +
                "\n  3 S RTPT/SFC            0     0  30   0 NONE\n"
                "      TITLE: Hourly\n"
                "  5 A RTPT/UPA            0     0  30   0 ID\n"
                "\nNumber Suspended: 1; Number Active: 1\n");
  EXPECT_EQ(Out({"LIST", "1", "200", "TYPE=GRID"}),
            std::string(80, '*') + "\n***** Client Records Listing: Records:   1 -- 200 ******************************\n" +
                "\nNumber Suspended: 0; Number Active: 0\n");
  EXPECT_EQ(Out({"LIST"}), "Invalid number of positional arguments ...\n");
  std::string five = Out({"LIST", "5", "TYPE=MD", "BOGUS"});
  EXPECT_NE(five.find("Invalid type specifier ..."), std::string::npos);
  EXPECT_EQ(five.find("  3 S"), std::string::npos);
  EXPECT_NE(five.find("  5 A"), std::string::npos);
}

TEST_F(ClientTest, FrameReportAccountsForActiveImageRecords) {
  session_ = std::make_unique<FakeSession>(10);
  Vkc({"CREATE", "1", "TYPE=AREA", "FRAME=1", "4", "STATUS=ACTIVE", "OPP=5"});
  Vkc({"CREATE", "2", "TYPE=AREA", "FRAME=3", "6", "STATUS=ACTIVE", "DOM=1"});
  Vkc({"CREATE", "3", "TYPE=AREA", "FRAME=7", "9"});  // suspended: occupies nothing
  std::string out = Out({"LIST", "2", "3"});
  EXPECT_NE(out.find("\n  2 A NONE/NONE          1 A   40.0   90.0  30     0     0   3   6        1\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("\n  1 A "), std::string::npos);  // outside the range, but its frames count
  EXPECT_NE(out.find("Total frames: 10, Free frames:  7-10\n  Warning: frames  3-4 were used in more than one loop\n"),
            std::string::npos)
      << out;
  out = Out({"LIST", "1"});
  EXPECT_NE(out.find("  4            5\n"), std::string::npos) << out;  // OPP after four blanks
}

TEST_F(ClientTest, FrameValuesOutsideTheTableAreHarmless) {
  session_ = std::make_unique<FakeSession>(1100);
  ClientRec r = ClientDefaults(AREA);
  r.Status = Active;
  for (int n = 1; n <= 150; ++n) {
    r.Data.Area.BegFrame = r.Data.Area.EndFrame = 2 * n;  // one used frame, one free, ...
    Store(n, r);
  }
  r.Data.Area.BegFrame = -50;
  r.Data.Area.EndFrame = 2000000000;
  Store(151, r);
  Store(152, r);
  std::string out = Out({"LIST", "1", "1"});
  EXPECT_NE(out.find("WARNING: Frame count   1100  exceeds set max  frame number   1080\n"), std::string::npos);
  std::size_t at = out.find("Warning: frames ");
  ASSERT_NE(at, std::string::npos) << out;
  std::string conflicts = out.substr(at + 16, out.find(" were used", at) - at - 16);
  EXPECT_EQ(conflicts, " 1-1079");
  Store(151, ClientDefaults(AREA));
  Store(152, ClientDefaults(AREA));
  out = Out({"LIST", "1", "1"});
  at = out.find("Free frames: ");
  std::string free_list = out.substr(at + 13, out.find('\n', at) - at - 13);
  EXPECT_LE(free_list.size(), 199u);
  EXPECT_EQ(free_list.substr(0, 14), " 1-1 3-3 5-5 7");
  EXPECT_EQ(free_list.substr(free_list.size() - 4), " ...");
}

TEST_F(ClientTest, ReportOfEachType) {
  Vkc({"CREATE", "7", "TYPE=AREA", "NAME=G8", "GROUP=RTIM", "WORK=1", "5", "CMD=LINKCOPY"});
  std::string report = Out({"REPORT", "7"});
  EXPECT_EQ(report.rfind("Type: \t\tAREA\nGroup:\t\tRTIM\nClient Data:\tG8\nBand:\tALL\nLatitude:\t  40.00\n"
                         "Longitude:\t  90.00\nStatus:\t    2\nBegin Area:\t    1\nEnd Area:\t    5\nNext Area:\t    1\n",
                         0),
            0u)
      << report;
  EXPECT_NE(report.find("\nStore Data:\tTRUE\nPALX enhancement:\t\t\nSEQB G graphic frame: \t0\nLooping:\tFALSE\n"
                        "Begin Size: \t  -1\nEnd   Size: \t  -1\nDwell: \tAUTO\nGray: \tYES\nSU: \t\nCommand:\tLINKCOPY\n"),
            std::string::npos)
      << report;
  Vkc({"CREATE", "8", "TYPE=MD", "POS=2"});
  EXPECT_EQ(Out({"RP", "8"}),
            "Type: MD\nBegin Work: \t0\nEnd Work: \t0\nNext Work: \t0\nSelect: \tNONE\nTitle: \tNONE\n"
            "DestDel: \tTRUE\nPosition: \t2\nCommand:\tNONE\n");
  Vkc({"CREATE", "9", "TYPE=GRID"});
  EXPECT_EQ(Out({"RP", "9"}),
            "Type: GRID\nBegin Forcast:\t0\nEnd Forcast:\t0\nNext Forcast:\t0\nMax Grid:\t1000\nNum Matches:\t500\n"
            "Begin Work:\t0\nEnd Work:\t0\nNext Work:\t0\nIncrement:\t30\nLevel:\t\tNONE\nParam:\t\tNONE\n"
            "Command:\tNONE\n");
  Vkc({"CREATE", "10", "TYPE=TEXT", "TO=/x"});
  EXPECT_EQ(Out({"RP", "10"}), "Type: TEXT\nTo: /x\nFrom: NONE\nBinary: FALSE\n");
  EXPECT_EQ(Out({"RP", "11"}), "");
}

TEST_F(ClientTest, DataListsTheRemoteDataset) {
  Vkc({"CREATE", "1", "TYPE=AREA", "NAME=G8", "GROUP=RTIM"});
  Vkc({"CREATE", "2", "TYPE=MD", "NAME=SFC", "GROUP=RTPT"});
  Vkc({"CREATE", "3", "TYPE=GRID", "NAME=ETA", "GROUP=RTGR"});
  Vkc({"CREATE", "4", "TYPE=TEXT"});
  HostCommands();
  Vkc({"DATA", "1"});
  Vkc({"DA", "2"});
  Vkc({"DA", "3"});
  EXPECT_EQ(HostCommands(), (std::vector<std::string>{"RASCAT RTIM/G8.ALL", "OBSCAT RTPT/SFC.ALL FORM=FILE",
                                                      "MESHCAT RTGR/ETA.ALL FORM=FILE"}));
  EXPECT_EQ(Out({"DA", "4"}), "DATA: Client Record 4 is a TEXT record, there is no data to list.\n");
  EXPECT_EQ(Out({"DA", "5"}), "DATA: Client Record 5 holds no dataset, there is nothing to list.\n");
  EXPECT_TRUE(HostCommands().empty());
}

TEST_F(ClientTest, ResetForgetsTheLastItem) {
  ClientRec r = ClientDefaults(AREA);
  r.LastItem = 5;
  r.LastTime = 120000;
  r.LastDate = 2024001;
  r.LastStamp = 123456789;
  r.Data.Area.NxtWS = 9;
  Store(1, r);
  Store(2, r);
  Store(3, r);
  Verbose(2);
  EXPECT_EQ(Out({"RESET", "1", "2"}), "Complete entry reset ...\n");
  for (int n : {1, 2}) {
    ClientRec after = Record(n);
    EXPECT_EQ((std::vector<long long>{after.LastItem, after.LastTime, after.LastDate, after.LastStamp}),
              (std::vector<long long>{0, 0, 0, 0}));
    EXPECT_EQ(after.Data.Area.NxtWS, 9);
  }
  EXPECT_EQ(Record(3).LastItem, 5);
  EXPECT_EQ(Out({"RS", "3", "1"}), "Complete entry reset ...\n");  // an empty range
  EXPECT_EQ(Record(3).LastItem, 5);
}

// ---------------------------------------------------------------------------
// Server list and TRANSFER.

TEST_F(ClientTest, ServerListEntries) {
  EXPECT_EQ(Out({"CREATESERVER", "3", "GROUP=RTIM", "ADDRESS=10.1.2.3"}), "Created ServerList Record ...\n");
  EXPECT_EQ(Out({"LISTSERVERS", "3"}), "SET VER GROUP NAME ...         ADDRESS ...\n  3   2 RTIM                   10.1.2.3\n");
  EXPECT_EQ(Out({"SS", "3", "VERSION=1", "NAME=alpha"}), "ServerList Record Modified...\n");
  EXPECT_EQ(Out({"LS", "3"}), "SET VER GROUP NAME ...         ADDRESS ...\n  3   1 RTIM  alpha            10.1.2.3\n");
  RunResult r = Vkc({"SS", "3", "VERSION=3"});
  EXPECT_NE(r.err.find("first VERSION= argument is too big --> 3"), std::string::npos) << r.err;
  EXPECT_NE(Out({"LS", "3"}).find("  3   1 RTIM"), std::string::npos);

  EXPECT_EQ(Out({"CS", "4", "ADDRESS=h"}),
            "GROUP has to be set to a data group serverd by the machine.\nCreated ServerList Record ...\n");
  EXPECT_EQ(Out({"LS", "4"}), "SET VER GROUP NAME ...         ADDRESS ...\n  4   2                        \n");
  EXPECT_NE(Out({"SS", "4", "GROUP=TOOLONG"}).find("VKC error: GROUP value is longer than 4 characters."),
            std::string::npos);
  EXPECT_EQ(Out({"LISTSERVERS"}), "Invalid number of positional arguments ...\n");
  std::string all = Out({"LS", "1", "50"});
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 51);
}

TEST_F(ClientTest, TransferFetchesOneServersAvailabilityFile) {
  Vkc({"CS", "4", "GROUP=RTIM", "ADDRESS=10.0.0.4"});
  Vkc({"CS", "5", "GROUP=OLD", "ADDRESS=10.0.0.5", "VERSION=1"});
  Vkc({"CS", "6", "GROUP=NOAD"});
  HostCommands();
  Verbose(2);
  EXPECT_EQ(Out({"TRANSFER", "4"}),
            "WAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2\nWAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2\nTransfer complete...\n");
  Vkc({"T", "5"});
  EXPECT_EQ(HostCommands(), (std::vector<std::string>{"WAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2",
                                                      "WAITCAP 30 PEEKTX OLD/DAVARNEK_Y2K DEV=T COMPARE2"}));
  EXPECT_EQ(Out({"T", "6"}), "Server target name not found for transfer ...\nTransfer complete...\n");
  EXPECT_TRUE(HostCommands().empty());
}

// ---------------------------------------------------------------------------
// In-process: the route table, Zoom and WriteSize.

TEST(GetIP, RoutedAddressOfExactlyTheGroup) {
  TempDir home;
  ASSERT_EQ(mkdir((home / "tavrin").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((home / "tavrin/data").c_str(), 0755), 0);
  WriteFile(home / "tavrin/data/TVTABLE.TXT",
            "QOLA_ROUTE_RTIMX=9.9.9.9\n" + std::string(300, 'z') + "QOLA_ROUTE_RTIM=1.1.1.1\n"
            "QOLA_ROUTE_RTIM=2.2.2.2\nQOLA_ROUTE_EMPTY\nQOLA_ROUTE_LONG=123456789012345678901234\n");
  std::string saved = std::getenv("HOME");
  setenv("HOME", home.path().c_str(), 1);
  char ip[20];
  auto routed = [&ip](const char *group) {
    EXPECT_EQ(GetIP(group, ip), kClientOk) << group;
    return std::string(ip);
  };
  EXPECT_EQ(routed("RTIM"), "2.2.2.2");
  EXPECT_EQ(routed("RTIMX"), "9.9.9.9");
  EXPECT_EQ(routed("RTI"), "");
  EXPECT_EQ(routed("EMPTY"), "");
  EXPECT_EQ(routed("LONG"), "1234567890123456789");
  // No route table: a failure the caller decides about, never the end of
  // the program from inside the lookup.
  unsetenv("HOME");
  std::strcpy(ip, "stale");
  EXPECT_EQ(GetIP("RTIM", ip), kClientFailed);
  EXPECT_STREQ(ip, "");
  setenv("HOME", home.path().c_str(), 1);
  ASSERT_EQ(unlink((home / "tavrin/data/TVTABLE.TXT").c_str()), 0);
  ASSERT_EQ(mkfifo((home / "tavrin/data/TVTABLE.TXT").c_str(), 0600), 0);
  EXPECT_EQ(GetIP("RTIM", ip), kClientFailed);  // a FIFO is refused, never waited on
  setenv("HOME", saved.c_str(), 1);
}

TEST(ImageSizes, ZoomRules) {
  struct Row {
    const char *sat;
    int rs, rd, l, e;
  } rows[] = {{"G10", 4, 1, 4, 2},  {"G10", 4, 0, 4, 2},   {"GOES", 1, 4, -4, -4}, {"G8", 1, 4, -4, -8},
              {"XDPIX", 9, 1, -2, -4}, {"MET", 8, 2, 4, 4}, {"G10", 0, 4, -4, -8},  {"MET", 0, 0, -1, -1},
              {"G8", 1, 2147483647, -2147483647, -2147483647 - 1}};
  for (const Row &row : rows) {
    int l = 0, e = 0;
    Zoom(row.sat, row.rs, row.rd, &l, &e);
    EXPECT_EQ(l, row.l) << row.sat << " " << row.rs << " " << row.rd;
    EXPECT_EQ(e, row.e) << row.sat << " " << row.rs << " " << row.rd;
  }
  char op[30];
  ::testing::internal::CaptureStdout();
  EXPECT_STREQ(WriteSize(op, -99, 500), " SIZE=ALL");
  EXPECT_STREQ(WriteSize(op, 0, 500), " SIZE=SAME");
  EXPECT_STREQ(WriteSize(op, 480, -1), " SIZE=SAME");
  EXPECT_STREQ(WriteSize(op, 480, 640), " SIZE=  480   640");
  EXPECT_STREQ(WriteSize(op, -2147483647 - 1, -2147483647 - 1), " SIZE=-2147483648 -2147483648");
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().substr(0, 18), "Sizes are -99 500 ");
}

}  // namespace
