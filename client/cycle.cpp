// VKC CYCLE: one pass over every server of the server list, fetching each
// server's availability table into COMPARE2 and comparing it with the
// client records, under the cycle lock file VKCPid.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// Reads up to `count` decimal integers from a small file, as "%ld" reads
// them: blanks first, an optional sign, digits.  The number read.
int ReadNumbers(const char *name, std::int64_t *values, int count) {
  posix::File file;
  if (posix::OpenRegular(name, O_RDONLY, file) != 0) return -1;
  char text[128] = {};
  ssize_t n = posix::ReadSome(file.fd(), text, sizeof text - 1);
  std::string_view rest(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  int got = 0;
  while (got < count) {
    while (!rest.empty() && isLineBlank(rest.front())) rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), values[got]);
    if (ec != std::errc()) break;
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    ++got;
  }
  return got;
}

// The pid line of the cycle lock: this process and its start time.
std::string PidLine() {
  char line[64];
  int length = std::snprintf(line, sizeof line, "%ld %ld\n", static_cast<long>(getpid()),
                             static_cast<long>(tv::Now()));
  return std::string(line, static_cast<std::size_t>(length));
}

enum class Start { kRun, kRunning, kFailed };

Start CannotWrite(client_internal::Marker &lock) {
  lock.Remove();
  std::printf("Cannot write to VKCPid file\n");
  return Start::kFailed;
}

// Step 1 and 2 of the cycle: takes the cycle lock VKCPid for this pass.
// kRun when `lock` holds it; kRunning when another cycle runs (the message
// has been printed); kFailed after a message.  A lock file that no process
// holds is stale whatever it says and is taken over without a signal; a
// cycle that holds it is judged against the age limit, and killed past it,
// only when the file names that same process; a link or anything but a
// regular file under the name is replaced, never followed.
Start TakeCycleLock(client_internal::Marker &lock) {
  using client_internal::MarkerOwner;
  const std::string line = PidLine();
  for (int attempt = 0; attempt < 8; ++attempt) {
    int rc = lock.Create(kCyclePidFile, line);
    if (rc == 0) return Start::kRun;
    if (rc != EEXIST) break;
    rc = lock.Open(kCyclePidFile);
    if (rc == ENOENT) continue;  // removed meanwhile: create it again
    if (rc == client_internal::kMarkerNotAFile) {
      if (posix::Unlink(kCyclePidFile) != 0) break;
      continue;
    }
    if (rc != 0) break;
    std::int64_t recorded[2] = {0, 0};
    switch (lock.Owner(recorded, 2)) {
      case MarkerOwner::kNone:
        if (!lock.TakeOver(false)) continue;  // taken or removed meanwhile
        Tveprintf("Check using kill failed: %s\n", posix::ErrorText(ESRCH).c_str());
        if (!lock.Rewrite(line)) return CannotWrite(lock);
        return Start::kRun;
      case MarkerOwner::kOtherHolder:
        std::printf("VKC cycle still running, no need to start another cycle\n");
        return Start::kRunning;
      case MarkerOwner::kNamedHolder: {
        std::int64_t limit = kCycleMaxAgeSeconds;
        std::int64_t configured = 0;
        if (ReadNumbers(kCycleMaxTimeFile, &configured, 1) == 1) limit = configured;
        if (tv::Now() - recorded[1] <= limit) {
          std::printf("VKC cycle still running, no need to start another cycle\n");
          return Start::kRunning;
        }
        if (posix::SignalProcess(static_cast<pid_t>(recorded[0]), SIGKILL) != 0) {
          // It runs on, holding the lock: no second cycle may start.
          Tveprintf("Kill process failed: %s\n", posix::ErrorText(errno).c_str());
          return Start::kFailed;
        }
        if (!lock.TakeOver(true)) continue;  // the killed cycle's lock is released when it has ended
        if (!lock.Rewrite(line)) return CannotWrite(lock);
        return Start::kRun;
      }
    }
  }
  return CannotWrite(lock);
}

// Whether a fetched version-2 table is whole: an availability file is
// exactly its 200 fixed-width records, and anything else (a transfer cut
// short, a different file) is a failed fetch that nothing is compared with.
bool WholeTable(const ServerListRec &entry) {
  constexpr std::int64_t kTableBytes = std::int64_t{kServerRecords} * kServerLineBytes;
  struct stat st;
  std::int64_t size = lstat(kCompareFile, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
  if (size == kTableBytes) return true;
  std::string reason = std::string(kCompareFile) + " fetched for " + entry.group + " from " + entry.Address +
                       (size < 0 ? std::string(" is not a file") : " is " + std::to_string(size) + " bytes") +
                       ", not " + std::to_string(kTableBytes) + "; nothing compared";
  Tveprintf("%s.\n", reason.c_str());
  health::NotCompared(health::kFetchFailed, reason);
  return false;
}

// Fetches and compares one server-list entry.  false when its comparison
// could not be made for want of the route table (reported), or a changed
// record could not be written back.
bool CompareServer(const ServerListRec &entry) {
  auto start = std::chrono::steady_clock::now();
  int fetched = QOLAreadAvailFile(entry.group, entry.Version);
  health::Fetched(fetched, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  if (entry.Version != 1 && entry.Version != 2)
    health::NotCompared(health::kNotCompared, "unknown availability file version " + std::to_string(entry.Version));
  if (fetched != 0) return true;  // a failed fetch skips this server
  if (entry.Version == 2 && !WholeTable(entry)) return true;
  // A table that cannot be read is this server's failure, for the health
  // file; a client file that cannot be used ends the pass's success.
  if (entry.Version == 1) return CompareV1(entry.Address) != kClientFailed;
  if (entry.Version != 2) {
    if (verbose > 0) std::printf("Unknown VARNEK version number ...\n");
    return true;
  }
  // The route table, read once for the comparison: without it no route
  // check can be made, and the server is not compared.
  RouteTable routes;
  std::string path;
  if (LoadRouteTable(routes, path) != kClientOk) {
    std::printf("Fail to open %s for read\n", path.c_str());
    health::NotCompared(health::kNoRoute, "Fail to open " + path + " for read");
    return false;
  }
  std::string ip = routes.Lookup(entry.group);
  return CompareV2(ip.c_str(), entry.Address, routes) != kClientFailed;
}

}  // namespace

int Cycle() {
  client_internal::Marker lock;
  switch (TakeCycleLock(lock)) {
    case Start::kRun: break;
    case Start::kRunning: return kClientOk;
    case Start::kFailed: return kClientFailed;
  }

  int result = kClientOk;
  health::BeginPass(tv::Now());
  DBase list;
  if (!OpenVarnekDBForRead(&list, kServerListFile, kServerListFileText)) {
    result = kClientFailed;  // no pass without the server list
  } else {
    for (int n = 0; n <= kServerListRecords; ++n) {
      ServerListRec entry;
      if (ReadServerListRec(&list, n, &entry) != 0) continue;
      if (entry.Address[0] == '\0' || entry.group[0] == '\0') continue;
      health::BeginServer(n, entry, tv::Now());
      if (!CompareServer(entry)) result = kClientFailed;
      if (posix::TerminationSignal() != 0) break;  // the run is ending
    }
    CloseVarnekDB(&list);
  }
  // The health file is a report of the pass: its failure is reported, and
  // the pass's own status stands.
  (void)health::EndPass(result, tv::Now());
  lock.Remove();
  if (verbose > 0) std::printf("Complete cycle transfer ...\n");
  return result;
}
