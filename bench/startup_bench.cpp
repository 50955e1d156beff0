// Start-up cost of the two programs started outside a host session (each
// creates and removes its own session), against a minimal C program that
// only forks and waits.  Runs the three commands interleaved and prints the
// median wall time of each and the ratios.
//
//   startup_bench [runs]        (default 400 runs of each)

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace {

double RunOnceUs(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  std::vector<std::string> copy = args;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::exit(2);
  int status = 0;
  waitpid(pid, &status, 0);
  auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double, std::micro>(end - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 400;
  std::string bin = VARNEK_BIN_DIR;
  unsetenv("TVENV_POSUC");
  unsetenv("TVENV_NEGUC");
  char dir[] = "/tmp/varnek-bench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;

  const std::vector<std::vector<std::string>> commands = {
      {bin + "/fork_wait"}, {bin + "/vkc", "VERSION"}, {bin + "/vks", "NOSUCHWORD"}};
  std::vector<std::vector<double>> times(commands.size());
  for (int i = 0; i < 20; ++i)
    for (const auto &c : commands) RunOnceUs(c);  // warm-up
  for (int i = 0; i < runs; ++i)
    for (std::size_t c = 0; c < commands.size(); ++c) times[c].push_back(RunOnceUs(commands[c]));

  double floor = Median(times[0]);
  double vkc = Median(times[1]);
  double vks = Median(times[2]);
  std::printf("start-up, median of %d runs each\n", runs);
  std::printf("  fork_wait (floor)     %8.1f us\n", floor);
  std::printf("  vkc VERSION           %8.1f us   ratio %.2f\n", vkc, vkc / floor);
  std::printf("  vks <invalid word>    %8.1f us   ratio %.2f\n", vks, vks / floor);
  unlink("VKCVerboseLevel");
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
