// INSTALL, UNINSTALL and TRANSFER, and the availability fetch they share
// with the cycle.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "client/client.h"
#include "host/host.h"

namespace {

// Runs a shell command line; output already printed comes first.
void Shell(const char *command) {
  std::fflush(stdout);
  int ignored = std::system(command);
  (void)ignored;
}

void SetGroupId(const char *file) {
  struct stat st;
  if (stat(file, &st) == 0) chmod(file, st.st_mode | 02000);
}

bool WriteScript(const char *name, const char *text) {
  std::FILE *f = std::fopen(name, "w");
  if (!f) return false;
  std::fputs(text, f);
  std::fclose(f);
  return true;
}

}  // namespace

void InstallClient() {
  (void)DBInit(kClientFile, sizeof(ClientRec), kClientRecords);
  (void)DBInit(kServerListFile, sizeof(ServerListRec), kServerListRecords);
  SetGroupId(kClientFile);
  SetGroupId(kServerListFile);

  if (WriteScript("VKGetWSAvail",
                  "ftp $1 << EOF\n"
                  "get ./tavrin/data/$2 COMPARE\n"
                  "close\n"
                  "bye\n"
                  "exit\n"
                  "EOF\n")) {
    Shell("chmod +x VKGetWSAvail");
    struct stat st;
    if (stat("COMPARE", &st) == 0 && st.st_size == 0) {
      sleep(5);
      Shell("chmod +x VKGetWSAvail");
    }
  } else {
    std::printf("ERROR Installing FTP WS command file\n");
  }

  if (WriteScript("VKTransfer",
                  "ftp $1 << EOF\n"
                  "get $2 $3\n"
                  "close\n"
                  "bye\n"
                  "exit\n")) {
    Shell("chmod +x VKTransfer");
  } else if (verbose) {
    std::printf("ERROR Installing Transfer Script Program\n");
  }
  if (verbose > 0) std::printf("Install complete ...\n");
}

void UnInstallClient() {
  for (const char *command : {"rm VKClientFile", "rm VKServerListTable", "rm VKLogFile", "rm VKGetWSAvail",
                              "rm VKBackGround", "rm davarnek", "rm VKServerFile", "rm VKTransfer",
                              "rm VKCVerboseLevel"})
    Shell(command);
  if (verbose) std::printf("UnInstall complate ...\n");
}

int QOLAreadAvailFile(const char *group, int Version) {
  const char *format = Version == 1 ? "WAITCAP 30 PEEKTX %s/DAVARNEK_Y2K DEV=T %s"
                       : Version == 2 ? "WAITCAP 30 PEEKTX %s/VKS DEV=T %s"
                                      : nullptr;
  if (!format) {
    if (verbose > 0) std::printf("Unknown VARNEK version number ...\n");
    return kTvKeyinFailed;
  }
  char cmd[110];
  std::snprintf(cmd, sizeof cmd, format, group, "COMPARE2");
  if (verbose > 1) std::printf("%s\n", cmd);
  return Exec(cmd);
}

void Transfer() {
  int number = 1;
  if (!ValidateArgs1(&number, kServerListRecords)) return;
  DBase file;
  if (!OpenVarnekDB(&file, kServerListFile, kServerListFileText)) return;
  ServerListRec r;
  (void)ReadServerListRec(&file, number, &r);
  if (r.Address[0] != '\0') (void)QOLAreadAvailFile(r.group, r.Version);
  else if (verbose) std::printf("Server target name not found for transfer ...\n");
  DBClose(&file);
  if (verbose > 1) std::printf("Transfer complete...\n");
}
