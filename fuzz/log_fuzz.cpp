// Fuzz target for the read side of the operations log: arbitrary bytes as
// a log file, listed whole, searched and listed from the end.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Logfile/Logfile.h"

namespace {

std::string LogPath() {
  static std::string path = [] {
    char dir[] = "/tmp/varnek-logfuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    return std::string(dir) + "/VKLogFile";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static bool quiet = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
  (void)quiet;
  const std::string path = LogPath();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  close(fd);

  LOGFILE_TYPE log;
  if (Open_Logfile(&log, path.c_str()) != 0) return 0;
  (void)Display_Whole_Logfile(log);
  (void)Search_Text_in_Logfile(log, "RAS");
  (void)Search_Status_in_Logfile(log, "I");
  (void)Search_Date_in_Logfile(log, 0);
  (void)Display_Last_Records(log, size > 0 ? data[0] * 50 : 7);
  (void)Logfile_Close(&log);
  return 0;
}
