// New data announced through a broker against polling, measured end to end
// on loopback with a mosquitto of the benchmark's own:
//
//   push       a server's `vks INVOKE` of a new image (VKNotify beside its
//              table) → the client's background loop (`vkc BG 30`, VKNotify)
//              wakes and copies it: the time from INVOKE's return to the
//              copy command's start, median and 95th percentile over
//              50 items.  Goal: median at most 100 ms.
//   polling    the same with `vkc BG 1` and no VKNotify, over a few items
//              (about 30 s each by construction).
//   INVOKE     one `vks INVOKE` with announcing against one without, each
//              over 50 runs.  Goal: at most 1.2.  INVOKE leaves the
//              announcement to its helper and returns; the time until the
//              helper has made it is shown beside.
//   burst      1,000 announcements published at once → the passes the
//              loop runs for them.  Goal: at most 3.
//
// The client's fetch and copy are the stand-in host program of the tests
// (the fetch copies the server's table; each command writes a byte to a
// FIFO when it starts, which is how the copy is seen).
//
//   push_bench [polled items]      (default 2; 0 leaves polling out)

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "Notify/Notify.h"
#include "bench/spawn_timing.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string g_bin;   // the programs
std::string g_root;  // the benchmark's directory

void Write(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::trunc) << text; }

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

// Starts mosquitto on a free loopback port; its pid, or -1.
pid_t StartBroker(int &port) {
  port = FreeLoopbackPort();
  const passwd *me = ::getpwuid(::getuid());
  Write(g_root + "/mosquitto.conf", "listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\n" +
                                        "log_dest stderr\nuser " + std::string(me ? me->pw_name : "root") + "\n");
  int out[2];
  if (::pipe(out) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 2);
    ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", (g_root + "/mosquitto.conf").c_str(), static_cast<char *>(nullptr));
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
  return said.find(" running") == std::string::npos ? -1 : pid;
}

// Runs a program in `dir` and waits; its exit status.
int Run(const std::string &dir, std::vector<std::string> args) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t StartLoop(const std::string &minutes) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    if (::chdir((g_root + "/client").c_str()) != 0) ::_exit(126);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::string vkc = g_bin + "/vkc";
    ::execl(vkc.c_str(), vkc.c_str(), "BG", minutes.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  return pid;
}

void StopLoop(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::unlink((g_root + "/client/VKBackGround").c_str());
  ::unlink((g_root + "/client/VKCPid").c_str());
}

// A host command of the loop starts within `ms`.
bool CommandStarts(int fifo, int ms) {
  pollfd p = {fifo, POLLIN, 0};
  char byte;
  return ::poll(&p, 1, ms) == 1 && ::read(fifo, &byte, 1) == 1;
}

int CommandsUntilQuiet(int fifo, int quiet_ms) {
  int n = 0;
  while (CommandStarts(fifo, quiet_ms)) ++n;
  return n;
}

// INVOKEs item `position` and waits for its copy: the milliseconds from
// INVOKE's return to the copy's start (each item is one pass: the fetch,
// then the copy), or -1.
double ItemLatencyMs(int fifo, int position, int wait_ms) {
  const std::string server = g_root + "/server";
  if (Run(server, {g_bin + "/vks", "INVOKE", std::to_string(position), "SCAN=100", "FPATH=" + server}) != 0) return -1;
  const auto returned = Clock::now();
  if (!CommandStarts(fifo, wait_ms) || !CommandStarts(fifo, wait_ms)) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - returned).count();
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

double InvokeUs(int runs) {
  const std::string server = g_root + "/server";
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    if (::chdir(server.c_str()) != 0) std::exit(2);
    times.push_back(bench::RunOnceUs({g_bin + "/vks", "INVOKE", std::to_string(60 + i % 10), "SCAN=100", "FPATH=" + server}));
  }
  return Percentile(times, 0.5);
}

// One INVOKE with its error stream on a pipe, timed until the pipe ends:
// INVOKE and the announcement its helper makes after it (microseconds).
double UntilAnnouncedUs(int position) {
  const std::string server = g_root + "/server";
  std::vector<std::string> args = {g_bin + "/vks", "INVOKE", std::to_string(position), "SCAN=100", "FPATH=" + server};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int ends[2];
  if (::chdir(server.c_str()) != 0 || ::pipe2(ends, O_CLOEXEC) != 0) std::exit(2);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::exit(2);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  char buffer[256];
  while (::read(ends[0], buffer, sizeof buffer) > 0) {
  }
  const auto end = Clock::now();
  ::close(ends[0]);
  ::waitpid(pid, nullptr, 0);
  return std::chrono::duration<double, std::micro>(end - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  int polled = 2;
  if (argc > 1) {
    std::string_view arg = argv[1];
    if (std::from_chars(arg.data(), arg.data() + arg.size(), polled).ec != std::errc() || polled < 0) return 2;
  }
  if (::access("/usr/sbin/mosquitto", X_OK) != 0) {
    std::printf("push_bench: needs the broker of Debian's package mosquitto\n");
    return 0;
  }
  g_bin = VARNEK_BIN_DIR;
  char dir[] = "/tmp/varnek-push-bench-XXXXXX";
  if (!mkdtemp(dir)) return 2;
  g_root = dir;
  int port = 0;
  pid_t broker = StartBroker(port);
  if (broker < 0) return 2;
  const std::string url = "mqtt://127.0.0.1:" + std::to_string(port);
  const std::string server = g_root + "/server", client = g_root + "/client";
  for (const std::string &d : {server, client, client + "/bin", client + "/tables", client + "/tavrin",
                               client + "/tavrin/data"})
    ::mkdir(d.c_str(), 0755);
  for (const char *host : {"waitcap.k", "rasdup.k"})
    if (::symlink((g_bin + "/fakehost").c_str(), (client + "/bin/" + host).c_str()) != 0) return 2;
  ::setenv("PATH", (client + "/bin").c_str(), 1);
  ::setenv("HOME", client.c_str(), 1);
  ::setenv("FAKEHOST_TABLES", (client + "/tables").c_str(), 1);
  ::mkfifo((g_root + "/notify").c_str(), 0600);
  int fifo = ::open((g_root + "/notify").c_str(), O_RDWR | O_CLOEXEC);
  ::setenv("FAKEHOST_NOTIFY", (g_root + "/notify").c_str(), 1);

  // The server: one AREA series; the client: one record taking every image.
  Run(server, {g_bin + "/vks", "INSTALL"});
  Run(server, {g_bin + "/vks", "CREATE", "1", "AREA", "RANGE=1", "9999", "GROUP=RTIM", "NAME=G8IR", "SOURCE=G8",
               "RES=4", "STATUS=ACTIVE"});
  const std::string server_notify = "broker " + url + "\nprefix origin/a/varnek\nbase-url ftp://server/tavrin/data\n";
  Write(server + "/VKNotify", server_notify);
  ::symlink((server + "/VKServerFile").c_str(), (client + "/tables/RTIM_VKS").c_str());
  Run(client, {g_bin + "/vkc", "INSTALL"});
  Run(client, {g_bin + "/vkc", "VERBOSE", "0"});
  Run(client, {g_bin + "/vkc", "CREATE", "1", "TYPE=AREA", "GROUP=RTIM", "NAME=G8IR", "WORK=1", "100", "STATUS=ACTIVE",
               "INC=0", "PER=0"});
  Run(client, {g_bin + "/vkc", "CS", "1", "GROUP=RTIM", "ADDRESS=10.0.0.4"});
  Write(client + "/VKNotify", "broker " + url + "\ngroup RTIM prefix origin/a/varnek\n");
  Write(client + "/tavrin/data/TVTABLE.TXT", "");  // no routes: every group is its own server's

  // Push: 50 items, each a pass of its own.
  pid_t loop = StartLoop("30");
  CommandsUntilQuiet(fifo, 1000);  // its first pass
  std::vector<double> push;
  for (int i = 1; i <= 50; ++i) {
    double ms = ItemLatencyMs(fifo, i, 10000);
    if (ms < 0) return std::printf("push_bench: item %d was not copied\n", i), 1;
    push.push_back(ms);
    CommandsUntilQuiet(fifo, 30);
  }
  std::printf("push:    INVOKE returned -> copy started, 50 items: median %.1f ms, 95th percentile %.1f ms "
              "(goal: median <= 100 ms)\n",
              Percentile(push, 0.5), Percentile(push, 0.95));

  // A burst of a thousand announcements.
  {
    notify::Connection c;
    std::string why;
    std::vector<std::pair<std::string, std::string>> burst;
    notify::Item item;
    item.type = "AREA", item.group = "RTIM", item.descriptor = "G8IR", item.position = 50;
    for (int i = 0; i < 1000; ++i)
      burst.emplace_back("origin/a/varnek/RTIM/G8IR", notify::FormatAnnouncement(item, 0, "x", notify::NewId()));
    if (c.Connect(notify::Broker{url, "", "", ""}, "push-bench", false, 2000, why) != notify::kOk ||
        c.Publish(burst, 10000, why) != notify::kOk)
      return std::printf("push_bench: %s\n", why.c_str()), 1;
  }
  std::printf("burst:   1000 announcements -> %d passes (goal: <= 3)\n", CommandsUntilQuiet(fifo, 2000));
  StopLoop(loop);

  // INVOKE with announcing and without; and INVOKE until its announcement
  // is made (the helper announces after INVOKE has returned).
  std::vector<double> announced;
  for (int i = 0; i < 50; ++i) announced.push_back(UntilAnnouncedUs(60 + i % 10));
  const double with = InvokeUs(50);
  ::unlink((server + "/VKNotify").c_str());
  const double without = InvokeUs(50);
  std::printf("INVOKE:  with announcing %.0f us, without %.0f us (median of 50): %.2fx (goal: <= 1.2)\n", with, without,
              with / without);
  std::printf("         INVOKE and its announcement made: median %.0f us, 95th percentile %.0f us\n",
              Percentile(announced, 0.5), Percentile(announced, 0.95));
  Write(server + "/VKNotify", server_notify);

  // Polling: the loop wakes only at its interval.
  if (polled > 0) {
    ::unlink((client + "/VKNotify").c_str());
    loop = StartLoop("1");
    CommandsUntilQuiet(fifo, 1000);
    std::vector<double> poll;
    for (int i = 0; i < polled; ++i) {
      double ms = ItemLatencyMs(fifo, 100 + i, 70000);
      if (ms < 0) return std::printf("push_bench: polled item %d was not copied\n", i), 1;
      poll.push_back(ms);
      // The next item arrives at a random moment of the interval.
      ::usleep(static_cast<useconds_t>((std::rand() % 60000) * 1000));
    }
    std::printf("polling: BG 1, %d items: median %.0f ms\n", polled, Percentile(poll, 0.5));
    StopLoop(loop);
  }
  ::kill(broker, SIGTERM);
  ::waitpid(broker, nullptr, 0);
  std::error_code ignored;
  std::filesystem::remove_all(g_root, ignored);
  return 0;
}
