// The ftp paths over a real ftp server on the loopback: the client's
// installed scripts fetching from an ftp account, and the kit reaching a
// server machine through its ftp URL.  The server is a small pyftpdlib
// program run by /usr/bin/python3 (Debian package python3-pyftpdlib) on an
// ephemeral port; the client's scripts use the system's `ftp` (Debian
// package ftp) and the kit ftplib (Debian libftp-dev), both logging in with
// the account of $HOME/.netrc.  The account's
// login directory is not the root of what the server shows, as with an
// ordinary user account, so a path taken from the root instead of from the
// login directory shows up as a missing file.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

using testing_support::EnvChanges;
using testing_support::ProgramPath;
using testing_support::ReadFile;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr const char *kPython = "/usr/bin/python3";
constexpr const char *kUser = "wxfeed";
constexpr const char *kPassword = "n0t-a-secret";
// The account's login directory, as the ftp server shows it.
constexpr const char *kLogin = "/home/wxfeed";

std::string KitBin() { return VARNEK_KIT_BIN_DIR; }

// The system's ftp client, or "" when it is not installed.
std::string FtpClient() {
  for (const char *path : {"/usr/bin/ftp", "/bin/ftp"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

// The environment every program of these tests runs with: PATH holds the
// kit's links and the system's programs, nothing of the caller's shell.
EnvChanges PinnedEnv(const std::string &home) {
  return {{"HOME", home},          {"PATH", KitBin() + ":/usr/bin:/bin"}, {"TZ", "UTC"},
          {"LC_ALL", "C"},         {"TVPATH", std::nullopt},              {"TVREDIRECT", std::nullopt},
          {"VARNEK_FAULTS", std::nullopt}, {"VARNEK_WAIT_MS", std::nullopt},
          {"PYTHONPATH", std::nullopt},  {"PYTHONHOME", std::nullopt},
          {"PYTHONNOUSERSITE", "1"}, {"PYTHONDONTWRITEBYTECODE", "1"}};
}

// Serves `root` on 127.0.0.1 (a port the system picks) to one account
// whose login directory is kLogin, and writes a line to the file `logins`
// at each login.  The files named after it are cut: the server sends the
// first half and replies 426, as one whose connection broke would (its
// SIZE still states the whole).  With --no-size it answers no SIZE and
// states each file's size in its 150 reply instead; with --drop=NAME it
// closes the control connection when asked the size of NAME; with
// --stall=NAME it opens the transfer of NAME and then sends nothing.  It prints
// the port once it listens, and
// ends when its standard input reaches end of file, so that it cannot
// outlive this process.
constexpr const char *kServerScript = R"(import io, logging, os, sys, threading
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
root, login, user, password, logins = sys.argv[1:6]
options = [a for a in sys.argv[6:] if a.startswith("--")]
cut = set(a for a in sys.argv[6:] if not a.startswith("--"))
no_size = "--no-size" in options
drop = set(a[len("--drop="):] for a in options if a.startswith("--drop="))
stall = set(a[len("--stall="):] for a in options if a.startswith("--stall="))
def is_cut(name):
    return os.path.basename(name) in cut
class CutFS(AbstractedFS):
    def open(self, filename, mode):
        f = AbstractedFS.open(self, filename, mode)
        if mode != "rb" or not is_cut(filename):
            return f
        data = f.read()
        f.close()
        half = io.BytesIO(data[:len(data) // 2])
        half.name = filename
        return half
class CutDTP(DTPHandler):
    def handle_close(self):
        if not self._closed and not self.receive and is_cut(getattr(self.file_obj, "name", "")):
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.close()
        else:
            DTPHandler.handle_close(self)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
class Handler(FTPHandler):
    abstracted_fs = CutFS
    dtp_handler = CutDTP
    def on_login(self, username):
        self.fs.cwd = login
        with open(logins, "a") as f:
            f.write(username + "\n")
    def ftp_SIZE(self, path):
        if os.path.basename(path) in drop:
            self.close()
        elif no_size:
            self.respond("502 Command not implemented.")
        else:
            FTPHandler.ftp_SIZE(self, path)
    def ftp_RETR(self, file):
        if os.path.basename(file) in stall:
            self.respond("150 File status okay. About to open data connection.")
            return
        self.stated = os.path.getsize(file) if no_size and os.path.isfile(file) else None
        return FTPHandler.ftp_RETR(self, file)
    def respond(self, resp, logfun=logging.debug):
        if getattr(self, "stated", None) is not None and resp[:4] in ("125 ", "150 "):
            resp = "150 Opening BINARY mode data connection for file (%d bytes)." % self.stated
            self.stated = None
        FTPHandler.respond(self, resp, logfun)
Handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), Handler)
sys.stdout.write("%d\n" % server.socket.getsockname()[1])
sys.stdout.flush()
def watch():
    sys.stdin.read()
    os._exit(0)
threading.Thread(target=watch, daemon=True).start()
server.serve_forever()
)";

class FtpServer {
 public:
  // Starts the server; port() is 0 and why() says why when it did not start.
  FtpServer(const std::string &root, const std::string &scratch, const std::vector<std::string> &cut)
      : logins_(scratch + "/logins") {
    std::string script = scratch + "/ftpserver.py", log = scratch + "/ftpserver.log";
    WriteFile(script, kServerScript);
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
      why_ = "no pipe";
      return;
    }
    std::vector<std::string> args = {kPython, script, root, kLogin, kUser, kPassword, logins_};
    args.insert(args.end(), cut.begin(), cut.end());
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + scratch;
    char path[] = "PATH=/usr/bin:/bin", nouser[] = "PYTHONNOUSERSITE=1", nobytecode[] = "PYTHONDONTWRITEBYTECODE=1";
    char *envp[] = {home.data(), path, nouser, nobytecode, nullptr};
    pid_ = fork();
    if (pid_ == 0) {
      int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      if (err >= 0) dup2(err, 2);
      execve(kPython, argv.data(), envp);
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    control_ = to_child[1];
    // The port line, within a bounded wait for the server to listen.
    std::string line;
    pollfd p = {from_child[0], POLLIN, 0};
    for (int waited = 0; line.find('\n') == std::string::npos && waited < 200; ++waited) {
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[32];
      ssize_t n = read(from_child[0], buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<std::size_t>(n));
    }
    close(from_child[0]);
    port_ = line.find('\n') == std::string::npos ? 0 : std::atoi(line.c_str());
    if (port_ <= 0 || port_ > 65535) {
      port_ = 0;
      why_ = "the ftp server did not report its port: " + ReadFile(log);
    }
  }
  ~FtpServer() {
    if (control_ >= 0) close(control_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
  FtpServer(const FtpServer &) = delete;
  FtpServer &operator=(const FtpServer &) = delete;

  int port() const { return port_; }
  const std::string &why() const { return why_; }
  // The logins so far.
  int logins() const {
    std::string text = ReadFile(logins_);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }

 private:
  std::string logins_;
  pid_t pid_ = -1;
  int control_ = -1;
  int port_ = 0;
  std::string why_;
};

// A server machine reached through ftp and a client machine with the
// account of the server in its .netrc.
class FtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FtpClient().empty()) GTEST_SKIP() << "no ftp client: install the Debian package ftp (tools/setup)";
    RunResult probe = RunProgram({kPython, "-c", "import pyftpdlib"}, top_.path(), PinnedEnv(top_.path()));
    if (probe.status != 0)
      GTEST_SKIP() << kPython << " cannot import pyftpdlib: install the Debian package python3-pyftpdlib (tools/setup)";

    for (const std::string &dir : {server_data_, client_data_, work_, tmp_, top_ / "scratch"})
      std::filesystem::create_directories(dir);
    server_ = std::make_unique<FtpServer>(top_ / "ftproot", top_ / "scratch", cut_);
    ASSERT_NE(server_->port(), 0) << server_->why();
    std::string netrc = client_home_ + "/.netrc";
    WriteFile(netrc, std::string("machine 127.0.0.1 login ") + kUser + " password " + kPassword + "\n");
    ASSERT_EQ(chmod(netrc.c_str(), 0600), 0);
  }

  // Runs a program with the client machine's environment, its temporary
  // files in tmp_.
  RunResult Client(std::vector<std::string> argv, const std::string &cwd) {
    EnvChanges env = PinnedEnv(client_home_);
    env["TMPDIR"] = tmp_;
    if (!wait_ms_.empty()) env["VARNEK_WAIT_MS"] = wait_ms_;
    return RunProgram(argv, cwd, env, 20000);
  }
  // What is left in a directory.
  static std::vector<std::string> Entries(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    return names;
  }
  // Runs an installed script as the client does, through the shell.
  RunResult Script(const std::string &name, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "./" + name + " \"$@\"", name};
    argv.insert(argv.end(), args.begin(), args.end());
    return Client(argv, work_);
  }
  RunResult Kit(const std::string &link, std::vector<std::string> args) {
    args.insert(args.begin(), KitBin() + "/" + link);
    return Client(args, work_);
  }
  // An AREA image file (24 lines of 32 elements) made by the kit.
  void Image(const std::string &path, int time) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    RunResult r = RunProgram({ProgramPath("tvkit"), "AREA", path, "2024123", std::to_string(time), "75", "24", "32", "4"},
                             top_.path(), PinnedEnv(server_home_));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // vks in the server machine's data directory, vkc in the client's working
  // directory; each must end with status 0.  Standard output.
  std::string Vks(std::vector<std::string> args, EnvChanges env = {}) {
    args.insert(args.begin(), ProgramPath("vks"));
    if (env.empty()) env = PinnedEnv(server_home_);
    RunResult r = RunProgram(args, server_data_, env);
    EXPECT_EQ(r.status, 0) << args[1] << ": " << r.err;
    return r.out;
  }
  std::string Vkc(std::vector<std::string> args) {
    args.insert(args.begin(), ProgramPath("vkc"));
    RunResult r = Client(args, work_);
    EXPECT_EQ(r.status, 0) << args[1] << ": " << r.out << r.err;
    return r.out;
  }
  // The client's route of RTIM to the address 10.0.0.4, and that address's
  // machine.
  void RouteRtimTo(const std::string &url) {
    WriteFile(client_data_ + "/TVTABLE.TXT", "QOLA_ROUTE_RTIM=10.0.0.4\n");
    WriteFile(client_data_ + "/MACHINES.TXT", "10.0.0.4=" + url + "\n");
  }
  std::string Url(const std::string &path = "/") const {
    return "ftp://127.0.0.1:" + std::to_string(server_->port()) + path;
  }
  // The first argument of the scripts: host and port as one word, which
  // the scripts' unquoted $1 hands to ftp as two.
  std::string Address() const { return "127.0.0.1 " + std::to_string(server_->port()); }

  TempDir top_;
  std::string server_home_ = top_ / ("ftproot" + std::string(kLogin));
  std::string server_data_ = server_home_ + "/tavrin/data";
  std::string client_home_ = top_ / "client";
  std::string client_data_ = client_home_ + "/tavrin/data";
  std::string work_ = top_ / "work";
  std::string tmp_ = top_ / "tmp";
  std::vector<std::string> cut_;  // the files the server cuts
  std::string wait_ms_;           // the kit's network waits, when shortened
  std::unique_ptr<FtpServer> server_;
};

// Two files of the same bytes (the bytes themselves are not printed: they
// are binary).
::testing::AssertionResult SameBytes(const std::string &copy, const std::string &original) {
  std::string a = ReadFile(copy), b = ReadFile(original);
  if (!b.empty() && a == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << copy << " (" << a.size() << " bytes) differs from " << original << " ("
                                       << b.size() << " bytes)";
}

// Every byte value, and line ends of both kinds: a transfer in text mode
// changes it.
std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 3; ++round)
    for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
  return bytes + "line\r\nline\nend\r";
}

TEST_F(FtpTest, InstalledScriptsFetchTheAvailabilityTableAndADataFile) {
  // The server machine's availability file, made by vks in its data directory.
  Vks({"INSTALL"});
  ASSERT_EQ(Vks({"CREATE", "5", "AREA", "RANGE=1", "100", "STATUS=ACTIVE"}), "DONE: CREATE.\n");
  ASSERT_GT(testing_support::FileSize(server_data_ + "/VKServerFile"), 0);
  std::filesystem::create_directories(server_data_ + "/TEXT");
  WriteFile(server_data_ + "/TEXT/BULLETIN", AllBytes());

  Vkc({"INSTALL"});

  RunResult r = Script("VKGetWSAvail", {Address(), "VKServerFile"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(work_ + "/COMPARE", server_data_ + "/VKServerFile"));
  // A failed fetch leaves no COMPARE to be compared again, and a COMPARE
  // that is a link is removed, never written through.
  WriteFile(work_ + "/victim", "victim\n");
  ASSERT_EQ(unlink((work_ + "/COMPARE").c_str()), 0);
  ASSERT_EQ(symlink((work_ + "/victim").c_str(), (work_ + "/COMPARE").c_str()), 0);
  r = Script("VKGetWSAvail", {Address(), "NOSUCHFILE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(testing_support::Exists(work_ + "/COMPARE"));
  EXPECT_EQ(ReadFile(work_ + "/victim"), "victim\n");

  // Every byte value and both line ends come through the transfer script.
  r = Script("VKTransfer", {Address(), "tavrin/data/TEXT/BULLETIN", "BULLETIN"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(work_ + "/BULLETIN", server_data_ + "/TEXT/BULLETIN"));

  // A file the account does not have fails and leaves no local file behind.
  r = Script("VKTransfer", {Address(), "tavrin/data/TEXT/NONE", "NONE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(testing_support::Exists(work_ + "/NONE"));
}

TEST_F(FtpTest, RasdupCopiesAnImageOfAnFtpMachineToALocalDataset) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  RouteRtimTo(Url());
  RunResult r = Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"});
  ASSERT_EQ(r.status, 0) << r.err;

  r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0002", server_data_ + "/RTIM/G8IR/AREA0003"));

  // A position whose file the machine does not have: a refusal, nothing copied.
  r = Kit("rasdup.k", {"RTIM/G8IR.4", "LOC/G8IR.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot fetch"), std::string::npos) << r.err;
  EXPECT_FALSE(testing_support::Exists(client_data_ + "/LOC/G8IR/AREA0001"));
}

TEST_F(FtpTest, WithoutAPositionTheNewestItemByTheServersListingIsCopied) {
  // A ring: position 2 was written last, position 7 long before.
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0002", 121500);
  Image(server_data_ + "/RTIM/G8IR/AREA0007", 111500);
  struct timespec old_times[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (server_data_ + "/RTIM/G8IR/AREA0007").c_str(), old_times, 0), 0);
  RouteRtimTo(Url());
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);

  RunResult r = Kit("rasdup.k", {"RTIM/G8IR", "LOC/G8IR.1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0001", server_data_ + "/RTIM/G8IR/AREA0002"));
}

TEST_F(FtpTest, UrlPathIsTakenFromTheLoginDirectory) {
  // A machine in a directory of the account: ftp://host:port/machines/goes.
  std::string machine_data = server_home_ + "/machines/goes/tavrin/data";
  Image(machine_data + "/RTIM/G8IR/AREA0001", 130000);
  WriteFile(machine_data + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  RouteRtimTo(Url("/machines/goes"));
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);

  RunResult r = Kit("rasdup.k", {"RTIM/G8IR.1", "LOC/G8IR.4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0004", machine_data + "/RTIM/G8IR/AREA0001"));
}

// One cycle of the client, end to end through the kit: the server machine
// publishes an image with vks, the client fetches the availability table
// through the ftp machine, sees the image as new and copies it with RASDUP
// over ftp into its work dataset.
TEST_F(FtpTest, CycleCopiesANewImageOfAnFtpServerMachine) {
  Image(server_data_ + "/RTIM/G8IR/AREA0005", 121500);
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\nRTIM/VKS TEXT 1 1 VKServerFile\n");
  EnvChanges server_env = PinnedEnv(server_home_);
  server_env["TVPATH"] = server_data_ + "/RTIM/G8IR";
  // An image record complete at its scan line (the client's default
  // completeness), brought up to date from the arrived image's header.
  Vks({"INSTALL"});
  EXPECT_EQ(Vks({"CREATE", "1", "AREA", "RANGE=1", "10", "STATUS=ACTIVE", "GROUP=RTIM", "NAME=G8IR",
                 "SATE=G8", "RES=4", "SCAN=100"}),
            "DONE: CREATE.\n");
  EXPECT_EQ(Vks({"INVOKE", "5", "FPATH=" + server_data_ + "/RTIM/G8IR"}, server_env), "DONE: INVOKE.\n");

  RouteRtimTo(Url());
  Vkc({"INSTALL"});
  Vkc({"CREATE", "7", "TYPE=AREA", "NAME=G8IR", "GROUP=RTIM", "STATUS=ACTIVE", "WORK=1", "4"});
  Vkc({"CS", "1", "NAME=srv", "ADDRESS=10.0.0.4", "GROUP=RTIM", "VERSION=2"});

  WriteFile(work_ + "/VKCVerboseLevel", "2\n");  // the host command lines too
  std::string out = Vkc({"CYCLE"});
  EXPECT_NE(out.find("Complete cycle transfer ...\n"), std::string::npos) << out;
  EXPECT_NE(out.find("RASDUP RTIM/G8IR.5 LOC/G8IR.1 "), std::string::npos) << out;
  EXPECT_TRUE(SameBytes(work_ + "/COMPARE2", server_data_ + "/VKServerFile"));
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0001", server_data_ + "/RTIM/G8IR/AREA0005"));
}

// A text product through the cycle: the TEXT check runs the installed
// transfer script with the server-list address as its first argument, and
// an address "host port" has to reach ftp as host and port while the
// remote and local names stay the script's second and third arguments.
TEST_F(FtpTest, CycleTransfersANewTextProductWithTheInstalledScript) {
  std::filesystem::create_directories(server_data_ + "/TEXT");
  WriteFile(server_data_ + "/TEXT/BULLETIN", AllBytes());
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/VKS TEXT 1 1 VKServerFile\n");
  // The product's name as the account reaches it, from its login directory.
  Vks({"INSTALL"});
  EXPECT_EQ(Vks({"CREATE", "2", "TEXT", "STATUS=ACTIVE", "FPATH=tavrin/data/TEXT", "FNAME=BULLETIN"}),
            "DONE: CREATE.\n");

  RouteRtimTo(Url());
  Vkc({"INSTALL"});
  Vkc({"CREATE", "4", "TYPE=TEXT", "STATUS=ACTIVE", "FROM=tavrin/data/TEXT/BULLETIN", "TO=bulletin.txt"});
  Vkc({"CS", "1", "NAME=srv", "ADDRESS=" + Address(), "GROUP=RTIM", "VERSION=2"});

  WriteFile(work_ + "/VKCVerboseLevel", "2\n");
  std::string out = Vkc({"CYCLE"});
  EXPECT_NE(out.find("./VKTransfer "), std::string::npos) << out;
  EXPECT_TRUE(SameBytes(work_ + "/bulletin.txt", server_data_ + "/TEXT/BULLETIN")) << out;
}

// IMGDIR reads the directories of the items the server's listing shows,
// all over one login (not one per position); so does RASVUE's look for an
// image of a given time.
TEST_F(FtpTest, ImgdirAndRasvueTimeLogInOnceAndReadOnlyListedItems) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 400 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0002", 121500);
  Image(server_data_ + "/RTIM/G8IR/AREA0170", 131500);
  Image(server_data_ + "/RTIM/G8IR/AREA0399", 111500);
  WriteFile(server_data_ + "/RTIM/G8IR/AREA0300", "not an image");
  RouteRtimTo(Url());

  RunResult r = Kit("imgdir.k", {"RTIM/G8IR"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), 3 * 65 * sizeof(std::int32_t));
  std::int32_t words[3 * 65];
  std::memcpy(words, r.out.data(), sizeof words);
  EXPECT_EQ(words[0], 170);  // newest first
  EXPECT_EQ(words[65], 2);
  EXPECT_EQ(words[130], 399);
  EXPECT_EQ(words[65 + 5], 121500);
  EXPECT_EQ(server_->logins(), 1);

  r = Kit("rasvue.k", {"RTIM/G8IR", "1", "TIME=12:15:00"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(testing_support::Exists(client_home_ + "/tavrin/frames/frame0001.png"));
  EXPECT_EQ(server_->logins(), 2);
  EXPECT_TRUE(Entries(tmp_).empty());
}

// A command reads the machine's registry and its file over one login.
TEST_F(FtpTest, PeektxAndRasdupLogInOnceEach) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\nRTIM/VKS TEXT 1 1 VKS.TXT\n");
  WriteFile(server_data_ + "/VKS.TXT", "VARNEK TABLE\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  RouteRtimTo(Url());
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);

  RunResult r = Kit("peektx.k", {"RTIM/VKS", "DEV=T", "COMPARE2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(work_ + "/COMPARE2"), "VARNEK TABLE\n");
  EXPECT_EQ(server_->logins(), 1);
  r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(server_->logins(), 2);
  EXPECT_TRUE(Entries(tmp_).empty());
}

// A server that closes the control connection in the middle of a command:
// the command fails with a message, not by a signal, and keeps nothing.
class FtpDropTest : public FtpTest {
 protected:
  FtpDropTest() { cut_ = {"--drop=AREA0003"}; }
};

TEST_F(FtpDropTest, RasdupFailsWhenTheServerClosesTheConnection) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  RouteRtimTo(Url());
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);

  RunResult r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("RTIM/G8IR/AREA0003 from " + Url() + ": the server closed the connection"), std::string::npos)
      << r.err;
  EXPECT_FALSE(testing_support::Exists(client_data_ + "/LOC/G8IR/AREA0001"));
  EXPECT_TRUE(Entries(tmp_).empty());
}

// A server without SIZE that states the size in its 150 reply: that size
// is the one that must arrive, and one past the limit is refused.
class FtpStatedTest : public FtpTest {
 protected:
  FtpStatedTest() { cut_ = {"--no-size", "AREA0003"}; }
};

TEST_F(FtpStatedTest, TheSizeOfThe150ReplyMustArrive) {
  WriteFile(server_data_ + "/DATASETS.TXT",
            "RTIM/G8IR AREA 1 10 RTIM/G8IR\nRTIM/BIG TEXT 1 1 BIG.TXT\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  Image(server_data_ + "/RTIM/G8IR/AREA0004", 124500);
  WriteFile(server_data_ + "/BIG.TXT", std::string((1u << 20) + 1, 'b'));
  RouteRtimTo(Url());
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);

  RunResult r = Kit("rasdup.k", {"RTIM/G8IR.4", "LOC/G8IR.2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0002", server_data_ + "/RTIM/G8IR/AREA0004"));
  r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("512 of the 1024 bytes the server stated arrived"), std::string::npos) << r.err;
  EXPECT_FALSE(testing_support::Exists(client_data_ + "/LOC/G8IR/AREA0001"));
  r = Kit("peektx.k", {"RTIM/BIG", "DEV=T", "COMPARE2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it holds more than 1048576 bytes"), std::string::npos) << r.err;
  EXPECT_FALSE(testing_support::Exists(work_ + "/COMPARE2"));
  EXPECT_TRUE(Entries(tmp_).empty());
}

// A server that sends half of some files and then replies 426.
class FtpCutTest : public FtpTest {
 protected:
  FtpCutTest() { cut_ = {"AREA0003", "VKS.TXT", "BULLETIN"}; }
};

TEST_F(FtpCutTest, RasdupRefusesACutImageAndKeepsWhatThePositionHeld) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  Image(server_data_ + "/RTIM/G8IR/AREA0004", 124500);
  RouteRtimTo(Url());
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);
  RunResult r = Kit("rasdup.k", {"RTIM/G8IR.4", "LOC/G8IR.2"});
  ASSERT_EQ(r.status, 0) << r.err;

  r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("512 of the 1024 bytes the server stated arrived"), std::string::npos) << r.err;
  EXPECT_TRUE(SameBytes(client_data_ + "/LOC/G8IR/AREA0002", server_data_ + "/RTIM/G8IR/AREA0004"));
  EXPECT_EQ(Entries(client_data_ + "/LOC/G8IR").size(), 1u);
  EXPECT_TRUE(Entries(tmp_).empty());
}

TEST_F(FtpCutTest, PeektxRefusesACutOrOversizedTable) {
  WriteFile(server_data_ + "/VKS.TXT", std::string(5000, 'v'));
  WriteFile(server_data_ + "/BIG.TXT", std::string((1u << 20) + 1, 'b'));
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/VKS TEXT 1 1 VKS.TXT\nRTIM/BIG TEXT 1 1 BIG.TXT\n");
  RouteRtimTo(Url());
  WriteFile(work_ + "/COMPARE2", "the last table");
  for (const char *table : {"RTIM/VKS", "RTIM/BIG"}) {
    RunResult r = Kit("peektx.k", {table, "DEV=T", "COMPARE2"});
    EXPECT_EQ(r.status, 1) << table;
    EXPECT_NE(r.err.find("cannot fetch"), std::string::npos) << table << ": " << r.err;
    EXPECT_EQ(ReadFile(work_ + "/COMPARE2"), "the last table") << table;
  }
  EXPECT_EQ(Entries(work_).size(), 1u);
  EXPECT_TRUE(Entries(tmp_).empty());
}

TEST_F(FtpCutTest, TransferScriptFailsOnACutFileAndKeepsTheLocalOne) {
  std::filesystem::create_directories(server_data_ + "/TEXT");
  WriteFile(server_data_ + "/TEXT/BULLETIN", AllBytes());
  Vkc({"INSTALL"});
  WriteFile(work_ + "/bulletin.txt", "yesterday's bulletin");
  RunResult r = Script("VKTransfer", {Address(), "tavrin/data/TEXT/BULLETIN", "bulletin.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(work_ + "/bulletin.txt"), "yesterday's bulletin");
  for (const std::string &name : Entries(work_)) EXPECT_EQ(name.find("bulletin.txt."), std::string::npos) << name;
}

// Servers that go silent, with the kit's waits shortened to 300 ms: a
// listener whose queue is full never answers a connection (the kernel
// drops it), one that never accepts never greets, and a server that opens
// a transfer and sends nothing leaves the data connection idle.  Each
// fails the command with a message and keeps nothing.
class FtpSilentTest : public FtpTest {
 protected:
  FtpSilentTest() {
    cut_ = {"--stall=AREA0003"};
    wait_ms_ = "300";
  }
  // A listener on the loopback that never accepts; with `full` its queue
  // is filled first.  The port, 0 when it could not be made.
  int Listener(bool full) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, full ? 0 : 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &length) != 0)
      return 0;
    sockets_.push_back(fd);
    // A queue of backlog 0 holds one connection; the next is never answered.
    for (int i = 0; full && i < 2; ++i) {
      int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      sockets_.push_back(c);
      (void)connect(c, reinterpret_cast<sockaddr *>(&at), sizeof at);
    }
    return ntohs(at.sin_port);
  }
  void TearDown() override {
    for (int fd : sockets_) close(fd);
  }
  std::vector<int> sockets_;
};

TEST_F(FtpSilentTest, ConnectionsGreetingsAndTransfersThatNeverComeEnd) {
  WriteFile(server_data_ + "/DATASETS.TXT", "RTIM/G8IR AREA 1 10 RTIM/G8IR\n");
  Image(server_data_ + "/RTIM/G8IR/AREA0003", 121500);
  ASSERT_EQ(Kit("setreg.k", {"ADD", "LOC/G8IR", "AREA", "1", "4"}).status, 0);
  struct Case {
    std::string url, said;
  } cases[] = {
      {"ftp://127.0.0.1:" + std::to_string(Listener(true)) + "/", "no connection within 300 milliseconds"},
      {"ftp://127.0.0.1:" + std::to_string(Listener(false)) + "/", "timed out"},
      {Url(), "timed out"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.url);
    RouteRtimTo(c.url);
    RunResult r = Kit("rasdup.k", {"RTIM/G8IR.3", "LOC/G8IR.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_FALSE(testing_support::Exists(client_data_ + "/LOC/G8IR/AREA0001"));
    EXPECT_TRUE(Entries(tmp_).empty());
  }
}

}  // namespace
