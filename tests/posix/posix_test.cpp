// The POSIX layer: whole-file replacement, owned descriptors, locks, the
// shell, process probes, and the fault seam itself.

#include "posix/posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/support.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class PosixTest : public ::testing::Test {
 protected:
  void TearDown() override { posix::ClearFaults(); }
  // Names in the directory (the temporary files must never stay behind).
  std::size_t Entries() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir_.path())) ++n;
    return n;
  }
  int Replace(const std::string &name, const std::string &text, posix::Op *failed = nullptr) {
    return posix::ReplaceFile((dir_ / name).c_str(), 0640,
                              [&](int fd) { return posix::WriteAll(fd, text.data(), text.size()); }, failed);
  }
  TempDir dir_;
};

TEST_F(PosixTest, ReplaceFileKeepsTheOldFileWhenAnyStepFails) {
  ASSERT_EQ(Replace("table", "old\n"), 0);
  ASSERT_EQ(chmod((dir_ / "table").c_str(), 0604), 0);
  struct Row {
    posix::Op op;
    int error;
  } rows[] = {{posix::Op::kCreate, EACCES},
              {posix::Op::kWrite, ENOSPC},
              {posix::Op::kSync, EIO},
              {posix::Op::kRename, EROFS}};
  for (const Row &row : rows) {
    posix::InjectFault(row.op, 1, row.error);
    posix::Op failed = posix::Op::kCount;
    EXPECT_EQ(Replace("table", "new\n", &failed), row.error);
    EXPECT_EQ(failed, row.op);
    EXPECT_EQ(ReadFile(dir_ / "table"), "old\n");
    EXPECT_EQ(Entries(), 1u) << "a temporary file stayed behind";
  }
  ASSERT_EQ(Replace("table", "new\n"), 0);
  EXPECT_EQ(ReadFile(dir_ / "table"), "new\n");
  struct stat st;
  ASSERT_EQ(stat((dir_ / "table").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u) << "the replaced file's permissions are kept";
}

TEST_F(PosixTest, ReplaceFileThroughALinkReplacesTheFileItNames) {
  ASSERT_EQ(mkdir((dir_ / "real").c_str(), 0755), 0);
  WriteFile(dir_ / "real/table", "old\n");
  ASSERT_EQ(symlink("real/table", (dir_ / "table").c_str()), 0);
  ASSERT_EQ(Replace("table", "new\n"), 0);
  EXPECT_EQ(ReadFile(dir_ / "real/table"), "new\n");
  struct stat st;
  ASSERT_EQ(lstat((dir_ / "table").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A write that fails leaves nothing behind.
  posix::InjectFault(posix::Op::kWrite, 1, ENOSPC);
  EXPECT_EQ(Replace("fresh", "x"), ENOSPC);
  EXPECT_FALSE(testing_support::Exists(dir_ / "fresh"));
}

TEST_F(PosixTest, ReplacingALinkItselfAndTheTemporariesOfDeadWriters) {
  WriteFile(dir_ / "victim", "victim\n");
  ASSERT_EQ(symlink("victim", (dir_ / "VKHealth").c_str()), 0);
  // Left by a writer that was killed (no such process), and by one alive.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string dead_temporary = dir_ / (".VKHealth.new." + std::to_string(dead));
  const std::string live_temporary = dir_ / (".VKHealth.new." + std::to_string(getppid()));
  WriteFile(dead_temporary, "half");
  WriteFile(live_temporary, "half");
  ASSERT_EQ(posix::ReplaceFile((dir_ / "VKHealth").c_str(), 0640,
                               [](int fd) { return posix::WriteAll(fd, "new\n", 4); }, nullptr,
                               posix::Links::kReplace),
            0);
  EXPECT_EQ(ReadFile(dir_ / "victim"), "victim\n");
  EXPECT_EQ(ReadFile(dir_ / "VKHealth"), "new\n");
  EXPECT_FALSE(testing_support::Exists(dead_temporary));
  EXPECT_TRUE(testing_support::Exists(live_temporary));
}

TEST_F(PosixTest, OpenRegularRefusesWhatIsNotAFileWithoutWaiting) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir_ / "dir").c_str(), 0755), 0);
  posix::File file;
  EXPECT_EQ(posix::OpenRegular((dir_ / "fifo").c_str(), O_RDONLY, file), posix::kNotRegularFile);
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(posix::OpenRegular((dir_ / "dir").c_str(), O_RDONLY, file), posix::kNotRegularFile);
  EXPECT_EQ(posix::OpenRegular("/dev/zero", O_RDONLY, file), posix::kNotRegularFile);
  EXPECT_EQ(posix::OpenRegular((dir_ / "none").c_str(), O_RDONLY, file), ENOENT);
  WriteFile(dir_ / "plain", "abc");
  ASSERT_EQ(posix::OpenRegular((dir_ / "plain").c_str(), O_RDONLY, file), 0);
  char buf[8] = {};
  EXPECT_EQ(posix::ReadSome(file.fd(), buf, sizeof buf), 3);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(file.Close(), 0) << "closing twice is harmless";
  EXPECT_EQ(posix::ErrorText(posix::kNotRegularFile), "Not a regular file");
}

TEST_F(PosixTest, FaultsFromTheEnvironmentSkipThenFail) {
  ASSERT_EQ(setenv("VARNEK_FAULTS", "bogus,write/2:1:ENOSPC,lock:1,open:x", 1), 0);
  posix::InjectFault(posix::Op::kRead, 0, EIO);  // reads the environment first
  unsetenv("VARNEK_FAULTS");
  int fd = ::open((dir_ / "f").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(posix::WriteAt(fd, 0, "a", 1));
  EXPECT_TRUE(posix::WriteAt(fd, 1, "b", 1));
  errno = 0;
  EXPECT_FALSE(posix::WriteAt(fd, 2, "c", 1));
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(posix::WriteAt(fd, 2, "c", 1));
  EXPECT_EQ(posix::LockWholeFile(fd, posix::LockKind::kShared), -1);
  EXPECT_EQ(errno, ENOLCK);
  EXPECT_EQ(posix::LockWholeFile(fd, posix::LockKind::kShared), 0);
  EXPECT_EQ(posix::UnlockWholeFile(fd), 0);
  posix::File opened;
  EXPECT_EQ(posix::OpenExisting((dir_ / "f").c_str(), O_RDONLY, opened), 0) << "malformed entries are ignored";
  ::close(fd);
  EXPECT_EQ(ReadFile(dir_ / "f"), "abc");
}

TEST_F(PosixTest, ScopedLockPrintsItsNotesAndKeepsErrno) {
  int fd = ::open((dir_ / "f").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ::testing::internal::CaptureStdout();
  {
    posix::InjectFault(posix::Op::kLock, 1, ENOLCK);
    posix::ScopedLock lock(fd, posix::LockKind::kExclusive, {"cannot lock", "cannot unlock"});
    EXPECT_FALSE(lock.held());
    errno = ENOSPC;  // what the I/O of the scope left
  }
  EXPECT_EQ(errno, ENOSPC);
  {
    posix::ScopedLock lock(fd, posix::LockKind::kShared, {"cannot lock", "cannot unlock"});
    EXPECT_TRUE(lock.held());
  }
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "cannot lock\n");
  ::close(fd);
}

TEST_F(PosixTest, ShellAndChildren) {
  EXPECT_EQ(posix::RunShell("exit 3"), 3);
  EXPECT_EQ(posix::RunShell("kill -9 $$"), 128 + SIGKILL);
  posix::InjectFault(posix::Op::kFork, 1, EAGAIN);
  EXPECT_EQ(posix::RunShell("true"), -1);
  char missing[] = "/nonexistent/program";
  char *argv[] = {missing, nullptr};
  int status = 0;
  ASSERT_EQ(posix::RunAndWait(missing, argv, &status), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

// A detached program runs on while the caller goes on.
TEST_F(PosixTest, ADetachedProgramRunsOnWhileTheCallerGoesOn) {
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string line = "read x; echo \"started:$x\" >" + fifo;
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, line.data(), nullptr};
  pid_t child = posix::StartDetached("/bin/sh", argv);  // it waits for the reader below
  ASSERT_GT(child, 0);
  std::FILE *f = std::fopen(fifo.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char got[16] = {};
  EXPECT_NE(std::fgets(got, sizeof got, f), nullptr);
  std::fclose(f);
  EXPECT_STREQ(got, "started:\n");  // its input is empty
  EXPECT_EQ(::waitpid(child, nullptr, 0), child);
  char missing[] = "/nonexistent/program";
  char *none[] = {missing, nullptr};
  EXPECT_EQ(posix::StartDetached(missing, none), 0);
  posix::InjectFault(posix::Op::kFork, 1, EAGAIN);
  EXPECT_EQ(posix::StartDetached("/bin/sh", argv), -1);
}

TEST_F(PosixTest, ProcessProbesNeverTouchZeroNegativeOrOwnNumbers) {
  for (pid_t pid : {0, -1, -12345, getpid()}) {
    EXPECT_FALSE(posix::ProcessExists(pid)) << pid;
    EXPECT_EQ(posix::SignalProcess(pid, 0), -1) << pid;
    EXPECT_EQ(errno, EINVAL);
  }
  pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  EXPECT_TRUE(posix::ProcessExists(child));
  EXPECT_EQ(posix::SignalProcess(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(posix::WaitChild(child, &status), 0);
  EXPECT_FALSE(posix::ProcessExists(child));
}

}  // namespace
