// New items announced through a real broker (a mosquitto of the test's own
// on a free loopback port): a server machine's VKS INVOKE announces, the
// client's background loop wakes long before its interval and takes the
// item; a broker that is down or silent costs INVOKE nothing and the loop
// its wake-ups only; a restarted broker is found again, and its retained
// message costs a pass, never a copy; repeated, forged and hostile
// messages copy nothing; a burst wakes a few passes, not a thousand.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "Notify/Notify.h"
#include "client/health.h"
#include "tests/client/cycle_fixture.h"
#include "tests/server/data_files.h"

namespace test_cycle {
namespace {

using Lines = std::vector<std::string>;
using testing_support::Exists;
using testing_support::RunProgram;

constexpr const char *kMosquitto = "/usr/sbin/mosquitto";
const std::string kFetch = "WAITCAP 30 PEEKTX RTIM/VKS DEV=T COMPARE2";
const std::string kCopy5 = "RASDUP RTIM/G8IR.5 LOC/G8IR.1 BAND=ALL  SIZE=SAME  TWIN=0 MAG=4 4 ";

int FreeLoopbackPort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(s);
  return port;
}

// A mosquitto of the test's own, retained messages kept in `dir` across a
// restart.  Start returns once it says it runs.
class Broker {
 public:
  ~Broker() { Stop(); }
  bool Start(const std::string &dir) {
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      if (port_ == 0 || attempt > 0) port_ = FreeLoopbackPort();
      // It runs as the test's own user (started as root it would become
      // another, who could not keep its messages in the test's directory).
      const passwd *me = ::getpwuid(::getuid());
      testing_support::WriteFile(dir + "/mosquitto.conf",
                                 "listener " + std::to_string(port_) + " 127.0.0.1\nallow_anonymous true\n" +
                                     "persistence true\npersistence_location " + dir + "/\nlog_dest stderr\nuser " +
                                     std::string(me ? me->pw_name : "root") + "\n");
      int out[2];
      if (::pipe(out) != 0) return false;
      pid_ = ::fork();
      if (pid_ == 0) {
        ::setsid();
        ::dup2(out[1], 2);
        ::close(out[0]);
        ::execl(kMosquitto, kMosquitto, "-c", (dir + "/mosquitto.conf").c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
      }
      ::close(out[1]);
      std::string said;
      pollfd p = {out[0], POLLIN, 0};
      while (said.find(" running") == std::string::npos && ::poll(&p, 1, 10000) == 1) {
        char buffer[512];
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        said.append(buffer, static_cast<std::size_t>(n));
      }
      ::close(out[0]);
      if (said.find(" running") == std::string::npos) Stop();  // the port was taken meanwhile, say
    }
    return pid_ > 0;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);  // it saves its retained messages
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

class PushTest : public CycleTest {
 protected:
  void SetUp() override {
    CycleTest::SetUp();
    if (::access(kMosquitto, X_OK) != 0) GTEST_SKIP() << "needs the broker of Debian's package mosquitto";
    ASSERT_EQ(mkdir((dir_ / "server").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir_ / "broker").c_str(), 0755), 0);
    ASSERT_TRUE(broker_.Start(dir_ / "broker"));
    // The server machine: one AREA series, announced by INVOKE.
    ASSERT_EQ(Vks({"INSTALL"}).status, 0);
    ASSERT_EQ(Vks({"CREATE", "1", "AREA", "RANGE=1", "100", "GROUP=RTIM", "NAME=G8IR", "SOURCE=G8", "RES=4",
                   "STATUS=ACTIVE"})
                  .status,
              0);
    test_data::WriteAreaFile(dir_ / "server/AREA0005", 124001, 120000);
    WriteFile(dir_ / "server/VKNotify",
              "broker " + broker_.Url() + "\nprefix origin/a/varnek\nbase-url ftp://server/tavrin/data\n");
    // The client reads the server's table through the stand-in fetch.
    ASSERT_EQ(symlink((dir_ / "server/VKServerFile").c_str(), (dir_ / "tables/RTIM_VKS").c_str()), 0);
    ClientRec r = Area("RTIM", "G8IR");
    Work(r, 11, 20);
    PutClient(7, r);
    PutServer(1, "RTIM", "10.0.0.4");
    WriteFile(dir_ / "VKNotify", "broker " + broker_.Url() + "\ngroup RTIM prefix origin/a/varnek\n");
    Verbose(2);
    ASSERT_EQ(mkfifo((dir_ / "notify").c_str(), 0600), 0);
    notify_ = ::open((dir_ / "notify").c_str(), O_RDWR | O_CLOEXEC);
    extra_env_["FAKEHOST_NOTIFY"] = dir_ / "notify";
  }
  void TearDown() override {
    if (loop_ > 0) {
      ::kill(-loop_, SIGKILL);
      ::waitpid(loop_, nullptr, 0);
    }
    if (notify_ >= 0) ::close(notify_);
  }
  testing_support::RunResult Vks(std::vector<std::string> args, bool program = true) {
    if (program) args.insert(args.begin(), testing_support::ProgramPath("vks"));
    return RunProgram(args, dir_ / "server", {{"HOME", dir_ / "server"}, {"VARNEK_TEST_NOW", "1704110400"}});
  }
  // A host command of the loop starts within `ms`: true.
  bool CommandStarts(int ms) {
    pollfd p = {notify_, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, ms) == 1 && ::read(notify_, &byte, 1) == 1;
  }
  // Host commands started until none comes for `quiet_ms`.
  int CommandsUntilQuiet(int quiet_ms) {
    int n = 0;
    while (CommandStarts(quiet_ms)) ++n;
    return n;
  }
  void StartLoop(const char *minutes) {
    loop_ = StartVkc({"BG", minutes}, dir_ / "loop.out");
    ASSERT_TRUE(CommandStarts(10000));  // its first pass's fetch
    // Its first pass over and its helper listening (said after the pass):
    // nothing of that pass can see what the test does next.
    for (int waited = 0; ReadFile(dir_ / "loop.out").find("Listening to ") == std::string::npos; waited += 10) {
      ASSERT_LT(waited, 20000) << "the loop's helper never listened\n" << ReadFile(dir_ / "loop.out");
      ::usleep(10000);
    }
  }
  void Publish(const std::string &topic, const std::string &payload) {
    notify::Connection c;
    std::string why;
    ASSERT_EQ(c.Connect(notify::Broker{broker_.Url(), "", "", ""}, "test-publisher", false, 2000, why), notify::kOk) << why;
    ASSERT_EQ(c.Publish({{topic, payload}}, 2000, why), notify::kOk) << why;
  }
  std::string Announcement(int position) {
    notify::Item item;
    item.type = "AREA", item.group = "RTIM", item.descriptor = "G8IR", item.position = position;
    return notify::FormatAnnouncement(item, 1704110400, "ftp://x", notify::NewId());
  }

  Broker broker_;
  int notify_ = -1;
  pid_t loop_ = -1;
};

TEST_F(PushTest, AnnouncedItemsAreTakenLongBeforeTheIntervalAndNothingElseIs) {
  StartLoop("30");
  HostCommands();
  auto invoked = std::chrono::steady_clock::now();
  testing_support::RunResult r = Vks({"INVOKE", "5", "SCAN=100", "FPATH=" + (dir_ / "server")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "DONE: INVOKE.\n");
  ASSERT_TRUE(CommandStarts(10000)) << "no pass after the announcement";
  ASSERT_TRUE(CommandStarts(10000));
  EXPECT_LT(std::chrono::steady_clock::now() - invoked, std::chrono::seconds(60)) << "long before the half-hour interval";
  EXPECT_EQ(HostCommands(), (Lines{kFetch, kCopy5}));

  // The same announcement again, and one of an item the table does not
  // show: a pass each, and nothing copied.
  Publish("origin/a/varnek/RTIM/G8IR", Announcement(5));
  Publish("origin/a/varnek/RTIM/G8IR", Announcement(9));
  EXPECT_GE(CommandsUntilQuiet(1500), 1);
  for (const std::string &command : HostCommands()) EXPECT_EQ(command, kFetch);

  // Hostile messages on a watched topic wake nothing; each is said.
  for (const std::string &payload : {std::string("\x01\x02\xff", 3), std::string(10 << 20, '{'),
                                     std::string(64, '[') + std::string(64, ']'),
                                     std::string(R"({"type":"Feature","properties":{"data_id":["RTIM"]}})")})
    Publish("origin/a/varnek/RTIM/G8IR", payload);
  EXPECT_EQ(CommandsUntilQuiet(1500), 0);
  std::string out = ReadFile(dir_ / "loop.out");
  std::size_t ignored = 0;
  for (std::size_t at = out.find(" ignored: "); at != std::string::npos; at = out.find(" ignored: ", at + 1)) ++ignored;
  EXPECT_EQ(ignored, 4u) << out;

  // A burst of a thousand: a few passes, not a thousand.
  {
    notify::Connection c;
    std::string why;
    ASSERT_EQ(c.Connect(notify::Broker{broker_.Url(), "", "", ""}, "test-burst", false, 2000, why), notify::kOk);
    std::vector<std::pair<std::string, std::string>> burst(1000, {"origin/a/varnek/RTIM/G8IR", Announcement(5)});
    ASSERT_EQ(c.Publish(burst, 5000, why), notify::kOk) << why;
  }
  int passes = CommandsUntilQuiet(2000);
  EXPECT_GE(passes, 1);
  EXPECT_LE(passes, 10);  // a few, whatever the load of the machine
  health::HealthFile file;
  std::string why;
  ASSERT_EQ(health::ReadHealth((dir_ / health::kHealthFile).c_str(), file, why), health::kHealthOk) << why;
  ASSERT_EQ(file.brokers.size(), 1u);
  EXPECT_EQ(file.brokers[0].connected, 1);
}

TEST_F(PushTest, ABrokerDownOrSilentCostsInvokeNothingAndARestartedOneIsFoundAgain) {
  StartLoop("30");
  // INVOKE through a pipe that ends only when its announcing helper has
  // ended too: its output and status, and the helper's one warning.
  auto invoke = [&] {
    testing_support::RunResult r = Vks({"/bin/sh", "-c", R"({ "$0" "$@"; echo "status $?"; } 2>&1 | cat)",
                                        testing_support::ProgramPath("vks"), "INVOKE", "5", "SCAN=100",
                                        "FPATH=" + (dir_ / "server")},
                                       false);
    EXPECT_NE(r.out.find("DONE: INVOKE.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("status 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; nothing announced.\n"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
    return r.out;
  };
  // A broker that takes the connection and never answers: INVOKE has
  // ended before its helper gives up.
  {
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr *>(&a), &size), 0);
    const std::string notify = ReadFile(dir_ / "server/VKNotify");
    WriteFile(dir_ / "server/VKNotify", "broker mqtt://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) +
                                            "\nprefix origin/a/varnek\nbase-url ftp://server/tavrin/data\n");
    EXPECT_EQ(invoke().rfind("DONE: INVOKE.\nstatus 0\n", 0), 0u);
    ::close(silent);
    WriteFile(dir_ / "server/VKNotify", notify);
  }
  // A broker that is down refuses at once.
  broker_.Stop();
  invoke();

  // The broker back: the loop connects again and takes the item announced
  // meanwhile (a retained message).
  HostCommands();
  ASSERT_TRUE(broker_.Start(dir_ / "broker"));
  Publish("origin/a/varnek/RTIM/G8IR", Announcement(5));
  ASSERT_TRUE(CommandStarts(70000)) << "the loop did not come back to the broker\n" << ReadFile(dir_ / "loop.out");
  CommandsUntilQuiet(1500);
  Lines commands = HostCommands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), kCopy5), 1);

  // Restarted once more: the retained message comes again on the new
  // subscription and costs a pass, never a second copy.
  broker_.Stop();
  ASSERT_TRUE(broker_.Start(dir_ / "broker"));
  ASSERT_TRUE(CommandStarts(70000)) << "the retained message did not wake the loop\n" << ReadFile(dir_ / "loop.out");
  CommandsUntilQuiet(1500);
  for (const std::string &command : HostCommands()) EXPECT_EQ(command, kFetch);
}

}  // namespace
}  // namespace test_cycle
