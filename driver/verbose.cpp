// The client's verbose level, its file "VKCVerboseLevel" and the VERBOSE
// command; the shared word tables.

#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/driver.h"
#include "host/host.h"

const char *const StatusTypesText[4] = {"INACTIVE", "ACTIVE", "SUSPEND", "XENDX"};
const char *const FileTypesText[6] = {"UNKNOWN", "AREA", "MD", "GRID", "TEXT", "XENDX"};

int verbose = 1;

namespace {

// Reads a level as "%d" would: leading white space, an optional sign and
// digits.  Text that is not a number, or a number beyond int, leaves the
// level unchanged.
void ReadLevel(std::FILE *file, int &level) {
  char text[64] = {};
  std::size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::string_view s(text, n);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc() && end != s.data()) level = value;
}

// Writes the level as "%d\n"; 1 after the message when the file cannot be
// created.
int WriteLevel(int level) {
  std::FILE *file = std::fopen(kVerboseFile, "w");
  if (!file) {
    std::printf("Can't open file %s for write\n", kVerboseFile);
    return 1;
  }
  std::fprintf(file, "%d\n", level);
  return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int LoadVerboseLevel() {
  struct stat st;
  if (stat(kVerboseFile, &st) == 0) {
    std::FILE *file = std::fopen(kVerboseFile, "r");
    if (!file) {
      std::printf("Can't open file %s for read\n", kVerboseFile);
      return 1;
    }
    ReadLevel(file, verbose);
    std::fclose(file);
    return 0;
  }
  return WriteLevel(verbose);
}

void SetVerboseLevel() {
  if (Tvcmdnum("") < 2) {
    std::printf("Current verbose level: %d\n", verbose);
    return;
  }
  int level = 1;
  if (Tvcmdint("", 2, "Invalid 2nd Positional Argument", 1, 0, 2, &level) < 0) return;
  verbose = level;
  if (WriteLevel(level) != 0) std::exit(1);
}
