// Record files: layout, slot arithmetic, and locks across processes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "DBase/DBase.h"
#include "RA/RA.h"
#include "tests/support/support.h"

using testing_support::Exists;
using testing_support::FileSize;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::vector<std::int32_t> Header(const std::string &path) {
  std::string bytes = ReadFile(path).substr(0, 12);
  std::vector<std::int32_t> h(3);
  std::memcpy(h.data(), bytes.data(), 12);
  return h;
}

struct Rec440 {
  char bytes[440];
};

TEST(RecordFiles, CreatedSizesAndHeaders) {
  TempDir dir;
  ASSERT_EQ(DBInit((dir / "client").c_str(), 440, 200), 0);
  EXPECT_EQ(FileSize(dir / "client"), 88012);
  EXPECT_EQ(Header(dir / "client"), (std::vector<std::int32_t>{0, 440, 200}));
  ASSERT_EQ(RAInit((dir / "log").c_str(), 8, 240, 10000), 0);
  EXPECT_EQ(FileSize(dir / "log"), 2400020);
  EXPECT_EQ(Header(dir / "log"), (std::vector<std::int32_t>{8, 240, 10000}));
  EXPECT_EQ(RAInit((dir / "no/such/dir").c_str(), 0, 10, 1), 1);
  EXPECT_EQ(RAInit((dir / "bad").c_str(), 0, -10, 1), 1);
  EXPECT_FALSE(Exists(dir / "bad"));
}

TEST(RecordFiles, SlotPastTheCreatedAreaComesIntoBeingWhenWritten) {
  TempDir dir;
  ASSERT_EQ(DBInit((dir / "f").c_str(), 440, 200), 0);
  DBase db;
  ASSERT_EQ(DBOpen(&db, (dir / "f").c_str(), ""), 0);
  Rec440 rec;
  std::memset(&rec, 'q', sizeof rec);
  EXPECT_EQ(DBRead(&db, 200, &rec), 1);
  for (char c : rec.bytes) ASSERT_EQ(c, 0);  // a failed read hands nothing on
  std::memset(&rec, 'A', sizeof rec);
  ASSERT_EQ(DBWrite(&db, 200, &rec), 0);
  EXPECT_EQ(FileSize(dir / "f"), 88012 + 440);
  Rec440 back;
  ASSERT_EQ(DBRead(&db, 200, &back), 0);
  EXPECT_EQ(std::memcmp(&rec, &back, sizeof rec), 0);
  // Slot n starts at 12 + n * 440.
  EXPECT_EQ(ReadFile(dir / "f").substr(12 + 200 * 440, 3), "AAA");
  EXPECT_EQ(DBRead(&db, -1, &back), 1);
  EXPECT_EQ(DBWrite(&db, -1, &rec), 1);
  EXPECT_EQ(FileSize(dir / "f"), 88012 + 440);
  EXPECT_EQ(DBClose(&db), 0);
}

TEST(RecordFiles, BlockSitsBeforeTheSlots) {
  TempDir dir;
  ASSERT_EQ(RAInit((dir / "f").c_str(), 8, 240, 3), 0);
  RA ra;
  ASSERT_EQ(RAOpen(&ra, (dir / "f").c_str(), "f.srv"), 0);
  EXPECT_EQ(ra.HeaderSize, 12);
  EXPECT_STREQ(ra.LockFile, "f.srv");
  std::int32_t block[2] = {7, 9};
  ASSERT_EQ(RAWriteBlk(&ra, block), 0);
  char rec[240];
  std::memset(rec, 'r', sizeof rec);
  ASSERT_EQ(RAWriteRec(&ra, 1, rec), 0);
  EXPECT_EQ(RAClose(&ra), 0);
  std::string bytes = ReadFile(dir / "f");
  std::int32_t stored[2];
  std::memcpy(stored, bytes.data() + 12, 8);
  EXPECT_EQ(stored[0], 7);
  EXPECT_EQ(stored[1], 9);
  EXPECT_EQ(bytes.substr(20 + 240, 240), std::string(240, 'r'));
  EXPECT_EQ(bytes.substr(20, 240), std::string(240, '\0'));
}

// A handle closes its file when it goes away, a moved one hands it on, and
// one opened again lets go of the file it held.
TEST(RecordFiles, HandlesCloseTheirFilesOnEveryPath) {
  TempDir dir;
  ASSERT_EQ(RAInit((dir / "f").c_str(), 0, 16, 2), 0);
  ASSERT_EQ(RAInit((dir / "g").c_str(), 0, 16, 2), 0);
  auto open = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
  int first = -1, second = -1;
  {
    RA ra;
    ASSERT_EQ(RAOpen(&ra, (dir / "f").c_str(), ""), 0);
    first = fileno(ra.fp);
    RA moved(std::move(ra));
    EXPECT_EQ(ra.fp, nullptr);
    EXPECT_TRUE(open(first));
    ASSERT_EQ(RAOpen(&moved, (dir / "g").c_str(), ""), 0);
    second = fileno(moved.fp);
    EXPECT_FALSE(open(first) && first != second);
  }
  EXPECT_FALSE(open(second));
  {
    DBase db;
    ASSERT_EQ(DBOpen(&db, (dir / "f").c_str(), ""), 0);
    first = fileno(db.File.fp);
  }
  EXPECT_FALSE(open(first));
}

TEST(RecordFiles, MissingOrDamagedFilesDoNotOpen) {
  TempDir dir;
  DBase db;
  EXPECT_EQ(DBOpen(&db, (dir / "missing").c_str(), ""), 1);
  EXPECT_EQ(db.File.fp, nullptr);
  EXPECT_FALSE(Exists(dir / "missing"));
  WriteFile(dir / "short", "1234");
  EXPECT_EQ(DBOpen(&db, (dir / "short").c_str(), ""), 1);
  std::int32_t bad[3] = {0, -440, 200};
  WriteFile(dir / "negative", std::string(reinterpret_cast<char *>(bad), 12));
  EXPECT_EQ(DBOpen(&db, (dir / "negative").c_str(), ""), 1);
}

TEST(RecordFiles, LockTypes) {
  TempDir dir;
  ASSERT_EQ(DBInit((dir / "f").c_str(), 4, 1), 0);
  std::FILE *fp = std::fopen((dir / "f").c_str(), "r+");
  EXPECT_EQ(setFileLock(fp, 'r'), 0);
  EXPECT_EQ(setFileLock(fp, 'w'), 0);
  EXPECT_EQ(setFileLock(fp, 'u'), 0);
  EXPECT_EQ(setFileLock(fp, 'x'), -1);
  EXPECT_EQ(setFileLock(nullptr, 'r'), -1);
  std::fclose(fp);
}

TEST(RecordFiles, ReaderWaitsForTheWriterAndSeesItsRecordAtOnce) {
  TempDir dir;
  std::string path = dir / "f";
  ASSERT_EQ(DBInit(path.c_str(), 440, 10), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    // The writer holds the lock, announces it, and writes only later.
    DBase w;
    if (DBOpen(&w, path.c_str(), "") != 0) _exit(2);
    if (setFileLock(w.File.fp, 'w') != 0) _exit(3);
    if (write(ready[1], "x", 1) != 1) _exit(4);
    usleep(300000);
    Rec440 rec;
    std::memset(&rec, 'W', sizeof rec);
    if (RAWriteRec(&w.File, 5, &rec) != 0) _exit(5);
    (void)setFileLock(w.File.fp, 'u');
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  DBase r;
  ASSERT_EQ(DBOpen(&r, path.c_str(), ""), 0);
  Rec440 rec;
  ASSERT_EQ(DBRead(&r, 5, &rec), 0);  // waits for the writer's lock
  EXPECT_EQ(rec.bytes[0], 'W');
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // A record written by another process is read back at once, even by a
  // handle that read the same record before.
  ASSERT_EQ(DBRead(&r, 6, &rec), 0);
  EXPECT_EQ(rec.bytes[439], 0);
  pid_t second = fork();
  if (second == 0) {
    DBase w;
    Rec440 rec2;
    std::memset(&rec2, 'Z', sizeof rec2);
    _exit(DBOpen(&w, path.c_str(), "") == 0 && DBWrite(&w, 6, &rec2) == 0 ? 0 : 1);
  }
  waitpid(second, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(DBRead(&r, 6, &rec), 0);
  EXPECT_EQ(rec.bytes[439], 'Z');
  (void)DBClose(&r);
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
