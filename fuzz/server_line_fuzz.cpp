// Fuzz target for the availability-file record reader and writer.
//
// Each input is taken as one 394-character line (cut, or filled with
// blanks) and stored as record 1 of a scratch availability file.  Whatever
// ReadServerFile makes of it must go back through WriteServerFile as
// exactly 394 characters (the line feed after it untouched) and read back
// to the same record.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "AvailFile/AvailFile.h"

namespace {

std::FILE *ScratchFile() {
  static std::FILE *fp = [] {
    std::FILE *f = std::tmpfile();
    if (!f) __builtin_trap();
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
  }();
  return fp;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The reader reports unknown types on standard output.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::FILE *fp = ScratchFile();
  int fd = fileno(fp);
  std::string line(kServerLineBytes, ' ');
  std::memcpy(line.data(), data, size < kServerLineChars ? size : kServerLineChars);
  line[kServerLineChars] = '\n';
  if (ftruncate(fd, 0) != 0 || pwrite(fd, line.data(), line.size(), 0) != kServerLineBytes) __builtin_trap();

  ServerRec first;
  if (ReadServerFile(1, &first, fp) != 0) return 0;  // a type outside 1..4
  if (WriteServerFile(1, &first, fp) != 0) __builtin_trap();

  char written[kServerLineBytes + 1];
  if (pread(fd, written, sizeof written, 0) != kServerLineBytes || written[kServerLineChars] != '\n')
    __builtin_trap();

  ServerRec again;
  if (ReadServerFile(1, &again, fp) != 0) __builtin_trap();
  if (std::memcmp(&first, &again, sizeof first) != 0) __builtin_trap();
  return 0;
}
