// The programs as a careless or hostile user meets them: closed standard
// descriptors, damaged record files and availability files, control
// characters in values, refused server-list values, FIFOs and devices named
// like data files, damaged logs, and files the user may only read.  Every
// case checks that no other byte of any file changed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/driver/program_fixture.h"

using testing_support::EnvChanges;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::RunWithClosedDescriptors;
using testing_support::WriteFile;

namespace {

class HostileTest : public test_programs::WorkingDirTest {
 protected:
  RunResult Closed(const std::string &program, std::vector<std::string> args, std::vector<int> closed) {
    args.insert(args.begin(), ProgramPath(program));
    return RunWithClosedDescriptors(args, dir_.path(), closed, Env());
  }
  // Overwrites the 32-bit word `index` of a file's header.
  void SetHeaderWord(const std::string &name, int index, std::int32_t value) {
    int fd = ::open((dir_ / name).c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, &value, 4, 4 * index), 4);
    ::close(fd);
  }
  void LinkHost(const char *name) {
    ASSERT_EQ(symlink(ProgramPath("fakehost").c_str(), (dir_ / name).c_str()), 0);
  }
};

TEST_F(HostileTest, ClosedStandardDescriptorsNeverReceiveAFile) {
  ClientWithOneRecord();
  ASSERT_EQ(Vkc({"SET", "7", "WORK=1", "2"}).status, 0);  // a log entry, for PRINTLOG and the query tool
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  auto before = Files();
  struct Case {
    const char *program;
    std::vector<std::string> args;
    std::vector<int> closed;
    int status = 0;
  } cases[] = {
      {"vkc", {"LIST", "1", "200"}, {1}},        {"vkc", {"LIST", "1", "200"}, {0, 1, 2}},
      {"vkc", {"SET", "7", "INC=abc"}, {2}, 2},  {"vkc", {"LS", "1", "50"}, {1}},
      {"vks", {"LIST", "1", "200"}, {1}},        {"vks", {"LIST", "1", "DETAIL=ON"}, {1, 2}},
      {"query_logfile", {"VKLogFile"}, {1}},     {"query_logfile", {"VKLogFile", "-last", "5"}, {0, 1}},
  };
  for (const Case &c : cases) {
    RunResult r = Closed(c.program, c.args, c.closed);
    EXPECT_EQ(r.status, c.status) << c.program << " " << c.args[0];
    EXPECT_EQ(Files(), before) << c.program << " " << c.args[0] << " closed " << c.closed.size();
  }
  // Changes made with a closed descriptor land in their records only.
  RunResult r = Closed("vkc", {"SET", "7", "INC=45"}, {1});
  EXPECT_EQ(r.status, 0);
  r = Closed("vkc", {"PRINTLOG"}, {1});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(dir_ / "VKLogFile"), before.at("VKLogFile"));
  EXPECT_NE(Vkc({"LIST", "7"}).out.find("  45 "), std::string::npos);
  EXPECT_NE(Vks({"LIST", "1", "200"}).out.find("Number Suspended: 0; Number Active: 0"), std::string::npos);
}

TEST_F(HostileTest, RecordFileWithAWrongHeaderIsRefusedAndNeverWritten) {
  struct Damage {
    const char *file;
    int word;
    std::int32_t value;
    std::vector<std::string> command;
  } rows[] = {
      {"VKClientFile", 0, 2147483647, {"CREATE", "9", "TYPE=MD", "NAME=N"}},
      {"VKClientFile", 0, 8, {"SET", "7", "INC=15"}},
      {"VKClientFile", 1, 400, {"DELETE", "7"}},
      {"VKClientFile", 2, 199, {"RESET", "1", "200"}},
      {"VKClientFile", 2, 2147483647, {"LIST", "1", "200"}},
      {"VKServerListTable", 0, 8, {"CS", "9", "GROUP=X", "ADDRESS=a"}},
      {"VKServerListTable", 0, 2147483647, {"SS", "4", "VERSION=1"}},
      {"VKServerListTable", 2, 51, {"LS", "1", "50"}},
  };
  for (const Damage &row : rows) {
    SCOPED_TRACE(std::string(row.file) + " word " + std::to_string(row.word));
    ClientWithOneRecord();
    SetHeaderWord(row.file, row.word, row.value);
    auto before = Files();
    RunResult r = Vkc(row.command);
    EXPECT_NE(r.err.find(std::string("vkc: ") + row.file + " refused: its header"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was changed."), std::string::npos) << r.err;
    EXPECT_EQ(Files(), before);
  }
}

TEST_F(HostileTest, TruncatedOrShiftedAvailabilityFileIsNeverWritten) {
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "AREA", "RANGE=1", "10", "STATUS=ACTIVE"}).status, 0);
  std::string good = ReadFile(dir_ / "VKServerFile");
  const std::vector<std::vector<std::string>> commands = {
      {"SUSPEND", "150"}, {"DELETE", "3"}, {"RELEASE", "3"}, {"SET", "3", "RES=4"},
      {"CREATE", "5", "MD", "STATUS=ACTIVE"}, {"INVOKE", "4", "FPATH=/nonexistent"}};
  struct Damage {
    const char *what;
    std::string bytes;
    const char *why;
  } damages[] = {
      {"truncated", good.substr(0, 500), "it is 500 bytes long, not 79000"},
      {"ten bytes cut out of line 2", good.substr(0, 400) + good.substr(410), "it is 78990 bytes long, not 79000"},
      {"shifted, same size", good.substr(0, 400) + good.substr(410) + std::string(10, '~'),
       "line 2 does not end in a line feed"},
  };
  for (const Damage &d : damages) {
    for (const auto &command : commands) {
      SCOPED_TRACE(std::string(d.what) + ": " + command[0]);
      WriteFile(dir_ / "VKServerFile", d.bytes);
      RunResult r = Vks(command);
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.out.find(std::string("Cannot change VKServerFile: it is damaged (") + d.why +
                           "); run VKS INSTALL to make a new one."),
                std::string::npos)
          << r.out;
      EXPECT_EQ(r.out.find("DONE"), std::string::npos);
      EXPECT_EQ(ReadFile(dir_ / "VKServerFile"), d.bytes);
    }
  }
  EXPECT_EQ(Vks({"INSTALL"}).status, 0);
  EXPECT_EQ(testing_support::FileSize(dir_ / "VKServerFile"), 79000);
}

TEST_F(HostileTest, ControlCharactersInValuesAreRefused) {
  ClientWithOneRecord();
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "AREA", "RANGE=1", "10", "STATUS=ACTIVE"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "4", "TEXT", "FNAME=/d/x.txt", "STATUS=ACTIVE"}).status, 0);
  auto before = Files();
  for (const char *bad : {"evil\nhost", "a\tb", "\x1b[2J", "x\x7f", "cr\r"}) {
    std::string shown = bad;
    SCOPED_TRACE(testing::PrintToString(shown));
    for (const char *keyword : {"NAME", "GROUP", "CMD", "SU", "BAND", "DWELL"}) {
      RunResult r = Vkc({"SET", "7", std::string(keyword) + "=" + bad});
      EXPECT_EQ(r.out.rfind(std::string("VKC error: ") + keyword + " value contains a control character.\n", 0), 0u)
          << r.out;
    }
    EXPECT_NE(Vkc({"CREATE", "8", "TYPE=MD", std::string("TITLE=") + bad}).out.find("contains a control character"),
              std::string::npos);
    for (const char *keyword : {"NAME", "ADDRESS", "GROUP"}) {
      RunResult r = Vkc({"CS", "4", std::string(keyword) + "=" + bad});
      EXPECT_NE(r.out.find("contains a control character"), std::string::npos) << keyword;
      EXPECT_EQ(r.out.find("Created ServerList Record"), std::string::npos);
    }
    for (const char *keyword : {"MACH", "FPATH", "SOURCE", "NAME", "GROUP"}) {
      RunResult r = Vks({"SET", "3", std::string(keyword) + "=" + bad});
      EXPECT_NE(r.out.find(std::string("SetCreateServerRec: ") + keyword + " value \""), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("\" contains a control character."), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "the message shows no control character raw";
    }
    EXPECT_NE(Vks({"SET", "4", std::string("FNAME=/d/") + bad}).out.find("contains a control character"),
              std::string::npos);
    RunResult r = Vks({"INVOKE", "4", std::string("FPATH=data/a") + bad});
    EXPECT_NE(r.out.find("INVOKEServer: FPATH value"), std::string::npos) << r.out;
    r = Vks({"INVOKE", std::string("/d/") + bad, "TYPE=TEXT"});
    EXPECT_NE(r.err.find("contains a control character"), std::string::npos) << r.err;
    EXPECT_EQ(Files(), before);
  }
}

TEST_F(HostileTest, ControlCharactersAlreadyInAFileNeverReachTheTerminal) {
  ClientWithOneRecord();
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "1", "AREA", "RANGE=1", "10", "NAME=KXXXXX", "STATUS=ACTIVE"}).status, 0);
  // Written by hand into the files: an escape sequence in a descriptor.
  std::string client = ReadFile(dir_ / "VKClientFile");
  std::size_t name_at = 12 + 7 * 440 + 8;
  client.replace(name_at, 6, std::string("K\x1b[2J", 5) + '\0');
  WriteFile(dir_ / "VKClientFile", client);
  std::string table = ReadFile(dir_ / "VKServerFile");
  table.replace(table.find("KXXXXX"), 6, "K\x1b[2J ");
  WriteFile(dir_ / "VKServerFile", table);
  std::string out = Vkc({"LIST", "7"}).out + Vkc({"REPORT", "7"}).out + Vks({"LIST", "1", "DETAIL=ON"}).out +
                    Vks({"LIST", "1", "200"}).out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_NE(out.find("K?[2J"), std::string::npos) << out;
}

TEST_F(HostileTest, RefusedServerListValuesLeaveTheEntryAsItWas) {
  ClientWithOneRecord();
  auto before = Files();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"CS", "4", "GROUP=ABCDE"}, {"CS", "4", "VERSION=9"}, {"SS", "4", "GROUP=ABCDE"},
        {"SS", "4", "VERSION=3"}, {"SS", "4", "NAME=" + std::string(40, 'n')}, {"CS", "4", "VERSION=abc"}}) {
    RunResult r = Vkc(args);
    EXPECT_EQ(r.status, args[2] == "VERSION=abc" ? 2 : 1) << args[2];  // refused; not a number: usage
    EXPECT_EQ(r.out.find("Created ServerList Record"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ServerList Record Modified"), std::string::npos) << r.out;
    EXPECT_EQ(Files(), before) << args[0] << " " << args[2];
  }
  // CREATESERVER without a GROUP still leaves the blank entry, as documented.
  RunResult r = Vkc({"CS", "4", "NAME=other"});
  EXPECT_EQ(r.out, "GROUP has to be set to a data group serverd by the machine.\nCreated ServerList Record ...\n");
  EXPECT_EQ(Vkc({"LS", "4"}).out, "SET VER GROUP NAME ...         ADDRESS ...\n  4   2                        \n");
}

TEST_F(HostileTest, FifosAndDevicesNamedLikeDataFilesNeverHoldACommand) {
  ASSERT_EQ(mkdir((dir_ / "d").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ / "d/AREA0007").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir_ / "d/GRID0003").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", (dir_ / "d/GRID0004").c_str()), 0);
  ASSERT_EQ(mkfifo((dir_ / "d/MDXX0005").c_str(), 0600), 0);
  // A large GRID file without a digit: only its start is read.
  int fd = ::open((dir_ / "d/GRID0006").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 2LL << 30), 0);
  ::close(fd);
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "1", "AREA", "RANGE=7", "7", "STATUS=ACTIVE"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "2", "GRID", "RANGE=3", "6", "STATUS=ACTIVE"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "MD", "RANGE=5", "5", "STATUS=ACTIVE"}).status, 0);
  EnvChanges env = Env();
  env["TVPATH"] = dir_ / "d";
  auto start = std::chrono::steady_clock::now();
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"INVOKE", "7", "FPATH=d"}, {"INVOKE", "3", "4", "6", "TYPE=GRID", "FPATH=d"},
        {"INVOKE", "5", "TYPE=MD", "FPATH=d"}}) {
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), ProgramPath("vks"));
    RunResult r = testing_support::RunProgram(argv, dir_.path(), env, 10000);
    EXPECT_FALSE(r.timed_out) << args[1];
    EXPECT_EQ(r.out.substr(r.out.size() - 14), "DONE: INVOKE.\n") << r.out;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  std::string listing = Vks({"LIST", "1", "DETAIL=ON"}).out;
  EXPECT_NE(listing.find("Last date file modified: 0000000"), std::string::npos) << "a FIFO has no modification time";

  ASSERT_EQ(mkfifo((dir_ / "VKCVerboseLevel").c_str(), 0600), 0);
  RunResult r = Vkc({"VERSION"});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, "Can't open file VKCVerboseLevel for read\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(HostileTest, DamagedLogIsSetAsideWithAMessage) {
  ClientWithOneRecord();
  LinkHost("setreg.k");
  WriteFile(dir_ / "VKLogFile", "0123456789");
  EnvChanges env = Env();
  env["VARNEK_TEST_NOW"] = "1704067205";  // 2024-01-01 00:00:05 UTC
  RunResult r = testing_support::RunProgram({ProgramPath("vkc"), "SET", "7", "WORK=1", "2"}, dir_.path(), env);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "vkc: VKLogFile was damaged (it is 10 bytes long, too short to hold a log); it is kept as "
            "VKLogFile.damaged.2024001.000005 and a new log is started.\n");
  EXPECT_EQ(ReadFile(dir_ / "VKLogFile.damaged.2024001.000005"), "0123456789");
  EXPECT_NE(Run("query_logfile", {"VKLogFile"}).out.find("SETREG ADD LOC/KEEP AREA 1 2"), std::string::npos);
}

TEST_F(HostileTest, ReadersWorkOnFilesTheUserMayOnlyRead) {
  ClientWithOneRecord();
  LinkHost("setreg.k");
  LinkHost("rascat.k");
  ASSERT_EQ(Vkc({"SET", "7", "WORK=1", "2"}).status, 0);
  ASSERT_EQ(Vks({"INSTALL"}).status, 0);
  ASSERT_EQ(Vks({"CREATE", "3", "AREA", "STATUS=ACTIVE"}).status, 0);
  for (const char *name : {"VKClientFile", "VKServerListTable", "VKServerFile", "VKLogFile", "VKCVerboseLevel"})
    ASSERT_EQ(chmod((dir_ / name).c_str(), 0444), 0);
  auto before = Files();
  // Every open that asks for write access fails, as it would for a user
  // without write permission (the tests may run with every permission).
  const std::string no_write = "openw:1000:EACCES";
  EXPECT_NE(Vkc({"LIST", "1", "200"}, no_write).out.find("Number Suspended: 0; Number Active: 1"), std::string::npos);
  EXPECT_NE(Vkc({"REPORT", "7"}, no_write).out.find("Client Data:\tKEEP"), std::string::npos);
  EXPECT_NE(Vkc({"LS", "4"}, no_write).out.find("RTIM"), std::string::npos);
  EXPECT_EQ(Vkc({"DATA", "7"}, no_write).status, 0);
  EXPECT_NE(Vks({"LIST", "1", "200"}, no_write).out.find("Number Suspended: 0; Number Active: 1"), std::string::npos);
  EXPECT_NE(Vks({"LIST", "3", "DETAIL=ON"}, no_write).out.find("Status: ACTIVE"), std::string::npos);
  // PRINTLOG reads the log; only its text copy needs writing.
  EXPECT_EQ(Vkc({"PRINTLOG"}, "openw:1:EACCES").out, "Cannot create text file PRINTLOG\n");
  RunResult q = Run("query_logfile", {"VKLogFile", "-text", "SETREG"}, no_write);
  EXPECT_NE(q.out.find("SETREG ADD LOC/KEEP"), std::string::npos) << q.out;
  EXPECT_EQ(Files(), before);
}

}  // namespace
