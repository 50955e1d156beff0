// The record commands run as programs: VKS INSTALL, CREATE, SET, DELETE,
// SUSPEND, RELEASE and LIST, their messages and listings byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "server/server.h"
#include "tests/server/vks_fixture.h"

namespace {

using test_vks::VksTest;

const std::string kStars68(68, '*');
const std::string kDashes66(66, '-');
// One line for one failure: the command's own message.
const std::string kCannotOpen = "Fail to open Varnek II server file.\nCannot open server file.\n";

std::string Title(int b, int e) {
  return "***** Server Records Listing: Record " + std::to_string(b) + " -- " + std::to_string(e) + " *****\n" +
         kStars68 + "\n";
}
std::string Counts(int suspended, int active) {
  return kStars68 + "\nNumber Suspended: " + std::to_string(suspended) + "; Number Active: " + std::to_string(active) +
         " \n";
}
std::string Pad(const std::string &text, std::size_t width) { return std::string(width - text.size(), ' ') + text; }
std::string Section(const std::string &header) { return kDashes66 + "\n" + header + "\n" + kDashes66 + "\n"; }

const std::string kAreaHeader = "#  STA BAREA EAREA CAREA   DATE   TIME   SCAN  EOF RES  SRC  GRP QOLA";
const std::string kMdHeader = "#  STA B_MD  E_MD  C_MD   DATE   TIME   SCHEMA NROW NCOL GRP QOLA";
const std::string kGridHeader = "#  STA BGRID EGRID CGRID   DATE   RTIME  FHOUR SRC   GRP QOLA";
const std::string kTextHeader = "#  STA F_MDATE F_MTIME FILENAME             FILEPATH";

TEST_F(VksTest, InstallWritesTwoHundredEmptySlots) {
  Install();
  std::string text = FileText();
  ASSERT_EQ(text.size(), 79000u);
  std::string line = std::string(394, '~') + "\n";
  for (int n = 0; n < 200; ++n) ASSERT_EQ(text.substr(static_cast<std::size_t>(n) * 395, 395), line) << n;
  struct stat st;
  ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_ISGID, 0u);
  ServerRec rec = Record(200);
  EXPECT_EQ(rec.Status, Inactive);
  EXPECT_EQ(rec.DataType, AREA);
  // Over an existing file: its other mode bits are kept, the bit is set.
  ASSERT_EQ(chmod(FilePath().c_str(), 0640), 0);
  Install();
  ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 02640u);
}

TEST_F(VksTest, InstallThatCannotCreateTheFileEndsWithStatusOne) {
  ASSERT_EQ(mkdir(FilePath().c_str(), 0755), 0);
  testing_support::RunResult r =
      testing_support::RunProgram({testing_support::ProgramPath("vks"), "INSTALL"}, dir_.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Fail to init Varnek II server file, will exit.\n");
}

TEST_F(VksTest, WritingRecord200ChangesOnlyItsCharacters) {
  Install();
  std::string before = FileText();
  ServerRec rec = Series(AREA, 1, 9);
  Put(200, rec);
  std::string after = FileText();
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(0, 78605), before.substr(0, 78605));
  EXPECT_EQ(after[78999], '\n');
  EXPECT_EQ(after.substr(78605, 394).find('~'), std::string::npos);
}

// One session of commands: each row's standard output in full, and a piece
// of its error output where the host runtime diagnoses an argument.
struct Step {
  std::vector<std::string> args;
  std::string out;
  std::string err_part = "";
  int status = 0;  // 0 done, 1 could not, 2 usage
};

TEST_F(VksTest, CommandMessages) {
  Install();
  const std::string record_zero = ": Invalid record number 0; records are numbered 1 to 200.\n";
  const std::vector<Step> steps = {
      {{"CREATE", "5", "AREA", "RANGE=1", "100"}, "DONE: CREATE.\n"},
      {{"LIST", "1", "200"}, Title(1, 200) + Counts(0, 0)},
      {{"SET", "5", "MACH=a"}, "SetCreateServerRec: Cannot set on non existant entry. Using CREATE.\n", "", 1},
      {{"CREATE", "5", "AREA", "RANGE=1", "100", "STATUS=ACTIVE"}, "DONE: CREATE.\n"},
      {{"CREATE", "5", "MD"}, "SetCreateServerRec: Record 5 not empty, try another record number.\n", "", 1},
      {{"CREATE", "6", "area"}, "SetCreateServerRec: unknown type area\n", "", 2},
      {{"CREATE", "6"}, "SetCreateServerRec: Invalid number of positional arguments.\n", "", 2},
      {{"SET", "5", "AREA"}, "SetCreateServerRec: Invalid number of positional arguments.\n", "", 2},
      {{"SET", "0"}, "SetCreateServerRec" + record_zero, "", 2},
      {{"SET", "201"}, "SetCreateServerRec: Invalid number\n", "2nd positional argument is too big --> 201", 2},
      {{"SET", "5", "COLOR=red"}, "", "Invalid command keywords: COLOR=red", 2},
      {{"SET", "5", "SOURCE=A", "SATE=B"}, "DONE: SET.\n"},
      {{"DELETE"}, "DELETEServer: Wrong positional arg number.\n", "", 2},
      {{"SUSPEND", "1", "2"}, "SUSPENDServer: Wrong positional arg number.\n", "", 2},
      {{"RELEASE", "0"}, "RELEASEServer" + record_zero, "", 2},
      {{"DELETE", "abc"}, "", "2nd positional argument has invalid integer form --> abc", 2},
      {{"SUSPEND", "9"}, "DONE: SUSPEND.\n"},
      {{"RELEASE", "9"}, "DONE: RELEASE.\n"},
      {{"DELETE", "9"}, "DONE: DELETE.\n"},
      {{"LIST"}, "LISTServer: Invalid argument numbers.\n", "", 2},
      {{"LIST", "1", "2", "3"}, "LISTServer: Invalid argument numbers.\n", "", 2},
      {{"LIST", "0"}, "LISTServer" + record_zero, "", 2},
      {{"LIST", "10", "5"}, "listServerRecs: Invalid arguments.\n", "", 1},
      {{"LIST", "1", "TYPE=FOO"}, "LISTServer: Invalid type FOO\n" + Title(1, 1) + Counts(0, 0), "", 1},
      {{"LIST", "1", "SIZE=2"}, "", "Invalid command keywords: SIZE=2", 2},
      {{"INVOKE"}, "", "vks: INVOKEServer: No file or too many files specified.", 2},
      {{"VERSION"}, "Invalid VKS command: VERSION\n", "", 2},
  };
  for (const Step &step : steps) {
    testing_support::RunResult r = Vks(step.args, {}, step.status);
    EXPECT_EQ(r.out, step.out) << step.args[0] << " " << (step.args.size() > 1 ? step.args[1] : "");
    if (!step.err_part.empty()) {
      EXPECT_NE(r.err.find(step.err_part), std::string::npos) << r.err;
    }
  }
  EXPECT_STREQ(Record(5).ServerData.Area.dataSource, "B");  // SATE wins over SOURCE
  EXPECT_EQ(Record(9).Status, Inactive);
}

// The keyword check is a setting of the session: TVKEYCHECK=0 at its start
// switches it off, and a run without the variable checks.
TEST_F(VksTest, KeywordCheckFollowsTheSession) {
  Install();
  Put(5, Series(AREA, 1, 10));
  EXPECT_EQ(Out({"SET", "5", "COLOR=red"}, {{"TVKEYCHECK", "0"}}), "DONE: SET.\n");
  testing_support::RunResult r = Vks({"SET", "5", "COLOR=red"}, {}, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Invalid command keywords: COLOR=red"), std::string::npos) << r.err;
  r = Vks({"SET", "5", "COLOR=red"}, {{"TVKEYCHECK", "1"}}, 2);
  EXPECT_EQ(r.out, "");
}

// Every command of the server's table but INSTALL needs the availability
// file, says so when it is missing, and does not create it.
TEST_F(VksTest, EveryCommandReportsAMissingFile) {
  const std::map<std::string, std::vector<std::vector<std::string>>> arguments = {
      {"SET", {{"1"}}},     {"CREATE", {{"1", "AREA"}}},          {"DELETE", {{"1"}}}, {"SUSPEND", {{"1"}}},
      {"RELEASE", {{"1"}}}, {"LIST", {{"1"}, {"1", "DETAIL=ON"}}}, {"INVOKE", {{"1"}}}};
  for (const auto &row : driver_table::CommandsFor(kServerMode)) {
    const std::string word(row.word);
    if (word == "INSTALL") continue;
    auto runs = arguments.find(word);
    ASSERT_NE(runs, arguments.end()) << word << " is not run here";
    for (std::vector<std::string> args : runs->second) {
      args.insert(args.begin(), word);
      EXPECT_EQ(Out(args, {}, 1), kCannotOpen + (word == "INVOKE" ? "INVOKEServer: Error in invokeServerRec\n" : ""))
          << word;
    }
  }
  EXPECT_FALSE(testing_support::Exists(FilePath()));
}

TEST_F(VksTest, TableListingOfEveryType) {
  Install();
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"CREATE", "2", "AREA", "RANGE=1", "100", "SOURCE=GOES16", "GROUP=SATL", "NAME=GOES16IR", "RES=4",
            "SCAN=12", "EOF=1", "STATUS=ACTIVE"},
           {"CREATE", "4", "MD", "RANGE=10", "20", "GROUP=PTS", "NAME=SFC", "STATUS=Suspend"},
           {"CREATE", "6", "GRID", "RANGE=1", "50", "SOURCE=GFS", "GROUP=MODL", "NAME=GFS84", "STATUS=active"},
           {"CREATE", "8", "TEXT", "FNAME=/home/u/notes.txt", "STATUS=ACTIVE"},
           {"CREATE", "10", "AREA", "RANGE=1", "2"}}) {
    ASSERT_EQ(Out(args), "DONE: CREATE.\n") << args[1];
  }
  ASSERT_EQ(Out({"SUSPEND", "9"}), "DONE: SUSPEND.\n");
  const std::string area_rows =
      "2   A  1     100   1     0000000 000000 12     1   4   GOES1 SAT GOES16IR\n"
      "9   S  0     0     0     0000000 000000 0      0   0             \n";
  const std::string md_row = "4   S  10    20    10    0000000 000000        0    0    PTS SFC\n";
  const std::string grid_row = "6   A  1     50    1     0000000 000000 000000 GFS   MOD GFS84\n";
  const std::string text_row = "8   A  0000000 000000  notes.txt /home/u/\n";
  EXPECT_EQ(Out({"LIST", "1", "500"}), Title(1, 200) + Section(kAreaHeader) + area_rows + Section(kMdHeader) + md_row +
                                          Section(kGridHeader) + grid_row + Section(kTextHeader) + text_row +
                                          Counts(2, 3));
  EXPECT_EQ(Out({"LIST", "1", "200", "TYPE=GRID", "AREA"}),
            Title(1, 200) + Section(kAreaHeader) + area_rows + Section(kGridHeader) + grid_row + Counts(1, 2));
  EXPECT_EQ(Out({"LIST", "3", "7", "TYPE=TEXT", "MD"}), Title(3, 7) + Section(kMdHeader) + md_row + Counts(1, 0));
  EXPECT_EQ(Out({"LIST", "2", "TYPE=NONE", "ALL"}, {}, 1),
            "LISTServer: Invalid type NONE\n" + Title(2, 2) + Section(kAreaHeader) + area_rows.substr(0, 74) +
                Counts(0, 1));
}

TEST_F(VksTest, DetailListing) {
  Install();
  ASSERT_EQ(Out({"CREATE", "3", "AREA", "RANGE=1", "100", "SOURCE=G16", "GROUP=SATELLITE", "NAME=IR",
                 "MACH=alpha", "FPATH=/data/area", "STATUS=ACTIVE"}),
            "DONE: CREATE.\n");
  ASSERT_EQ(Out({"CREATE", "4", "TEXT", "FNAME=notes.txt", "FPATH=/home/u/", "STATUS=SUSPEND"}), "DONE: CREATE.\n");
  ASSERT_EQ(Out({"CREATE", "5", "GRID", "RANGE=1", "9"}), "DONE: CREATE.\n");  // Inactive: not shown
  const std::string stars60(60, '*');
  EXPECT_EQ(Out({"LIST", "1", "500", "DETAIL=ON"}),
            "********** Availability File Record 3 Details *********\n"
            " Record number: 3\n Status: ACTIVE\n Data type: AREA\n Machine name: alpha\n File path: /data/area/ \n"
            " Last date file modified: 0000000\n Last time file modified: 000000\n"
            " Beginning of the range: 1\n End of the range: 100\n Current AREA file number: 1\n"
            " AREA image date: 0\n AREA image time: 0\n AREA source/Satellite: G16\n AREA image resolution: 0\n"
            " AREA scan line: 0\n AREA EOF: 0\n AREA QOLA group: SATELLITE\n AREA QOLA descriptor: IR\n"
            " AREA reserved/comments: \n Additional comments: \n" +
                stars60 +
                "\n********** Availability File Record 4 Details *********\n"
                " Record number: 4\n Status: SUSPEND\n Data type: TEXT\n Machine name: \n File path: /home/u/ \n"
                " Last date file modified: 0000000\n Last time file modified: 000000\n Filename: notes.txt\n"
                " Additional comments: \n" +
                stars60 + "\n");
  EXPECT_EQ(Out({"LIST", "3", "4", "DETAIL=1", "TYPE=TEXT"}).substr(0, 56),
            "********** Availability File Record 4 Details *********\n");
  EXPECT_EQ(Out({"LIST", "3", "DETAIL=OFF"}).substr(0, 51), Title(3, 3).substr(0, 51));
}

// Keyword rules of CREATE and SET, checked in the record written.
TEST_F(VksTest, KeywordsSetTheirFields) {
  Install();
  ASSERT_EQ(Out({"CREATE", "1", "AREA", "RANGE=5", "9", "STATUS=ACTIVE", "FPATH=/data/area"}), "DONE: CREATE.\n");
  ServerRec rec = Record(1);
  EXPECT_STREQ(rec.filePath, "/data/area/");
  EXPECT_EQ(rec.ServerData.Area.currentNum, 5);

  // Stored, and a usage error: values that are not numbers were not applied.
  ASSERT_EQ(Out({"SET", "1", "FPATH=/data/x/", "RANGE=X", "12", "RES=abc", "SCAN=7", "EOF=1", "MACH=beta"}, {}, 2),
            "DONE: SET.\n");
  rec = Record(1);
  EXPECT_STREQ(rec.filePath, "/data/x/");
  EXPECT_STREQ(rec.machineName, "beta");
  EXPECT_EQ(rec.ServerData.Area.bRange, 5);  // X: the current value
  EXPECT_EQ(rec.ServerData.Area.eRange, 12);
  EXPECT_EQ(rec.ServerData.Area.currentNum, 5);  // SET leaves the current number
  EXPECT_EQ(rec.ServerData.Area.imageResolution, 0);  // not an integer: not applied
  EXPECT_EQ(rec.ServerData.Area.scanLine, 7);

  ASSERT_EQ(Out({"SET", "1", "STATUS=Suspend"}), "DONE: SET.\n");
  EXPECT_EQ(Record(1).Status, Suspend);
  ASSERT_EQ(Out({"SET", "1", "STATUS=Paused"}), "DONE: SET.\n");
  EXPECT_EQ(Record(1).Status, Suspend);
  ASSERT_EQ(Out({"SET", "1", "STATUS=INACTIVE"}), "DONE: SET.\n");
  EXPECT_EQ(Out({"SET", "1", "MACH=x"}, {}, 1),
            "SetCreateServerRec: Cannot set on non existant entry. Using CREATE.\n");
  ASSERT_EQ(Out({"CREATE", "1", "GRID", "RES=4", "SATE=X", "SOURCE=ECMWF"}), "DONE: CREATE.\n");
  rec = Record(1);
  EXPECT_EQ(rec.DataType, GRID);
  EXPECT_STREQ(rec.filePath, "");  // a new blank record
  EXPECT_STREQ(rec.ServerData.Grid.dataSource, "ECMWF");
}

TEST_F(VksTest, TextFileNameRules) {
  Install();
  const std::string no_dir = "SetCreateServerRec: FNAME option should be absolute path or file name w/o directory.\n";
  const std::vector<Step> steps = {
      {{"CREATE", "1", "TEXT", "FPATH=/a/very/long/path"}, "SetCreateServerRec: FNAME option must be specified for TEXT type.\n"},
      {{"CREATE", "1", "TEXT", "FNAME=sub/notes.txt"}, no_dir},
      {{"CREATE", "1", "TEXT", "FNAME=/home/u/"}, "SetCreateServerRec: FNAME option must name a file, not a directory.\n"},
      {{"CREATE", "1", "TEXT", "FPATH=/a/very/long/path", "FNAME=/home/u/notes.txt", "STATUS=ACTIVE"},
       "DONE: CREATE.\n"},
      {{"SET", "1", "FNAME=other.txt"}, "DONE: SET.\n"},
  };
  for (const Step &step : steps)  // a refusal ends with 1
    EXPECT_EQ(Out(step.args, {}, step.out.rfind("DONE", 0) == 0 ? 0 : 1), step.out) << step.args.back();
  ServerRec rec = Record(1);
  EXPECT_STREQ(rec.ServerData.Text.fileName, "other.txt");
  EXPECT_STREQ(rec.filePath, "/home/u/");
}

// A value the availability file cannot carry is refused and the file is
// left exactly as it was.
TEST_F(VksTest, ValuesThatDoNotFitAreRefusedBeforeWriting) {
  Install();
  ASSERT_EQ(Out({"CREATE", "1", "AREA", "STATUS=ACTIVE"}), "DONE: CREATE.\n");
  ASSERT_EQ(Out({"CREATE", "2", "TEXT", "FNAME=a.txt", "STATUS=ACTIVE"}), "DONE: CREATE.\n");
  const std::string before = FileText();
  const std::vector<Step> steps = {
      {{"SET", "1", "MACH=" + std::string(32, 'm')},
       "SetCreateServerRec: MACH value \"" + std::string(32, 'm') + "\" is longer than 31 characters.\n"},
      {{"SET", "1", "FPATH=/" + std::string(78, 'p')},
       "SetCreateServerRec: FPATH value \"/" + std::string(78, 'p') + "/\" is longer than 79 characters.\n"},
      {{"SET", "1", "SOURCE=ABCDEFGHIJ"}, "SetCreateServerRec: SOURCE value \"ABCDEFGHIJ\" is longer than 9 characters.\n"},
      {{"SET", "1", "RANGE=1", "10000"},
       "SetCreateServerRec: eRange 10000 does not fit its 4-character column; record 1 not changed.\n"},
      {{"SET", "1", "SCAN=-100000"},
       "SetCreateServerRec: scanLine -100000 does not fit its 6-character column; record 1 not changed.\n"},
      {{"SET", "1", "GROUP=A|B"}, "DONE: SET.\n"},  // a group may hold a bar (it is read up to a blank)
      {{"SET", "1", "MACH=a|b"},
       "SetCreateServerRec: machineName \"a|b\" contains a '|'; record 1 not changed.\n"},
      {{"SET", "2", "FNAME=" + std::string(20, 'f')},
       "SetCreateServerRec: FNAME value \"" + std::string(20, 'f') + "\" is longer than 19 characters.\n"},
  };
  for (const Step &step : steps)  // a refusal ends with 1
    EXPECT_EQ(Out(step.args, {}, step.out.rfind("DONE", 0) == 0 ? 0 : 1), step.out) << step.args.back();
  EXPECT_STREQ(Record(1).ServerData.Area.Group, "A|B");
  std::string after = FileText();
  EXPECT_EQ(after.substr(395), before.substr(395));  // record 2 and every other line untouched
  EXPECT_EQ(Out({"SET", "1", "GROUP=*"}), "DONE: SET.\n");
  EXPECT_EQ(FileText().substr(0, 266), after.substr(0, 266));  // columns before the group unchanged
}

// A hand-edited status or type outside the word tables.
TEST_F(VksTest, StatusOutsideTheWordTableIsShownAsNumberOrQuestionMark) {
  Install();
  ServerRec rec = Series(AREA, 1, 2);
  rec.Status = 7;
  Put(3, rec);
  std::string text = FileText();
  text.replace(395 * 3, 394, Pad("1 | 9 | * | * | 0 | 0 | ", 150) + std::string(244, ' '));  // record 4
  testing_support::WriteFile(FilePath(), text);
  EXPECT_EQ(Out({"LIST", "3", "4"}),
            Title(3, 4) + "ReadServerFile: Unknown data type 9 reading rec 4\n" + Section(kAreaHeader) +
                "3   ?  1     2     1     0000000 000000 0      0   0             \n" + Counts(0, 0));
  std::string detail = Out({"LIST", "3", "4", "DETAIL=ON"});
  EXPECT_NE(detail.find(" Status: 7\n"), std::string::npos) << detail;
  EXPECT_NE(detail.find("ReadServerFile: Unknown data type 9 reading rec 4\n"), std::string::npos);
  EXPECT_EQ(Out({"DELETE", "4"}, {}, 1), "ReadServerFile: Unknown data type 9 reading rec 4\n");
  EXPECT_EQ(Out({"DELETE", "3"}), "DONE: DELETE.\n");
  EXPECT_EQ(Record(3).ServerData.Area.eRange, 2);  // deleting keeps the rest of the line
}

}  // namespace
