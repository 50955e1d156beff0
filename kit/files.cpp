// Dates, times and whole-file writing shared by the kit's parts.

#include <cstring>
#include <string>

#include "kit/kit.h"
#include "posix/posix.h"

namespace kit {
namespace {

constexpr mode_t kFileMode = 0644;

bool LeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::string SystemError(const std::string &path, const char *what, int error) {
  return path + ": " + what + ": " + posix::ErrorText(error);
}

}  // namespace

bool ValidDate(int ccyyddd) {
  int year = ccyyddd / 1000, day = ccyyddd % 1000;
  if (ccyyddd <= 0 || year < 1 || year > 9999) return false;
  return day >= 1 && day <= (LeapYear(year) ? 366 : 365);
}

bool ValidTime(int hhmmss) {
  return hhmmss >= 0 && hhmmss / 10000 <= 23 && hhmmss / 100 % 100 <= 59 && hhmmss % 100 <= 59;
}

bool WriteWholeFile(const std::string &path, const void *bytes, std::size_t size, std::string &error) {
  if (path.empty() || path.back() == '/') {
    error = "'" + path + "': not a file name";
    return false;
  }
  // The kit's files are 0644 whatever the umask or the file they replace;
  // a link at `path` is replaced, never written through.
  const char *failed = nullptr;
  posix::Op step = posix::Op::kCount;
  const int rc = posix::ReplaceFile(
      path.c_str(), kFileMode,
      [&](int fd) {
        if (!posix::SetMode(fd, kFileMode)) {
          failed = "cannot set mode";
          return false;
        }
        return posix::WriteAll(fd, bytes, size);
      },
      &step, posix::Links::kReplace);
  if (rc == 0) return true;
  if (!failed) {
    switch (step) {
      case posix::Op::kCreate: failed = "cannot create"; break;
      case posix::Op::kWrite: failed = "cannot write"; break;
      case posix::Op::kSync: failed = "cannot sync"; break;
      default: failed = "cannot rename into place"; break;
    }
  }
  error = SystemError(path, failed, rc);
  return false;
}

}  // namespace kit
