// The client's verbose-level file "VKCVerboseLevel" and the VERBOSE command.

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// Reads a level as "%d" would: leading white space, an optional sign and
// digits.  Text that is not a number, or a number beyond int, leaves the
// level unchanged.  Only the first few bytes of the file are read.
void ReadLevel(int fd, int &level) {
  char text[64] = {};
  ssize_t n = posix::ReadSome(fd, text, sizeof text - 1);
  std::string_view s(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc() && end != s.data()) level = value;
}

// Writes the level as "%d\n" (the file is replaced whole, so it never holds
// half a number).  kClientFailed after the message when it cannot be stored.
int WriteLevel(int level) {
  char text[16];
  int length = std::snprintf(text, sizeof text, "%d\n", level);
  posix::Op failed = posix::Op::kCount;
  int rc = posix::ReplaceFile(
      kVerboseFile, 0666,
      [&](int fd) { return posix::WriteAll(fd, text, static_cast<std::size_t>(length)); }, &failed);
  if (rc == 0) return kClientOk;
  if (failed == posix::Op::kCreate) std::printf("Can't open file %s for write\n", kVerboseFile);
  else Tveprintf("%s not written: %s\n", kVerboseFile, posix::ErrorText(rc).c_str());
  return kClientFailed;
}

}  // namespace

int LoadVerboseLevel() {
  struct stat st;
  if (lstat(kVerboseFile, &st) != 0) return WriteLevel(verbose);
  posix::File file;
  if (posix::OpenRegular(kVerboseFile, O_RDONLY, file) != 0) {
    std::printf("Can't open file %s for read\n", kVerboseFile);
    return kClientFailed;
  }
  ReadLevel(file.fd(), verbose);
  return kClientOk;
}

int SetVerboseLevel() {
  if (Tvcmdnum("") < 2) {
    std::printf("Current verbose level: %d\n", verbose);
    return kClientOk;
  }
  int level = 1;
  if (Tvcmdnum("") > 2) return kClientUsage;
  if (Tvcmdint("", 2, "Invalid 2nd Positional Argument", 1, 0, 2, &level) < 0) return kClientUsage;
  verbose = level;
  return WriteLevel(level);
}
