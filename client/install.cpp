// INSTALL, UNINSTALL and TRANSFER, and the availability fetch they share
// with the cycle.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "client/client.h"
#include "client/command_lines.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// Runs a shell command line; output already printed comes first.
void Shell(const char *command) { (void)posix::RunShell(command); }

void SetGroupId(const char *file) {
  struct stat st;
  if (stat(file, &st) == 0) (void)chmod(file, st.st_mode | 02000);
}

// Writes a script whole (under a temporary name, then renamed; a link of
// that name is replaced, never written through).
bool WriteScript(const char *name, const char *text) {
  return posix::ReplaceFile(
             name, 0666, [text](int fd) { return posix::WriteAll(fd, text, std::strlen(text)); }, nullptr,
             posix::Links::kReplace) == 0;
}

// Creates one record file of `count` empty records; kClientFailed after a
// message when it cannot be created.
int CreateRecordFile(const char *name, int size, int count) {
  int error = 0;
  if (DBInit(name, size, count, &error) == 0) return kClientOk;
  Tveprintf("INSTALL: cannot create %s: %s\n", name, posix::ErrorText(error).c_str());
  return kClientFailed;
}

}  // namespace

int InstallClient() {
  if (CreateRecordFile(kClientFile, sizeof(ClientRec), kClientRecords) != kClientOk ||
      CreateRecordFile(kServerListFile, sizeof(ServerListRec), kServerListRecords) != kClientOk)
    return kClientFailed;
  SetGroupId(kClientFile);
  SetGroupId(kServerListFile);

  int result = kClientOk;
  // The availability fetch by hand: the transfer script below does the
  // work, after the old COMPARE (file or link) is gone, so a fetch never
  // writes through a link and a failed one leaves no table behind.
  if (WriteScript("VKGetWSAvail", R"script(#!/bin/sh
# VKGetWSAvail host file: fetches tavrin/data/file of the server's ftp
# account into COMPARE; status 1, and no COMPARE, unless it came whole.
rm -f COMPARE
exec ./VKTransfer "$1" "./tavrin/data/$2" COMPARE
)script")) {
    Shell("chmod +x VKGetWSAvail");
    struct stat st;
    if (stat("COMPARE", &st) == 0 && st.st_size == 0) {
      sleep(5);
      Shell("chmod +x VKGetWSAvail");
    }
  } else {
    std::printf("ERROR Installing FTP WS command file\n");
    result = kClientFailed;
  }

  // The ftp client ends 0 after a refused or cut transfer, so the transfer
  // script judges by the client's replies (its comment lines say how).
  if (WriteScript("VKTransfer", R"script(#!/bin/sh
# VKTransfer host remote local: fetches the server's file remote into local.
# The file comes under a temporary name beside local and takes its place
# only when the server confirmed the transfer (226), refused nothing (4xx,
# 5xx) and sent the size its 150 reply states, if it states one; else local
# stays as it was and the status is 1.
part=$(mktemp "$3.part.XXXXXX") || exit 1
replies=$(ftp -v $1 2>&1 <<EOF | grep '^[1-5][0-9][0-9] ' | grep -v ' bytes received in '
get $2 $part
close
bye
EOF
)
size=$(echo "$replies" | sed -n 's/^150 .*(\([0-9]*\) bytes).*/\1/p')
if echo "$replies" | grep -q '^226 ' && ! echo "$replies" | grep -q '^[45]' &&
   { [ -z "$size" ] || [ "$size" -eq "$(wc -c < "$part")" ]; } && mv -f "$part" "$3"; then
  exit 0
fi
rm -f "$part"
exit 1
)script")) {
    Shell("chmod +x VKTransfer");
  } else {
    if (verbose) std::printf("ERROR Installing Transfer Script Program\n");
    result = kClientFailed;
  }
  // A script that could not be installed makes the whole INSTALL a failure:
  // its message stands, and no success line follows it.
  if (result == kClientOk && verbose > 0) std::printf("Install complete ...\n");
  return result;
}

int UnInstallClient() {
  for (const char *command : {"rm VKClientFile", "rm VKServerListTable", "rm VKLogFile", "rm VKGetWSAvail",
                              "rm VKBackGround", "rm davarnek", "rm VKServerFile", "rm VKTransfer",
                              "rm VKCVerboseLevel"})
    Shell(command);
  if (verbose) std::printf("UnInstall complate ...\n");
  return kClientOk;
}

int QOLAreadAvailFile(const char *group, int Version) {
  const char *format = Version == 1 ? "WAITCAP 30 PEEKTX %s/DAVARNEK_Y2K DEV=T %s"
                       : Version == 2 ? "WAITCAP 30 PEEKTX %s/VKS DEV=T %s"
                                      : nullptr;
  if (!format) {
    if (verbose > 0) std::printf("Unknown VARNEK version number ...\n");
    return kTvKeyinFailed;
  }
  const std::string cmd = command_lines::Format(format, group, "COMPARE2");
  if (verbose > 1) std::printf("%s\n", cmd.c_str());
  // The fetch command writes COMPARE2 as it finds it: the old one (file or
  // link) goes first, so the fetch never writes through a link, and a
  // failed fetch never leaves the previous table to be compared again.
  (void)posix::Unlink(kCompareFile);
  return Exec(cmd.c_str());
}

int Transfer() {
  int number = 1;
  if (!ValidateArgs1(&number, kServerListRecords)) return kClientUsage;
  DBase file;
  if (!OpenVarnekDBForRead(&file, kServerListFile, kServerListFileText)) return kClientFailed;
  ServerListRec r;
  (void)ReadServerListRec(&file, number, &r);
  int status = kClientRefused;  // no address: nothing fetched
  if (r.Address[0] != '\0') status = QOLAreadAvailFile(r.group, r.Version) == 0 ? kClientOk : kClientFailed;
  else if (verbose) std::printf("Server target name not found for transfer ...\n");
  if (verbose > 1) std::printf("Transfer complete...\n");
  return status;
}
