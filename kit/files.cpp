// Dates, times and whole-file writing shared by the kit's parts.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "kit/kit.h"

namespace kit {
namespace {

bool LeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::string SystemError(const std::string &path, const char *what, int saved_errno) {
  return path + ": " + what + ": " + std::strerror(saved_errno);
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
  std::string temp = path + ".tmpXXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = SystemError(temp, "cannot create", errno);
    return false;
  }
  const char *at = static_cast<const char *>(bytes);
  std::size_t left = size;
  const char *failed = nullptr;
  int saved = 0;
  if (fchmod(fd, 0644) != 0) {
    failed = "cannot set mode";
    saved = errno;
  }
  while (!failed && left > 0) {
    ssize_t n = write(fd, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = "cannot write";
      saved = n < 0 ? errno : EIO;
      break;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  if (!failed && fsync(fd) != 0) {
    failed = "cannot sync";
    saved = errno;
  }
  if (close(fd) != 0 && !failed) {
    failed = "cannot close";
    saved = errno;
  }
  if (!failed && rename(temp.c_str(), path.c_str()) != 0) {
    error = SystemError(path, "cannot rename into place", errno);
    unlink(temp.c_str());
    return false;
  }
  if (failed) {
    error = SystemError(temp, failed, saved);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace kit
