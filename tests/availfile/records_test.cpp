// Reading and writing the availability file's records: a copy cut short
// reads as its whole lines and empty slots after them, and a writer holding
// the file's lock keeps it through every read and write made under it.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "AvailFile/AvailFile.h"
#include "posix/posix.h"
#include "tests/support/support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// A table whose record n is an Active AREA series n..n.
std::string Table(const std::string &path) {
  EXPECT_EQ(installServerFile(path.c_str()), 0);
  std::FILE *fp = OpenServerFile(path.c_str());
  for (int n = 1; n <= kServerRecords; ++n) {
    ServerRec r;
    (void)initServerRec(&r, AREA);
    r.Status = Active;
    r.ServerData.Area.bRange = r.ServerData.Area.eRange = n;
    EXPECT_EQ(WriteServerFile(n, &r, fp), 0);
  }
  std::fclose(fp);
  return ReadFile(path);
}

TEST(ServerRecords, ACopyCutShortReadsAsItsWholeLinesThenEmptySlots) {
  TempDir dir;
  const std::string path = dir / "COMPARE2", whole = Table(path);
  // Cut inside line 3, on the end of line 10, and inside line 12 (the
  // reader takes ten lines at a time).
  for (std::size_t cut : {2 * kServerLineBytes + 100, 10 * kServerLineBytes, 11 * kServerLineBytes + 1}) {
    SCOPED_TRACE(cut);
    WriteFile(path, whole.substr(0, cut));
    std::FILE *fp = openServerFileForRead(path.c_str());
    ASSERT_NE(fp, nullptr);
    std::vector<ServerRec> recs(kServerRecords);
    std::vector<int> results(kServerRecords, 9);
    ASSERT_EQ(readServerRecords(1, kServerRecords, recs.data(), results.data(), fp), 0);
    std::fclose(fp);
    for (int n = 1; n <= kServerRecords; ++n) {
      const ServerRec &r = recs[static_cast<std::size_t>(n - 1)];
      const std::size_t start = static_cast<std::size_t>(n - 1) * kServerLineBytes;
      if (start + kServerLineChars <= cut) {
        EXPECT_EQ(results[static_cast<std::size_t>(n - 1)], 0);
        EXPECT_EQ(r.Status, Active) << n;
        EXPECT_EQ(r.ServerData.Area.bRange, n);
      } else if (start >= cut) {
        EXPECT_EQ(results[static_cast<std::size_t>(n - 1)], 0);
        EXPECT_EQ(r.Status, 0) << n;
      }
    }
  }
}

TEST(ServerRecords, AHeldWriteLockLastsThroughItsReadsAndWrites) {
  TempDir dir;
  const std::string path = dir / "VKServerFile";
  (void)Table(path);
  std::FILE *fp = OpenServerFile(path.c_str());
  ASSERT_NE(fp, nullptr);
  // Whether another process finds the file locked by this one.
  auto held = [&] {
    pid_t child = fork();
    if (child == 0) {
      std::FILE *other = openServerFileForRead(path.c_str());
      _exit(other && posix::WholeFileLockHolder(fileno(other)) == getppid() ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  {
    ServerFileWriteLock lock(fp);
    std::string why;
    EXPECT_EQ(checkServerFileShape(lock, fp, why), 0) << why;
    std::vector<ServerRec> recs(kServerRecords);
    std::vector<int> results(kServerRecords);
    ASSERT_EQ(readServerRecords(lock, 1, kServerRecords, recs.data(), results.data(), fp), 0);
    EXPECT_TRUE(held());
    recs[4].ServerData.Area.currentNum = 5;
    char line[kServerLineChars];
    ASSERT_EQ(WriteServerFile(lock, 5, &recs[4], fp, &line), 0);
    EXPECT_TRUE(held());
    ServerRec back;
    ASSERT_EQ(parseServerLine(std::string_view(line, sizeof line), &back), kServerLineParsed);
    EXPECT_EQ(back.ServerData.Area.currentNum, 5);
  }
  EXPECT_FALSE(held());
  ServerRec stored;
  ASSERT_EQ(ReadServerFile(5, &stored, fp), 0);
  EXPECT_EQ(stored.ServerData.Area.currentNum, 5);
  std::fclose(fp);
}

}  // namespace
