// Cost of the operations log against the raw system calls underneath.
//
//   append: logwriter_ per entry (open, lock, block read and write, entry
//           write, unlock, close) against one pread and two pwrite calls
//           on an open descriptor of the same file;
//   scan:   a full time-ordered listing of a wrapped 10,000-entry log
//           (printed to /dev/null) against 10,000 pread calls of 240 bytes.
//
//   log_bench [entries]        (default 20000)

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Logfile/Logfile.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  int entries = argc > 1 ? std::atoi(argv[1]) : 20000;
  char dir[] = "/tmp/varnek-logbench-XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 2;

  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < entries; ++i)
    if (logwriter_(kClientLogFile, kClientProgramName, "Exec", "I", "RASDUP AREA/G8.1 LOC/G8.3 SIZE=SAME") != 0)
      return 3;
  double append = Seconds(start);

  int fd = open(kClientLogFile, O_RDWR);
  char record[240] = {};
  std::int32_t block[2] = {0, 0};
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < entries; ++i) {
    if (pread(fd, block, 8, 12) != 8) return 4;
    if (pwrite(fd, block, 8, 12) != 8) return 4;
    if (pwrite(fd, record, 240, 20 + 240 * (1 + i % 10000)) != 240) return 4;
  }
  double append_floor = Seconds(start);

  start = std::chrono::steady_clock::now();
  for (int i = 1; i <= 10000; ++i)
    if (pread(fd, record, 240, 20 + 240 * i) != 240) return 5;
  double scan_floor = Seconds(start);
  close(fd);

  LOGFILE_TYPE log;
  if (Open_Logfile(&log, kClientLogFile) != 0) return 6;
  std::fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  start = std::chrono::steady_clock::now();
  (void)Display_Whole_Logfile(log);
  std::fflush(stdout);
  double scan = Seconds(start);
  dup2(saved, 1);
  (void)Logfile_Close(&log);

  std::printf("operations log, %d entries appended, 10000 scanned\n", entries);
  std::printf("  append: logwriter_ %8.0f entries/s   floor %8.0f/s   ratio %.1f\n", entries / append,
              entries / append_floor, append / append_floor);
  std::printf("  scan:   listing    %8.2f ms          floor %8.2f ms  ratio %.1f\n", scan * 1e3,
              scan_floor * 1e3, scan / scan_floor);
  unlink(kClientLogFile);
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
