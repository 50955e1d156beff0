// VKC BACKGROUND (BG) and VKC OFF: the repeating cycle and its marker file
// VKBackGround, which holds the loop's process number while a loop is
// meant to run.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

constexpr const char *kMarkerFile = "VKBackGround";
constexpr const char *kStartText = "VARNEK-II - Starting Background Job ... ";
constexpr const char *kStopText = "VARNEK-II is shuting down ...";
constexpr int kMostMinutes = 35791;  // the longest pause whose milliseconds fit in an int

// The process number the marker holds, as "%d" reads it; 0 for a marker that
// holds none (empty, text, 0 or below), which is stale: never probed or
// signalled.  false when the marker cannot be opened for reading.
bool ReadMarker(pid_t &pid) {
  pid = 0;
  posix::File file;
  if (posix::OpenRegular(kMarkerFile, O_RDONLY, file) != 0) return false;
  char text[64] = {};
  ssize_t n = posix::ReadSome(file.fd(), text, sizeof text - 1);
  std::string_view rest(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!rest.empty() && isLineBlank(rest.front())) rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  (void)end;
  if (ec == std::errc() && value > 0 && value <= INT32_MAX) pid = static_cast<pid_t>(value);
  return true;
}

bool MarkerExists() {
  posix::File file;
  return posix::OpenRegular(kMarkerFile, O_RDONLY, file) == 0;
}

}  // namespace

int ClientBGJob() {
  int minutes = 5;
  if (Tvcmdint(" ", 2, "Integer Value", 5, 1, 0, &minutes) < 0) return kClientOk;
  // Bounded, never overflowed; 0 or below runs the cycles back to back.
  if (minutes > kMostMinutes) minutes = kMostMinutes;
  const int sleep_ms = minutes > 0 ? minutes * 60000 : 0;

  pid_t pid = 0;
  if (ReadMarker(pid)) {
    if (verbose > 0) std::printf("Check whether background job is already running...\n");
    if (posix::ProcessExists(pid)) {
      if (verbose > 0) std::printf("VARNEK-II - Already In Background ...\n");
      return kClientOk;
    }
    if (verbose > 0) {
      std::printf("%s file exists but the background process is dead.\n", kMarkerFile);
      std::printf("Please run 'VKC BG' again to restart the Varnek II.\n");
    }
    (void)posix::Unlink(kMarkerFile);
    return kClientOk;
  }

  if (verbose > 0) std::printf("%s\n", kStartText);
  LogEntry("ClientBGJob", kStartText);
  char line[32];
  int length = std::snprintf(line, sizeof line, "%d\n", static_cast<int>(getpid()));
  if (int rc = posix::ReplaceFile(kMarkerFile, 0666, [&](int fd) {
        return posix::WriteAll(fd, line, static_cast<std::size_t>(length));
      });
      rc != 0) {
    // Without its marker the loop could never be stopped: it does not start.
    Tveprintf("%s cannot be created: %s; the background job does not start.\n", kMarkerFile,
              posix::ErrorText(rc).c_str());
    return kClientFailed;
  }

  // A cycle that fails (no route table, no client file) never ends the loop:
  // the next one runs after the pause.
  while (MarkerExists()) {
    if (verbose > 1) std::printf("VARNEK Crawling ...\n");
    (void)Cycle();
    Tvsleep(sleep_ms);
  }
  if (verbose > 0) std::printf("VARNEK dead ...\n");
  return kClientOk;
}

int ClientBGOff() {
  pid_t pid = 0;
  if (!ReadMarker(pid)) {
    if (verbose > 0) std::printf("VARNEK-II - Is not currently running ...\n");
    return kClientOk;
  }
  if (verbose > 0) std::printf("%s\n", kStopText);
  LogEntry("ClientBGOff", kStopText);
  if (posix::ProcessExists(pid)) {
    if (posix::SignalProcess(pid, SIGKILL) != 0) {
      int error = errno;
      if (verbose > 0) {
        std::printf("Cannot kill the process %d\n", static_cast<int>(pid));
        Tveprintf("VKC BG OFF: %s\n", posix::ErrorText(error).c_str());
      }
    } else if (verbose > 0) {
      std::printf("Varnek II background process killed.\n");
    }
  } else if (verbose > 0) {
    std::printf("Varnek II background process was not running.\n");
  }
  (void)posix::RunShell("rm VKBackGround");
  return kClientOk;
}
