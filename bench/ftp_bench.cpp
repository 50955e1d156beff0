// The client's poll of ftp machines through the kit against what an
// operator would otherwise run from cron, `lftp mirror --only-newer` over
// the same server directories, on loopback in the same run:
//
//   nothing new   N ftp machines (pyftpdlib, one loopback port each, all
//                 served by one python3 process of the benchmark's own),
//                 each a data directory of 100 images, its dataset
//                 registry and its availability table; one client record
//                 per machine that already holds the newest image.
//                 `vkc CYCLE` (one fetch of each machine's table, nothing
//                 copied) against one `lftp mirror --only-newer` of each
//                 machine's data directory, one after the other, into
//                 mirrors already current.  Goal: at most 1.0.
//   one new item  the same after a new image arrived on the last machine
//                 (its table brought up to date by `vks INVOKE`): the time
//                 until the image is in the client's dataset (the whole
//                 `vkc CYCLE`, which copies it with RASDUP) against the time
//                 until it is in lftp's mirror (the whole pass over the N
//                 machines).  Goal: at most 1.0.
//
// Each lftp run is started straight (no shell) with plain ftp (no TLS
// attempt) and the account of the same $HOME/.netrc; each vkc run with the
// kit's links on PATH.  Medians over the runs, interleaved.
//
//   ftp_bench [--servers N] [--runs R] [--kit DIR]...
//
// With FTP_BENCH_KEEP set in the environment its directory is kept (for a
// look with strace or perf).
// N defaults to 20 (at most 50, the client's server list), R to 9 (at
// most 20: each new image is an hour after the last, within the day).  Each
// --kit names a directory of kit links (rasdup.k, peektx.k, waitcap.k ...)
// to measure, each with a client machine of its own; by default the kit of
// this build.  Needs /usr/bin/python3 with pyftpdlib and /usr/bin/lftp
// (Debian python3-pyftpdlib and lftp, tools/setup).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char *kPython = "/usr/bin/python3";
constexpr const char *kLftp = "/usr/bin/lftp";
constexpr const char *kUser = "wxfeed";
constexpr const char *kPassword = "n0t-a-secret";
constexpr int kItems = 100;       // images a machine holds to begin with
constexpr int kRange = 9999;      // the positions of its dataset
constexpr int kDate = 2024123;    // the images' day

std::string g_bin;   // vkc, vks, tvkit
std::string g_root;  // the benchmark's directory

[[noreturn]] void Die(const std::string &why) {
  std::fprintf(stderr, "ftp_bench: %s\n", why.c_str());
  std::exit(1);
}

void Write(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) Die("cannot write " + path);
}

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

using Env = std::map<std::string, std::optional<std::string>>;

// Runs a program in `dir` with the environment changed by `env`; its exit
// status (128 + signal).  Its output goes to `out` ("" for /dev/null).
int Run(const std::string &dir, const std::vector<std::string> &args, const Env &env = {},
        const std::string &out = "") {
  std::vector<std::string> copy = args;
  std::vector<char *> argv;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char **e = environ; *e; ++e) {
    std::string entry = *e;
    if (env.count(entry.substr(0, entry.find('='))) == 0) environment.push_back(entry);
  }
  for (const auto &[key, value] : env)
    if (value) environment.push_back(key + "=" + *value);
  std::vector<char *> envp;
  for (auto &e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    int null = ::open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void MustRun(const std::string &dir, const std::vector<std::string> &args, const Env &env = {}) {
  const std::string log = g_root + "/setup.log";
  if (int rc = Run(dir, args, env, log); rc != 0) Die(args[0] + " " + args[1] + " ended " + std::to_string(rc) + ":\n" + Read(log));
}

// N listeners on one IO loop, machine k's account at its own home; each
// port on a line once all listen.  Ends with its standard input.
constexpr const char *kServerScript = R"(import logging, os, sys, threading
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.ERROR)
user, password = sys.argv[1:3]
loop = IOLoop()
servers = []
for home in sys.argv[3:]:
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elr")
    handler = type("Handler", (FTPHandler,), {"authorizer": authorizer})
    servers.append(FTPServer(("127.0.0.1", 0), handler, ioloop=loop))
sys.stdout.write("".join("%d\n" % s.socket.getsockname()[1] for s in servers))
sys.stdout.flush()
def watch():
    sys.stdin.read()
    os._exit(0)
threading.Thread(target=watch, daemon=True).start()
servers[0].serve_forever()
)";

struct Servers {
  pid_t pid = -1;
  int control = -1;
  std::vector<int> ports;
};

Servers StartServers(const std::vector<std::string> &homes) {
  Servers s;
  Write(g_root + "/ftpd.py", kServerScript);
  int to_child[2], from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) Die("no pipe");
  std::vector<std::string> args = {kPython, g_root + "/ftpd.py", kUser, kPassword};
  args.insert(args.end(), homes.begin(), homes.end());
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  s.pid = ::fork();
  if (s.pid == 0) {
    int err = ::open((g_root + "/ftpd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(to_child[0], 0);
    ::dup2(from_child[1], 1);
    if (err >= 0) ::dup2(err, 2);
    ::execv(kPython, argv.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  s.control = to_child[1];
  std::string said;
  pollfd p = {from_child[0], POLLIN, 0};
  while (std::count(said.begin(), said.end(), '\n') < static_cast<long>(homes.size()) && ::poll(&p, 1, 20000) == 1) {
    char buffer[512];
    ssize_t n = ::read(from_child[0], buffer, sizeof buffer);
    if (n <= 0) break;
    said.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(from_child[0]);
  std::istringstream lines(said);
  for (int port; lines >> port;) s.ports.push_back(port);
  if (s.ports.size() != homes.size()) Die("the ftp servers did not start: " + Read(g_root + "/ftpd.log"));
  return s;
}

void StopServers(Servers &s) {
  if (s.control >= 0) ::close(s.control);
  if (s.pid > 0) {
    ::kill(s.pid, SIGKILL);
    ::waitpid(s.pid, nullptr, 0);
  }
}

std::string Home(int k) { return g_root + "/m" + std::to_string(k); }
std::string Data(int k) { return Home(k) + "/tavrin/data"; }
std::string Group(int k) { return "S" + std::to_string(k); }
std::string Name(int k) { return "I" + std::to_string(k); }

Env ServerEnv(int k) {
  return {{"HOME", Home(k)}, {"PATH", "/usr/bin:/bin"}, {"TZ", "UTC"}, {"TVPATH", Data(k) + "/img"},
          {"TVREDIRECT", std::nullopt}, {"VARNEK_FAULTS", std::nullopt}};
}

// Image `number` of machine k: the first ones taken at midnight, each new
// one an hour after the one before (a record takes an image only an
// increment, 30 minutes, after its last).
void Image(int k, int number) {
  const int time = number <= kItems ? 0 : (number - kItems) * 10000;
  char name[16];
  std::snprintf(name, sizeof name, "AREA%04d", number);
  MustRun(g_root, {g_bin + "/tvkit", "AREA", Data(k) + "/img/" + name, std::to_string(kDate), std::to_string(time),
                   "75", "24", "32", "4"},
          ServerEnv(k));
}

// Machine k: 100 images (copies of one made by the kit: only the newest
// is read), the registry and a table whose record holds the newest.
void MakeMachine(int k) {
  fs::create_directories(Data(k) + "/img");
  Write(Data(k) + "/DATASETS.TXT", Group(k) + "/" + Name(k) + " AREA 1 " + std::to_string(kRange) + " img\n" +
                                       Group(k) + "/VKS TEXT 1 1 VKServerFile\n");
  Image(k, kItems);
  char newest[16];
  std::snprintf(newest, sizeof newest, "/img/AREA%04d", kItems);
  for (int i = 1; i < kItems; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/img/AREA%04d", i);
    fs::copy_file(Data(k) + newest, Data(k) + name, fs::copy_options::overwrite_existing);
  }
  const std::string vks = g_bin + "/vks";
  MustRun(Data(k), {vks, "INSTALL"}, ServerEnv(k));
  MustRun(Data(k), {vks, "CREATE", "1", "AREA", "RANGE=1", std::to_string(kRange), "STATUS=ACTIVE", "GROUP=" + Group(k),
                    "NAME=" + Name(k), "SATE=G8", "RES=4", "SCAN=100"},
          ServerEnv(k));
  MustRun(Data(k), {vks, "INVOKE", std::to_string(kItems), "FPATH=" + Data(k) + "/img"}, ServerEnv(k));
}

// A new image on machine k, its table brought up to date.
void NewItem(int k, int number) {
  Image(k, number);
  MustRun(Data(k), {g_bin + "/vks", "INVOKE", std::to_string(number), "FPATH=" + Data(k) + "/img"}, ServerEnv(k));
}

// A client machine (its own HOME) for one kit, and its lftp mirrors.
struct Client {
  std::string kit;   // the directory of the kit's links
  std::string home;
  std::string work() const { return home + "/work"; }
  std::string tmp() const { return home + "/tmp"; }
  Env env() const {
    return {{"HOME", home},           {"PATH", kit + ":" + g_bin + ":/usr/bin:/bin"},
            {"TZ", "UTC"},            {"LC_ALL", "C"},
            {"TMPDIR", tmp()},        {"TVPATH", std::nullopt},
            {"TVREDIRECT", std::nullopt}, {"VARNEK_FAULTS", std::nullopt},
            {"TVDEBUG", std::nullopt}};
  }
};

void MakeClient(const Client &c, const std::vector<int> &ports) {
  const std::string data = c.home + "/tavrin/data";
  fs::create_directories(data);
  fs::create_directories(c.work());
  fs::create_directories(c.tmp());
  Write(c.home + "/.netrc", std::string("machine 127.0.0.1 login ") + kUser + " password " + kPassword + "\n");
  fs::permissions(c.home + "/.netrc", fs::perms::owner_read | fs::perms::owner_write);
  std::string routes, machines;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const int k = static_cast<int>(i) + 1;
    routes += "QOLA_ROUTE_" + Group(k) + "=A" + std::to_string(k) + "\n";
    machines += "A" + std::to_string(k) + "=ftp://127.0.0.1:" + std::to_string(ports[i]) + "/\n";
  }
  Write(data + "/TVTABLE.TXT", routes);
  Write(data + "/MACHINES.TXT", machines);
  const std::string vkc = g_bin + "/vkc";
  MustRun(c.work(), {vkc, "INSTALL"}, c.env());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string k = std::to_string(i + 1);
    MustRun(c.work(), {vkc, "CREATE", k, "TYPE=AREA", "NAME=" + Name(static_cast<int>(i) + 1),
                       "GROUP=" + Group(static_cast<int>(i) + 1), "STATUS=ACTIVE", "WORK=1", "4"},
            c.env());
    MustRun(c.work(), {vkc, "CS", k, "NAME=s" + k, "ADDRESS=A" + k, "GROUP=" + Group(static_cast<int>(i) + 1),
                       "VERSION=2"},
            c.env());
  }
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Cycle(const Client &c) {
  auto start = Clock::now();
  int rc = Run(c.work(), {g_bin + "/vkc", "CYCLE"}, c.env());
  double ms = Ms(Clock::now() - start);
  if (rc != 0) Die("vkc CYCLE ended " + std::to_string(rc));
  return ms;
}

std::string Mirror(const Client &c, int k) { return c.home + "/mirror/m" + std::to_string(k); }

// One lftp mirror pass over every machine, one lftp run a machine.
double Lftp(const Client &c, const std::vector<int> &ports) {
  auto start = Clock::now();
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string script = "set ftp:ssl-allow no; set net:max-retries 1; set net:timeout 20; "
                               "set cmd:fail-exit yes; open -p " +
                               std::to_string(ports[i]) + " 127.0.0.1; mirror --only-newer tavrin/data " +
                               Mirror(c, static_cast<int>(i) + 1);
    if (int rc = Run(c.home, {kLftp, "-c", script}, c.env()); rc != 0) Die("lftp ended " + std::to_string(rc));
  }
  return Ms(Clock::now() - start);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool SameFile(const std::string &a, const std::string &b) {
  std::string x = Read(a);
  return !x.empty() && x == Read(b);
}

}  // namespace

int main(int argc, char **argv) {
  int servers = 20, runs = 9;
  std::vector<std::string> kits;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--servers" && i + 1 < argc) servers = std::atoi(argv[++i]);
    else if (a == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (a == "--kit" && i + 1 < argc) kits.push_back(fs::absolute(argv[++i]));
    else Die("usage: ftp_bench [--servers N] [--runs R] [--kit DIR]...");
  }
  if (servers < 1 || servers > 50 || runs < 1 || runs > 20)
    Die("usage: ftp_bench [--servers 1..50] [--runs 1..20] [--kit DIR]...");
  if (kits.empty()) kits.push_back(VARNEK_KIT_BIN_DIR);
  g_bin = VARNEK_BIN_DIR;
  for (const char *need : {kPython, kLftp})
    if (::access(need, X_OK) != 0) {
      std::printf("ftp_bench: skipped, no %s (tools/setup installs python3-pyftpdlib and lftp)\n", need);
      return 0;
    }
  if (Run("/", {kPython, "-c", "import pyftpdlib"}) != 0) {
    std::printf("ftp_bench: skipped, %s cannot import pyftpdlib (tools/setup installs python3-pyftpdlib)\n", kPython);
    return 0;
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/ftp_bench-XXXXXX";
  if (!::mkdtemp(pattern.data())) Die("no scratch directory");
  g_root = pattern;

  std::printf("setting up %d ftp machines of %d images each ...\n", servers, kItems);
  std::fflush(stdout);
  std::vector<std::string> homes;
  for (int k = 1; k <= servers; ++k) {
    MakeMachine(k);
    homes.push_back(Home(k));
  }
  Servers ftpd = StartServers(homes);
  std::vector<Client> clients;
  for (std::size_t i = 0; i < kits.size(); ++i) {
    Client c{kits[i], g_root + "/client" + std::to_string(i + 1)};
    MakeClient(c, ftpd.ports);
    // The first poll takes the newest images and fills the mirrors.
    Cycle(c);
    if (i == 0) Lftp(c, ftpd.ports);
    clients.push_back(c);
  }
  const Client &mirrors = clients[0];

  // Nothing new: a few warm-up passes, then interleaved runs.
  std::vector<std::vector<double>> quiet(clients.size());
  std::vector<double> quiet_lftp;
  for (int i = 0; i < 2; ++i) {
    for (const Client &c : clients) Cycle(c);
    Lftp(mirrors, ftpd.ports);
  }
  for (int r = 0; r < runs; ++r) {
    for (std::size_t i = 0; i < clients.size(); ++i) quiet[i].push_back(Cycle(clients[i]));
    quiet_lftp.push_back(Lftp(mirrors, ftpd.ports));
  }

  // One new item on the last machine, for every client and the mirror.
  std::vector<std::vector<double>> fresh(clients.size());
  std::vector<double> fresh_lftp;
  int number = kItems;
  bool arrived = true;
  for (int r = 0; r < runs; ++r) {
    NewItem(servers, ++number);
    char name[16];
    std::snprintf(name, sizeof name, "AREA%04d", number);
    const std::string original = Data(servers) + "/img/" + name;
    // The order alternates, so that neither side always comes first.
    auto lftp = [&] {
      fresh_lftp.push_back(Lftp(mirrors, ftpd.ports));
      arrived = arrived && SameFile(Mirror(mirrors, servers) + "/img/" + name, original);
    };
    if (r % 2) lftp();
    for (std::size_t i = 0; i < clients.size(); ++i) {
      fresh[i].push_back(Cycle(clients[i]));
      // Somewhere in the client's work ring of 4 positions.
      char local[16];
      bool found = false;
      for (int p = 1; p <= 4 && !found; ++p) {
        std::snprintf(local, sizeof local, "AREA%04d", p);
        found = SameFile(clients[i].home + "/tavrin/data/LOC/" + Name(servers) + "/" + local, original);
      }
      arrived = arrived && found;
    }
    if (r % 2 == 0) lftp();
  }
  StopServers(ftpd);
  if (std::getenv("FTP_BENCH_KEEP")) std::printf("kept %s\n", g_root.c_str());
  if (!arrived) Die("a new image did not arrive whole (scratch directory " + g_root + " kept)");

  const double lq = Median(quiet_lftp), lf = Median(fresh_lftp);
  std::printf("%d ftp machines of %d images, medians of %d runs (ms; per machine below)\n", servers, kItems,
              runs);
  std::printf("  %-44s %9s %9s %7s\n", "", "nothing", "one new", "");
  std::printf("  %-44s %9.1f %9.1f\n", "lftp mirror --only-newer, one run a machine", lq, lf);
  std::printf("  %-44s %9.2f %9.2f\n", "", lq / servers, lf / servers);
  for (std::size_t i = 0; i < clients.size(); ++i) {
    const double q = Median(quiet[i]), f = Median(fresh[i]);
    std::string label = "vkc CYCLE, kit " + clients[i].kit;
    if (label.size() > 44) label = "vkc CYCLE, kit ..." + label.substr(label.size() - 26);
    std::printf("  %-44s %9.1f %9.1f\n", label.c_str(), q, f);
    std::printf("  %-44s %9.2f %9.2f\n", "", q / servers, f / servers);
    std::printf("  %-44s %8.2fx %8.2fx   (goal: at most 1.0x each)\n", "  against lftp", q / lq, f / lf);
  }
  if (!std::getenv("FTP_BENCH_KEEP")) fs::remove_all(g_root);
  return 0;
}
