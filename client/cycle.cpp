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

// Step 1 of the cycle: whether another cycle still runs (then the message
// has been printed and this one must not start).  A recorded cycle that is
// gone, or older than the age limit (then killed), is taken over.  A lock
// file whose process number is 0, negative, not a number or this
// process's own is stale: no process is probed or signalled for it.
bool AnotherCycleRuns() {
  struct stat st;
  if (lstat(kCyclePidFile, &st) != 0) return false;
  std::int64_t recorded[2] = {0, 0};
  bool readable = ReadNumbers(kCyclePidFile, recorded, 2) == 2;
  std::int64_t limit = kCycleMaxAgeSeconds;
  std::int64_t configured = 0;
  if (ReadNumbers(kCycleMaxTimeFile, &configured, 1) == 1) limit = configured;
  pid_t pid = readable && recorded[0] > 0 && recorded[0] <= INT32_MAX ? static_cast<pid_t>(recorded[0]) : 0;
  if (!posix::ProcessExists(pid)) {
    Tveprintf("Check using kill failed: %s\n", posix::ErrorText(errno).c_str());
    return false;
  }
  if (tv::Now() - recorded[1] <= limit) {
    std::printf("VKC cycle still running, no need to start another cycle\n");
    return true;
  }
  if (posix::SignalProcess(pid, SIGKILL) != 0) Tveprintf("Kill process failed: %s\n", posix::ErrorText(errno).c_str());
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
  if (entry.Version == 1) return CompareV1() == kClientOk;
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
  return CompareV2(ip.c_str(), entry.Address, routes) == kClientOk;
}

}  // namespace

int Cycle() {
  if (AnotherCycleRuns()) return kClientOk;
  char pid_line[64];
  int length = std::snprintf(pid_line, sizeof pid_line, "%ld %ld\n", static_cast<long>(getpid()),
                             static_cast<long>(tv::Now()));
  if (posix::ReplaceFile(kCyclePidFile, 0666, [&](int fd) {
        return posix::WriteAll(fd, pid_line, static_cast<std::size_t>(length));
      }) != 0) {
    std::printf("Cannot write to VKCPid file\n");
    return kClientFailed;
  }

  int result = kClientOk;
  health::BeginPass(tv::Now());
  DBase list;
  if (OpenVarnekDBForRead(&list, kServerListFile, kServerListFileText)) {
    for (int n = 0; n <= kServerListRecords; ++n) {
      ServerListRec entry;
      if (ReadServerListRec(&list, n, &entry) != 0) continue;
      if (entry.Address[0] == '\0' || entry.group[0] == '\0') continue;
      health::BeginServer(n, entry, tv::Now());
      if (!CompareServer(entry)) result = kClientFailed;
    }
    CloseVarnekDB(&list);
  }
  // The health file is a report of the pass: its failure is reported, and
  // the pass's own status stands.
  (void)health::EndPass(result, tv::Now());
  (void)posix::Unlink(kCyclePidFile);
  if (verbose > 0) std::printf("Complete cycle transfer ...\n");
  return result;
}
