// Client commands on a full client file (200 active image records) against
// the floor of reading the file once with cat, all started as programs in
// the same run: LIST 1 200 and SET of one record.  Prints the medians and
// the ratios.
//
//   client_bench [runs]        (default 200 runs of each)

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/spawn_timing.h"
#include "client/client.h"


int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  std::string bin = VARNEK_BIN_DIR;
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  char dir[] = "/tmp/varnek-clientbench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;
  if (DBInit(kClientFile, sizeof(ClientRec), kClientRecords) != 0) return 3;
  DBase db;
  if (DBOpen(&db, kClientFile, "") != 0) return 3;
  for (int n = 1; n <= kClientRecords; ++n) {
    ClientRec r = ClientDefaults(AREA);
    r.Status = Active;
    r.Data.Area.BegFrame = n;
    r.Data.Area.EndFrame = n + 3;
    if (DBWrite(&db, n, &r) != 0) return 3;
  }
  (void)DBClose(&db);

  const std::vector<std::vector<std::string>> commands = {
      {"/bin/cat", kClientFile}, {bin + "/vkc", "LIST", "1", "200"}, {bin + "/vkc", "SET", "7", "INC=15"}};
  std::vector<double> m = bench::InterleavedMedians(commands, runs);
  std::printf("client commands on 200 active image records, median of %d runs each\n", runs);
  std::printf("  cat VKClientFile (floor)  %8.1f us\n", m[0]);
  std::printf("  vkc LIST 1 200            %8.1f us   ratio %.2f\n", m[1], m[1] / m[0]);
  std::printf("  vkc SET 7 INC=15          %8.1f us   ratio %.2f\n", m[2], m[2] / m[0]);
  for (const char *f : {kClientFile, "VKCVerboseLevel"}) unlink(f);
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
