// Failures the programs meet on the way to their files, made with the POSIX
// layer's fault seam (VARNEK_FAULTS): each is reported, changes nothing else
// in the working directory, and ends the run with status 1 where a change
// could not be stored.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/driver/program_fixture.h"

namespace {

using FailureTest = test_programs::WorkingDirTest;
using testing_support::ReadFile;
using testing_support::RunResult;

TEST_F(FailureTest, ClientRecordWriteThatFailsIsReportedAndChangesNothing) {
  ClientWithOneRecord();
  auto before = Files();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"SET", "7", "INC=15"}, {"CREATE", "8", "TYPE=MD"}, {"DELETE", "7"},
        {"RESET", "7"}}) {
    RunResult r = Vkc(args, "write:1:ENOSPC");
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0] << ": no Done line after a failed write";
    EXPECT_NE(r.err.find("vkc: Client Record"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not written: No space left on device"), std::string::npos) << r.err;
    EXPECT_EQ(Files(), before) << args[0];
  }
  RunResult r = Vkc({"SS", "4", "VERSION=1"}, "write:1:EIO");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vkc: ServerList Record 4 not written: Input/output error\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Files(), before);
}

TEST_F(FailureTest, LockThatFailsIsReportedAndTheRecordStillWritten) {
  ClientWithOneRecord();
  // The read lock of SET fails, then (skipping it) the write lock.
  RunResult r = Vkc({"SET", "7", "INC=15"}, "lock:1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("DBRead: Cannot lock file for read\nDone Setting Client Record 7.\n", 0), 0u) << r.out;
  r = Vkc({"SET", "7", "INC=20"}, "lock/2:1");  // SET reads the record twice, then writes it
  EXPECT_EQ(r.out.rfind("DBWrite: Cannot lock file for write\nDone Setting Client Record 7.\n", 0), 0u) << r.out;
  EXPECT_NE(Vkc({"LIST", "7"}).out.find(" 20 "), std::string::npos);

  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  // CREATE takes one write lock for its check, read and write.
  r = Vks({"CREATE", "3", "AREA", "STATUS=ACTIVE"}, "lock:1");
  EXPECT_EQ(r.out, "WriteServerFile: Cannot lock file for write\nDONE: CREATE.\n");
  EXPECT_NE(Vks({"LIST", "3"}).out.find("3   A "), std::string::npos);
}

TEST_F(FailureTest, InstallThatCannotCreateItsFilesSaysSoAndEndsWithStatusOne) {
  ASSERT_EQ(Vkc({"VERSION"}).status, 0);  // the verbose-level file is the first file a run creates
  RunResult r = Vkc({"INSTALL"}, "create:1:EACCES");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vkc: INSTALL: cannot create VKClientFile: Permission denied\n");
  EXPECT_EQ(r.out.find("Install complete"), std::string::npos);
  auto files = Files();
  EXPECT_EQ(files.count("VKClientFile") + files.count("VKServerListTable") + files.count("VKGetWSAvail"), 0u);

  // The record file's name taken by a directory.
  ASSERT_EQ(mkdir((dir_ / "VKClientFile").c_str(), 0755), 0);
  r = Vkc({"INSTALL"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("INSTALL: cannot create VKClientFile: Is a directory"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Install complete"), std::string::npos);
  std::filesystem::remove(dir_ / "VKClientFile");

  r = Vks({"INSTALL"}, "create:1:ENOSPC");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Fail to init Varnek II server file, will exit.\n");
  EXPECT_FALSE(testing_support::Exists(dir_ / "VKServerFile"));
}

TEST_F(FailureTest, InstallWhoseRenameFailsKeepsEveryRecord) {
  ClientWithOneRecord();
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "AREA", "STATUS=ACTIVE"}).status, 0);
  auto before = Files();
  RunResult r = Vkc({"INSTALL"}, "rename:1:EIO");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vkc: INSTALL: cannot create VKClientFile: Input/output error\n");
  EXPECT_EQ(Files(), before);
  r = Vkc({"INSTALL"}, "rename/1:1:ENOSPC");  // the server list this time
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create VKServerListTable"), std::string::npos);
  EXPECT_EQ(Files().at("VKServerListTable"), before.at("VKServerListTable"));
  r = Vks({"INSTALL"}, "write:1:ENOSPC");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Files().at("VKServerFile"), before.at("VKServerFile"));
}

TEST_F(FailureTest, ServerWritesThatFailEndWithStatusOne) {
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "AREA", "RANGE=1", "10", "STATUS=ACTIVE"}).status, 0);
  auto before = Files();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"SET", "3", "RES=4"}, {"SUSPEND", "3"}, {"INVOKE", "5", "FPATH=/nonexistent"}}) {
    RunResult r = Vks(args, "write:1:ENOSPC");
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out.find("DONE"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("WriteServerFile: Cannot write rec 3: No space left on device"), std::string::npos)
        << r.err;
    EXPECT_EQ(Files(), before) << args[0];
  }
}

TEST_F(FailureTest, VerboseLevelThatCannotBeStoredKeepsTheOldLevel) {
  ASSERT_EQ(Vkc({"VERBOSE", "2"}).status, 0);
  RunResult r = Vkc({"VERBOSE", "0"}, "write:1:ENOSPC");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vkc: VKCVerboseLevel not written: No space left on device\n");
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "2\n");
  r = Vkc({"VERBOSE", "0"}, "create:1:EACCES");
  EXPECT_EQ(r.out, "Can't open file VKCVerboseLevel for write\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(dir_ / "VKCVerboseLevel"), "2\n");
}

}  // namespace
