// VKS INVOKE run as a program against data files the tests write: which
// records match, what each type's header gives, modification times in UTC,
// and the refusals and warnings.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/server.h"
#include "tests/server/data_files.h"
#include "tests/server/vks_fixture.h"

namespace {

using test_vks::VksTest;
using testing_support::EnvChanges;
using testing_support::RunResult;

constexpr long kKnownInstant = 1700000000;  // 2023-11-14 22:13:20 UTC, day 318
constexpr int kKnownDate = 2023318;
constexpr int kKnownTime = 221320;

class InvokeTest : public VksTest {
 protected:
  void SetUp() override {
    Install();
    data_ = dir_ / "data";
    ASSERT_EQ(mkdir(data_.c_str(), 0755), 0);
  }
  // INVOKE with the data directory as FPATH and TVPATH.
  RunResult Invoke(std::vector<std::string> args, int status = 0) {
    args.insert(args.begin(), "INVOKE");
    args.push_back("FPATH=" + data_);
    return Vks(args, {{"TVPATH", data_}}, status);
  }
  std::string data_;
};

TEST_F(InvokeTest, MatchesByRangeMachineAndStatus) {
  Put(3, Series(AREA, 1, 100));
  Put(5, Series(AREA, 50, 150));
  ServerRec suspended = Series(AREA, 1, 100);
  suspended.Status = Suspend;
  Put(7, suspended);
  Put(9, Series(AREA, 1, 100, "alpha"));
  Put(11, Series(MD, 1, 100));

  EXPECT_EQ(Invoke({"60"}).out, "DONE: INVOKE.\n");
  EXPECT_EQ(Record(3).ServerData.Area.currentNum, 60);
  EXPECT_EQ(Record(5).ServerData.Area.currentNum, 50);
  Invoke({"61", "MULTI=ON"});
  EXPECT_EQ(Record(3).ServerData.Area.currentNum, 61);
  EXPECT_EQ(Record(5).ServerData.Area.currentNum, 61);
  Invoke({"120"});
  EXPECT_EQ(Record(3).ServerData.Area.currentNum, 61);
  EXPECT_EQ(Record(5).ServerData.Area.currentNum, 120);
  std::string before = FileText();
  EXPECT_EQ(Invoke({"200"}).out, "DONE: INVOKE.\n");
  EXPECT_EQ(FileText(), before);
  Invoke({"62", "MACH=alpha", "MULTI=1"});
  EXPECT_EQ(Record(9).ServerData.Area.currentNum, 62);
  EXPECT_EQ(Record(3).ServerData.Area.currentNum, 61);
  EXPECT_EQ(Record(7).ServerData.Area.currentNum, 1);   // Suspend: never
  EXPECT_EQ(Record(11).ServerData.Md.currentNum, 1);    // another type
  // The record's own current number matches even outside its range.
  Invoke({"120", "MULTI=ON"});
  EXPECT_EQ(Record(5).ServerData.Area.currentNum, 120);
  EXPECT_STREQ(Record(5).filePath, (data_ + "/").c_str());
}

TEST_F(InvokeTest, AreaHeaderAndModificationTimeInUtc) {
  ServerRec rec = Series(AREA, 1, 100);
  rec.ServerData.Area.scanLine = 44;
  Put(1, rec);
  test_data::WriteAreaFile(data_ + "/AREA0060", 18123, 143000);
  ASSERT_TRUE(test_data::SetModificationTime(data_ + "/AREA0060", kKnownInstant));
  EXPECT_EQ(Invoke({"60", "EOF=1"}).out, "DONE: INVOKE.\n");
  rec = Record(1);
  const AreaServerStruct &a = rec.ServerData.Area;
  EXPECT_EQ(a.currentNum, 60);
  EXPECT_EQ(a.dataDate, 2018123);
  EXPECT_EQ(a.dataTime, 143000);
  EXPECT_EQ(a.scanLine, 44);  // SCAN absent: kept
  EXPECT_EQ(a.flagEof, 1);
  EXPECT_EQ(rec.fileMdate, kKnownDate);
  EXPECT_EQ(rec.fileMtime, kKnownTime);

  // The other byte order, a date with a century digit, and SCAN given.
  test_data::WriteAreaFile(data_ + "/AREA0061", 97001, 235959, true);
  Invoke({"61", "SCAN=7"});
  rec = Record(1);
  EXPECT_EQ(rec.ServerData.Area.dataDate, 1997001);
  EXPECT_EQ(rec.ServerData.Area.dataTime, 235959);
  EXPECT_EQ(rec.ServerData.Area.scanLine, 7);
}

TEST_F(InvokeTest, AreaDirectoryIsFoundThroughTvpathNotThroughFpath) {
  Put(1, Series(AREA, 1, 100));
  std::string other = dir_ / "elsewhere";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  test_data::WriteAreaFile(other + "/AREA0005", 118123, 10000);
  test_data::WriteAreaFile(data_ + "/AREA0005", 99999, 99999);  // only its time is used
  ASSERT_TRUE(test_data::SetModificationTime(data_ + "/AREA0005", kKnownInstant));
  RunResult r = Vks({"INVOKE", "5", "FPATH=" + data_}, {{"TVPATH", other + ":" + data_}});
  EXPECT_EQ(r.out, "DONE: INVOKE.\n");
  ServerRec rec = Record(1);
  EXPECT_EQ(rec.ServerData.Area.dataDate, 2018123);
  EXPECT_EQ(rec.ServerData.Area.dataTime, 10000);
  EXPECT_EQ(rec.fileMdate, kKnownDate);
}

TEST_F(InvokeTest, MissingAreaFileClearsTheDateButStillWritesTheRecord) {
  ServerRec rec = Series(AREA, 1, 100);
  rec.ServerData.Area.dataDate = 2020001;
  rec.ServerData.Area.dataTime = 120000;
  rec.fileMdate = 2020001;
  Put(1, rec);
  RunResult r = Invoke({"61"});
  EXPECT_EQ(r.out, "DONE: INVOKE.\n");
  EXPECT_NE(r.err.find("vks: invokeServerRec: AREA0061 not found.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(data_ + "/AREA0061: No such file or directory\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vks: Warning: file " + data_ + "/AREA0061 does not exist.\n"), std::string::npos);
  rec = Record(1);
  EXPECT_EQ(rec.ServerData.Area.currentNum, 61);
  EXPECT_EQ(rec.ServerData.Area.dataDate, 0);
  EXPECT_EQ(rec.ServerData.Area.dataTime, 0);
  EXPECT_EQ(rec.fileMdate, 2020001);
}

TEST_F(InvokeTest, MdFileInformation) {
  Put(1, Series(MD, 1, 100));
  test_data::WriteMdFile(data_ + "/MDXX0012", "ISFC", 300, 25, 18123);
  test_data::WriteMdFile(data_ + "/MDXX0013", "SYN\0", 7, 8, 0, true);
  ASSERT_TRUE(test_data::SetModificationTime(data_ + "/MDXX0013", kKnownInstant));
  Invoke({"12", "TYPE=MD"});
  ServerRec rec = Record(1);
  EXPECT_EQ(rec.ServerData.Md.dataDate, 2018123);
  EXPECT_STREQ(rec.ServerData.Md.schema, "ISFC");
  EXPECT_EQ(rec.ServerData.Md.numRow, 300);
  EXPECT_EQ(rec.ServerData.Md.numColumn, 25);
  Invoke({"13", "TYPE=MD"});
  rec = Record(1);
  EXPECT_EQ(rec.ServerData.Md.dataDate, 0);  // a date word of 0 stays 0
  EXPECT_STREQ(rec.ServerData.Md.schema, "SYN");
  EXPECT_EQ(rec.ServerData.Md.numRow, 7);
  EXPECT_EQ(rec.fileMtime, kKnownTime);
  RunResult r = Invoke({"14", "TYPE=MD"});
  EXPECT_EQ(r.out, "invokeServerRec: MDXX0014 not found.\nDONE: INVOKE.\n");
  rec = Record(1);
  EXPECT_EQ(rec.ServerData.Md.currentNum, 14);
  EXPECT_STREQ(rec.ServerData.Md.schema, "");
  EXPECT_EQ(rec.ServerData.Md.numColumn, 0);
}

struct LabelRow {
  const char *label;
  const char *source;
  int run_time, forecast, date;
  const char *warning;
};

TEST_F(InvokeTest, GridLabel) {
  const LabelRow rows[] = {
      {"GFS 12Z 084HR 18123\nrest", "GFS ", 120000, 840000, 2018123, nullptr},
      {"VERYLONGMODELNAME 06Z 012HR 99001", "VERYLONGM", 60000, 120000, 1999001, nullptr},
      {"GFS 00Z 120HR 18124", "GFS ", 0, 1, 2018124, "forecast hour 1200000 of"},
      {"ETA|x\t", "ETA x ", 1, 1, 1, nullptr},  // no digits: only the source is read
      {"NAM 18Z", "NAM ", 180000, 1, 1, nullptr},
      {"7", "keep", 1, 1, 1, nullptr},  // starts with a digit: nothing is read
  };
  for (const LabelRow &row : rows) {
    SCOPED_TRACE(row.label);
    ServerRec rec = Series(GRID, 1, 100);
    std::strcpy(rec.ServerData.Grid.dataSource, "keep");
    rec.ServerData.Grid.dataTime = 1;
    rec.ServerData.Grid.forecastHour = 1;
    rec.ServerData.Grid.dataDate = 1;
    Put(1, rec);
    testing_support::WriteFile(data_ + "/GRID0007", row.label);
    RunResult r = Invoke({"7", "TYPE=GRID"});
    EXPECT_EQ(r.out, "DONE: INVOKE.\n");
    if (row.warning) {
      EXPECT_NE(r.err.find(row.warning), std::string::npos) << r.err;
    }
    rec = Record(1);
    std::string source = row.source;
    while (!source.empty() && source.back() == ' ') source.pop_back();  // read back trimmed
    EXPECT_EQ(std::string(rec.ServerData.Grid.dataSource), source);
    EXPECT_EQ(rec.ServerData.Grid.dataTime, row.run_time);
    EXPECT_EQ(rec.ServerData.Grid.forecastHour, row.forecast);
    EXPECT_EQ(rec.ServerData.Grid.dataDate, row.date);
  }
  RunResult r = Invoke({"8", "TYPE=GRID"});
  EXPECT_NE(r.err.find("invokeServerRec: No such file or directory\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vks: Warning: file " + data_ + "/GRID0008 not found.\n"), std::string::npos);
  EXPECT_EQ(Record(1).ServerData.Grid.currentNum, 8);
}

TEST_F(InvokeTest, TextRecordsMatchByNameAndPath) {
  ServerRec rec;
  (void)initServerRec(&rec, TEXT);
  rec.Status = Active;
  std::strcpy(rec.filePath, (data_ + "/").c_str());
  std::strcpy(rec.ServerData.Text.fileName, "notes.txt");
  Put(2, rec);
  testing_support::WriteFile(data_ + "/notes.txt", "text");
  ASSERT_TRUE(test_data::SetModificationTime(data_ + "/notes.txt", kKnownInstant));
  EXPECT_EQ(Invoke({"notes.txt", "TYPE=TEXT"}).out, "DONE: INVOKE.\n");
  EXPECT_EQ(Record(2).fileMdate, kKnownDate);

  ASSERT_TRUE(test_data::SetModificationTime(data_ + "/notes.txt", kKnownInstant + 86400));
  EXPECT_EQ(Vks({"INVOKE", data_ + "/notes.txt", "TYPE=TEXT"}).out, "DONE: INVOKE.\n");
  EXPECT_EQ(Record(2).fileMdate, kKnownDate + 1);

  std::string before = FileText();
  RunResult r = Invoke({"sub/notes.txt", "TYPE=TEXT"}, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("SetCreateServerRec: FNAME option should be absolute path or file name w/o directory."),
            std::string::npos);
  r = Invoke({data_ + "/", "TYPE=TEXT"}, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("INVOKEServer: " + data_ + "/ does not name a file."), std::string::npos) << r.err;
  EXPECT_EQ(FileText(), before);
}

TEST_F(InvokeTest, ArgumentsAndRefusals) {
  Put(1, Series(AREA, 1, 1));
  Put(2, Series(AREA, 2, 2));
  Put(3, Series(AREA, 3, 3));
  RunResult r = Invoke({"1", "abc", "3"}, 2);  // stored, and a usage error
  EXPECT_EQ(r.out, "DONE: INVOKE.\n");
  EXPECT_NE(r.err.find("vks: INVOKEServer: Invalid file number. Skipped.\n"), std::string::npos) << r.err;
  EXPECT_STREQ(Record(1).filePath, (data_ + "/").c_str());
  EXPECT_STREQ(Record(2).filePath, "");
  EXPECT_STREQ(Record(3).filePath, (data_ + "/").c_str());

  r = Invoke({"2", "MULTI=MAYBE"}, 1);  // stored, and a value refused
  EXPECT_NE(r.err.find("vks: INVOKEServer: MULTI keyword only accept ON/OFF/1/0 options.\n"
                       "vks: INVOKEServer: set MULTI option to default 0. i.e OFF.\n"),
            std::string::npos);
  EXPECT_STREQ(Record(2).filePath, (data_ + "/").c_str());

  const std::string before = FileText();
  const struct {
    std::vector<std::string> args;
    std::string out, err_part;
    int status;
  } refusals[] = {
      {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, "", "INVOKEServer: No file or too many files specified.", 2},
      {{"1", "TYPE=area"}, "INVOKEServer: Unknown data type area.\n", "", 1},
      {{"1", "COLOR=red"}, "", "Invalid command keywords: COLOR=red", 2},
      {{"1", "SCAN=1234567"}, "INVOKEServer: scanLine 1234567 does not fit its 6-character column.\n", "", 1},
      {{"1", "MACH=" + std::string(32, 'm')},
       "INVOKEServer: MACH value \"" + std::string(32, 'm') + "\" is longer than 31 characters.\n", "", 1},
      {{"10000"}, "DONE: INVOKE.\n", "INVOKEServer: Invalid file number. Skipped.", 2},
  };
  for (const auto &row : refusals) {
    r = Invoke(row.args, row.status);
    EXPECT_EQ(r.out, row.out) << row.args.back();
    EXPECT_NE(r.err.find(row.err_part), std::string::npos) << r.err;
  }
  EXPECT_EQ(FileText(), before);
}

TEST_F(InvokeTest, DefaultDirectoryIsUnderHome) {
  Put(1, Series(AREA, 1, 100));
  EXPECT_EQ(Out({"INVOKE", "5"}), "DONE: INVOKE.\n");
  EXPECT_STREQ(Record(1).filePath, (dir_.path() + "/tavrin/data/").c_str());
  const std::string before = FileText();
  EXPECT_EQ(Out({"INVOKE", "6"}, {{"HOME", std::nullopt}}, 1),
            "INVOKEServer: HOME is not set; give the directory of the data files with FPATH.\n");
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(Out({"INVOKE", "6"}, {{"HOME", "/" + std::string(70, 'h')}}, 1),
            "INVOKEServer: HOME directory value \"/" + std::string(70, 'h') +
                "/tavrin/data/\" is longer than 79 characters.\n");
}

TEST_F(InvokeTest, DebugLinesGoToTheDebugStream) {
  Put(4, Series(AREA, 1, 100));
  RunResult r = Vks({"INVOKE", "9", "FPATH=/d"}, {{"TVDEBUG", "1"}});
  EXPECT_EQ(r.out, "DONE: INVOKE.\n");
  for (const char *line : {"vks* Number of positional args: 2\n", "vks* rini.filePath: /d/\n",
                           "vks* invokeServerRec: multiinvoke 0\n", "vks* invokeServerRec: matched recNum 4 1\n",
                           "vks* fileFullName: /d/AREA0009\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
}

}  // namespace
