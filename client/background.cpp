// VKC BACKGROUND (BG) and VKC OFF: the repeating cycle and its marker file
// VKBackGround, which holds the loop's process number while a loop is
// meant to run.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

constexpr const char *kMarkerFile = "VKBackGround";
constexpr const char *kStartText = "VARNEK-II - Starting Background Job ... ";
constexpr const char *kStopText = "VARNEK-II is shuting down ...";
constexpr int kMostMinutes = 35791;  // the longest pause whose milliseconds fit in an int

using client_internal::Marker;
using client_internal::MarkerOwner;

// The documented check of an existing marker: a loop holds it (reported),
// or it is stale (reported and removed; no loop starts).  A marker that is
// a link or not a regular file is stale too, and only its name is removed.
void CheckExistingMarker(Marker &marker, int opened) {
  if (verbose > 0) std::printf("Check whether background job is already running...\n");
  std::int64_t pid = 0;
  if (opened == 0 && marker.Owner(&pid, 1) != MarkerOwner::kNone) {
    if (verbose > 0) std::printf("VARNEK-II - Already In Background ...\n");
    return;
  }
  if (verbose > 0) {
    std::printf("%s file exists but the background process is dead.\n", kMarkerFile);
    std::printf("Please run 'VKC BG' again to restart the Varnek II.\n");
  }
  // Removed only while nobody holds it and it still has its name: a loop
  // that started meanwhile keeps its own marker.
  if (opened != 0) (void)posix::Unlink(kMarkerFile);
  else if (marker.TakeOver(false)) marker.Remove();
}

// The datasets of the active records an announcement may wake the loop
// for (TEXT records have none: they are taken by every pass that runs).
std::vector<std::pair<std::string, std::string>> WatchedDatasets() {
  std::vector<std::pair<std::string, std::string>> out;
  DBase file;
  if (DBOpenForRead(&file, kClientFile, "") != 0) return out;
  ClientTable table(&file);
  if (table.Load())
    for (int type : {AREA, MD, GRID})
      for (int n : table.Active(type)) out.emplace_back(table.Record(n)->Group, table.Record(n)->Descriptor);
  return out;
}

}  // namespace

int ClientBGJob() {
  int minutes = 5;
  if (Tvcmdint(" ", 2, "Integer Value", 5, 1, 0, &minutes) < 0) return kClientOk;
  // Bounded, never overflowed; 0 or below runs the cycles back to back.
  if (minutes > kMostMinutes) minutes = kMostMinutes;
  const int sleep_ms = minutes > 0 ? minutes * 60000 : 0;

  // The marker appears whole and locked, or not at all: of two loops
  // started together exactly one creates it, and the other finds it held.
  Marker marker;
  const pid_t self = getpid();
  char line[32];
  int length = std::snprintf(line, sizeof line, "%d\n", static_cast<int>(self));
  int rc = EEXIST;
  for (int attempt = 0; attempt < 8 && rc == EEXIST; ++attempt) {
    rc = marker.Create(kMarkerFile, std::string(line, static_cast<std::size_t>(length)));
    if (rc != EEXIST) break;
    int opened = marker.Open(kMarkerFile);
    if (opened == ENOENT) continue;  // removed meanwhile: create it again
    CheckExistingMarker(marker, opened);
    return kClientRefused;  // no loop started by this command
  }
  if (rc != 0) {
    // Without its marker the loop could never be stopped: it does not start.
    Tveprintf("%s cannot be created: %s; the background job does not start.\n", kMarkerFile,
              posix::ErrorText(rc).c_str());
    return kClientFailed;
  }
  if (verbose > 0) std::printf("%s\n", kStartText);
  LogEntry("ClientBGJob", kStartText);

  // A cycle that fails (no route table, no client file) never ends the loop:
  // the next one runs after the pause.  The loop ends when its marker is
  // gone or no longer names it, or when a terminating signal stopped a
  // command of its cycle.  With VKNotify the pause ends early when an
  // announcement of a watched dataset comes.
  client_internal::Waker waker;
  const bool push = waker.Load();
  while (marker.StillNames(self)) {
    if (verbose > 1) std::printf("VARNEK Crawling ...\n");
    if (push) health::SetBrokers(waker.Health());
    (void)Cycle();
    if (posix::TerminationSignal() != 0) break;
    if (push) {
      waker.Watch(WatchedDatasets());
      (void)waker.Wait(sleep_ms);
    } else {
      Tvsleep(sleep_ms);
    }
  }
  if (posix::TerminationSignal() != 0) return kClientFailed;
  if (verbose > 0) std::printf("VARNEK dead ...\n");
  return kClientOk;
}

int ClientBGOff() {
  Marker marker;
  int opened = marker.Open(kMarkerFile);
  if (opened == ENOENT) {
    if (verbose > 0) std::printf("VARNEK-II - Is not currently running ...\n");
    return kClientOk;
  }
  if (verbose > 0) std::printf("%s\n", kStopText);
  LogEntry("ClientBGOff", kStopText);
  // Only the loop the kernel names as the marker's holder, and only when
  // the marker names it too, is stopped.
  std::int64_t pid = 0;
  int status = kClientOk;
  if (opened == 0 && marker.Owner(&pid, 1) == MarkerOwner::kNamedHolder) {
    if (posix::SignalProcess(static_cast<pid_t>(pid), SIGKILL) != 0) {
      int error = errno;
      if (verbose > 0) {
        std::printf("Cannot kill the process %d\n", static_cast<int>(pid));
        Tveprintf("VKC BG OFF: %s\n", posix::ErrorText(error).c_str());
      }
      status = kClientFailed;
    } else if (verbose > 0) {
      std::printf("Varnek II background process killed.\n");
    }
  } else if (verbose > 0) {
    std::printf("Varnek II background process was not running.\n");
  }
  (void)posix::RunShell("rm VKBackGround");
  return status;
}
