// Timing of whole program runs for the benchmarks: each run is started with
// posix_spawn (standard output and standard error to /dev/null) and waited
// for.

#ifndef VARNEK_BENCH_SPAWN_TIMING_H
#define VARNEK_BENCH_SPAWN_TIMING_H

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace bench {

// Wall time of one run of args[0] (a path) in microseconds.
inline double RunOnceUs(const std::vector<std::string> &args) {
  std::vector<std::string> copy = args;
  std::vector<char *> argv;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::exit(2);
  int status = 0;
  waitpid(pid, &status, 0);
  auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double, std::micro>(end - start).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs every command `runs` times, interleaved (after a few warm-up runs),
// and returns the median time of each.
inline std::vector<double> InterleavedMedians(const std::vector<std::vector<std::string>> &commands, int runs) {
  std::vector<std::vector<double>> times(commands.size());
  for (int i = 0; i < 10; ++i)
    for (const auto &c : commands) RunOnceUs(c);
  for (int i = 0; i < runs; ++i)
    for (std::size_t c = 0; c < commands.size(); ++c) times[c].push_back(RunOnceUs(commands[c]));
  std::vector<double> medians;
  for (auto &t : times) medians.push_back(Median(t));
  return medians;
}

}  // namespace bench

#endif  // VARNEK_BENCH_SPAWN_TIMING_H
