// Cost of the server's two whole-file commands on a full availability file
// (200 Active AREA records), against two floors measured in the same run:
// reading the availability file once with cat, and reading it and the nine
// AREA files' headers once (one cat of all ten files):
//
//   VKS INVOKE 1 2 ... 9 TYPE=AREA MULTI=ON   nine AREA files, each matching
//                                            about 22 records: nine scans of
//                                            200 records and 200 updates
//   VKS LIST 1 200                           the table of all 200 records
//
// Runs the commands interleaved and prints the median wall time of each and
// the ratios to the floors.
//
//   server_bench [runs]        (default 200 runs of each)

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/spawn_timing.h"
#include "server/server.h"

namespace {

// A 64-word AREA directory of this machine's byte order.
bool WriteAreaFile(int number) {
  std::int32_t words[64] = {};
  words[1] = 4;
  words[3] = 124001;
  words[4] = 120000 + number;
  char name[16];
  std::snprintf(name, sizeof name, "AREA%04d", number);
  std::FILE *f = std::fopen(name, "wb");
  if (!f) return false;
  bool ok = std::fwrite(words, sizeof words, 1, f) == 1;
  return (std::fclose(f) == 0) && ok;
}

bool MakeFullFile() {
  if (installServerFile(kServerFileName) != 0) return false;
  std::FILE *fp = OpenServerFile(kServerFileName);
  if (!fp) return false;
  bool ok = true;
  for (int n = 1; n <= kServerRecords && ok; ++n) {
    ServerRec rec;
    (void)initServerRec(&rec, AREA);
    rec.Status = Active;
    AreaServerStruct &a = rec.ServerData.Area;
    a.bRange = a.eRange = a.currentNum = (n - 1) % 9 + 1;
    std::snprintf(a.Descriptor, sizeof a.Descriptor, "SERIES%03d", n);
    std::snprintf(a.Group, sizeof a.Group, "GRP%d", n % 7);
    std::snprintf(a.dataSource, sizeof a.dataSource, "SAT%d", n % 5);
    ok = WriteServerFile(n, &rec, fp) == 0;
  }
  std::fclose(fp);
  for (int number = 1; number <= 9 && ok; ++number) ok = WriteAreaFile(number);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 200;
  if (argc > 1) {
    std::string_view arg = argv[1];
    if (std::from_chars(arg.data(), arg.data() + arg.size(), runs).ec != std::errc() || runs < 1) return 2;
  }
  std::string bin = VARNEK_BIN_DIR;
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  unsetenv("TVREDIRECT");
  char dir[] = "/tmp/varnek-server-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;
  setenv("TVPATH", dir, 1);
  setenv("HOME", dir, 1);
  if (!MakeFullFile()) {
    std::fprintf(stderr, "server_bench: cannot set up %s\n", dir);
    return 2;
  }

  std::string fpath = std::string("FPATH=") + dir;
  const std::vector<std::vector<std::string>> commands = {
      {"/bin/cat", kServerFileName},
      {"/bin/cat", kServerFileName, "AREA0001", "AREA0002", "AREA0003", "AREA0004", "AREA0005", "AREA0006",
       "AREA0007", "AREA0008", "AREA0009"},
      {bin + "/vks", "INVOKE", "1", "2", "3", "4", "5", "6", "7", "8", "9", "TYPE=AREA", "MULTI=ON", fpath},
      {bin + "/vks", "LIST", "1", "200"}};
  std::vector<double> m = bench::InterleavedMedians(commands, runs);
  double floor = m[0], headers = m[1], invoke = m[2], list = m[3];
  std::printf("server commands on a full availability file, median of %d runs each\n", runs);
  std::printf("  cat VKServerFile (floor)             %8.1f us\n", floor);
  std::printf("  cat VKServerFile AREA0001..9 (floor) %8.1f us\n", headers);
  std::printf("  vks INVOKE 1..9 TYPE=AREA MULTI      %8.1f us   ratio %.2f to cat, %.2f to cat with headers\n",
              invoke, invoke / floor, invoke / headers);
  std::printf("  vks LIST 1 200                       %8.1f us   ratio %.2f\n", list, list / floor);

  const char *files[] = {kServerFileName, "AREA0001", "AREA0002", "AREA0003", "AREA0004",
                         "AREA0005", "AREA0006", "AREA0007", "AREA0008", "AREA0009"};
  for (const char *f : files) unlink(f);
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
