// Start-up cost of the two programs started outside a host session (each
// creates and removes its own session), against a minimal C program that
// only forks and waits.  Runs the three commands interleaved and prints the
// median wall time of each and the ratios.
//
//   startup_bench [runs]        (default 400 runs of each)

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/spawn_timing.h"


int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 400;
  std::string bin = VARNEK_BIN_DIR;
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  char dir[] = "/tmp/varnek-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;

  const std::vector<std::vector<std::string>> commands = {
      {bin + "/fork_wait"}, {bin + "/vkc", "VERSION"}, {bin + "/vks", "NOSUCHWORD"}};
  std::vector<double> m = bench::InterleavedMedians(commands, runs);
  double floor = m[0], vkc = m[1], vks = m[2];
  std::printf("start-up, median of %d runs each\n", runs);
  std::printf("  fork_wait (floor)     %8.1f us\n", floor);
  std::printf("  vkc VERSION           %8.1f us   ratio %.2f\n", vkc, vkc / floor);
  std::printf("  vks <invalid word>    %8.1f us   ratio %.2f\n", vks, vks / floor);
  unlink("VKCVerboseLevel");
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
