// Cost of the client's cycle against the host commands it cannot avoid,
// measured in the same run:
//
//   nothing new   50 servers in the server list, each table 200 active AREA
//                 records; 200 active client records that already hold
//                 every item.  `vkc CYCLE` against starting the same 50
//                 fetch commands alone (fork, exec, wait).  Goal: 1.5.
//   all new       the same with every client record due: each takes its
//                 image (a copy and a display each).  The cycle's time per
//                 host command against one bare fork, exec and wait of the
//                 same program.  Goal: 1.2.
//
// The fetch is a stand-in host program that copies a prepared table.
//
//   cycle_bench [runs]        (default 20 runs nothing-new, 5 all-new)

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/spawn_timing.h"
#include "client/client.h"

namespace {

constexpr int kServers = 50;
constexpr int kRecords = 200;

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Server k's availability table: records S<k>/D<j>, j = 1..200, each with
// its image j of 2024001 at 12:00.
bool MakeTable(int k, const std::string &path) {
  if (installServerFile(path.c_str()) != 0) return false;
  std::FILE *fp = OpenServerFile(path.c_str());
  if (!fp) return false;
  bool ok = true;
  for (int j = 1; j <= kRecords && ok; ++j) {
    ServerRec s;
    (void)initServerRec(&s, AREA);
    s.Status = Active;
    AreaServerStruct &a = s.ServerData.Area;
    a.bRange = 1, a.eRange = 9999, a.currentNum = j, a.dataDate = 2024001, a.dataTime = 120000;
    a.imageResolution = 4, a.scanLine = 100;
    std::snprintf(a.dataSource, sizeof a.dataSource, "G8");
    std::snprintf(a.Group, sizeof a.Group, "S%d", k);
    std::snprintf(a.Descriptor, sizeof a.Descriptor, "D%d", j);
    ok = WriteServerFile(j, &s, fp) == 0;
  }
  std::fclose(fp);
  return ok;
}

// Client record i watches S<k>/D<i> (k = (i - 1) % 50 + 1), a copy ring
// and a frame ring; `held` records already hold the server's image.
bool MakeClients(bool held) {
  if (DBInit(kClientFile, sizeof(ClientRec), kClientRecords) != 0) return false;
  DBase db;
  if (DBOpen(&db, kClientFile, "") != 0) return false;
  bool ok = true;
  for (int i = 1; i <= kRecords && ok; ++i) {
    ClientRec r = ClientDefaults(AREA);
    r.Status = Active;
    std::snprintf(r.Group, sizeof r.Group, "S%d", (i - 1) % kServers + 1);
    std::snprintf(r.Descriptor, sizeof r.Descriptor, "D%d", i);
    AreaClientStruct &a = r.Data.Area;
    a.BegWS = a.NxtWS = 1, a.EndWS = 10, a.Store = True;
    a.BegFrame = a.NxtFrame = 1, a.EndFrame = 4, a.Show = True;
    if (held) {
      r.LastItem = i;
      r.LastDate = 2024001;
      r.LastTime = 120000;
      getTimeStamp(2024001, 120000, &r.LastStamp);
    }
    ok = DBWrite(&db, i, &r) == 0;
  }
  return DBClose(&db) == 0 && ok;
}

bool MakeServerList() {
  if (DBInit(kServerListFile, sizeof(ServerListRec), kServerListRecords) != 0) return false;
  DBase db;
  if (DBOpen(&db, kServerListFile, "") != 0) return false;
  bool ok = true;
  std::string routes;
  for (int k = 1; k <= kServers && ok; ++k) {
    ServerListRec e;
    std::memset(&e, 0, sizeof e);
    e.Version = 2;
    std::snprintf(e.group, sizeof e.group, "S%d", k);
    std::snprintf(e.Address, sizeof e.Address, "10.0.%d.1", k);
    routes += "QOLA_ROUTE_S" + std::to_string(k) + "=10.0." + std::to_string(k) + ".1\n";
    ok = DBWrite(&db, k, &e) == 0;
  }
  Write("tavrin/data/TVTABLE.TXT", routes);
  return DBClose(&db) == 0 && ok;
}

double Microseconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 20;
  if (argc > 1) {
    std::string_view arg = argv[1];
    if (std::from_chars(arg.data(), arg.data() + arg.size(), runs).ec != std::errc() || runs < 1) return 2;
  }
  const std::string bin = VARNEK_BIN_DIR;
  char dir[] = "/tmp/varnek-cycle-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;
  for (const char *d : {"bin", "tables", "tavrin", "tavrin/data"}) mkdir(d, 0755);
  for (const char *host : {"waitcap.k", "rasdup.k", "rasvue.k"})
    if (symlink((bin + "/fakehost").c_str(), (std::string("bin/") + host).c_str()) != 0) return 2;
  setenv("PATH", (std::string(dir) + "/bin").c_str(), 1);
  setenv("HOME", dir, 1);
  setenv("FAKEHOST_TABLES", (std::string(dir) + "/tables").c_str(), 1);
  unsetenv("FAKEHOST_LOG");
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  Write("VKCVerboseLevel", "0\n");
  for (int k = 1; k <= kServers; ++k)
    if (!MakeTable(k, "tables/S" + std::to_string(k) + "_VKS")) return 3;
  if (!MakeServerList() || !MakeClients(true)) return 3;

  // The floor: the 50 fetch commands alone, as the host starts them.
  std::vector<std::vector<std::string>> fetches;
  for (int k = 1; k <= kServers; ++k)
    fetches.push_back({"bin/waitcap.k", " ", "WAITCAP 30 PEEKTX S" + std::to_string(k) + "/VKS DEV=T COMPARE2"});
  const std::vector<std::string> cycle = {bin + "/vkc", "CYCLE"};
  // Each cycle is set against the floor measured just before it, and the
  // ratio printed is the median of those pairs: a machine busy with other
  // work for a while slows both of a pair, not one series.
  std::vector<double> floor_us, cycle_us, nothing_ratios;
  for (int i = 0; i < runs + 2; ++i) {
    auto start = std::chrono::steady_clock::now();
    for (const auto &f : fetches) bench::RunOnceUs(f);
    double f = Microseconds(start);
    double c = bench::RunOnceUs(cycle);
    if (i >= 2) floor_us.push_back(f), cycle_us.push_back(c), nothing_ratios.push_back(c / f);  // two warm up
  }
  double floor = bench::Median(floor_us), nothing_new = bench::Median(cycle_us);

  // Every record new: 200 copies and 200 displays, plus the 50 fetches.
  std::string held = Read(kClientFile);
  if (!MakeClients(false)) return 3;
  std::string fresh = Read(kClientFile);
  const int commands = kServers + 2 * kRecords;
  std::vector<double> new_us, command_us, new_ratios;
  int new_runs = runs / 4 > 0 ? runs / 4 : 1;
  for (int i = 0; i < new_runs; ++i) {
    Write(kClientFile, fresh);
    double c = bench::RunOnceUs(cycle);
    auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < 100; ++n) bench::RunOnceUs({"bin/rasdup.k", " ", "RASDUP S1/D1.1 LOC/D1.1 SIZE=SAME"});
    double per = Microseconds(start) / 100;
    new_us.push_back(c), command_us.push_back(per), new_ratios.push_back(c / commands / per);
  }
  Write(kClientFile, held);
  double all_new = bench::Median(new_us), per_command = bench::Median(command_us);

  std::printf("client cycle, %d servers x %d records, %d client records, median of %d runs\n", kServers, kRecords,
              kRecords, runs);
  std::printf("  50 fetch commands alone (floor)   %10.1f us\n", floor);
  std::printf("  vkc CYCLE, nothing new            %10.1f us   ratio %.2f (median of pairs %.2f)\n", nothing_new,
              nothing_new / floor, bench::Median(nothing_ratios));
  std::printf("  bare fork/exec/wait of a command  %10.1f us\n", per_command);
  std::printf("  vkc CYCLE, every record new       %10.1f us   %d host commands, %.1f us each, ratio %.2f "
              "(median of pairs %.2f)\n",
              all_new, commands, all_new / commands, all_new / commands / per_command, bench::Median(new_ratios));

  std::string cleanup = std::string("/bin/rm -rf ") + dir;
  if (chdir("/") == 0 && std::system(cleanup.c_str()) != 0) return 4;
  return 0;
}
