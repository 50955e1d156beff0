// The server list: CREATESERVER, SETSERVER, LISTSERVERS, and the lookup of
// a group's routed address in the host's route table.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/client.h"
#include "host/host.h"

namespace {

// CREATESERVER (blank entry first) and SETSERVER.
void ChangeServerListRec(bool create) {
  int number = 1;
  if (!ValidateArgs1(&number, kServerListRecords)) return;
  DBase file;
  if (OpenVarnekDB(&file, kServerListFile, kServerListFileText)) {
    if (create) {
      ServerListRec blank;
      std::memset(&blank, 0, sizeof blank);
      blank.Version = 2;
      (void)DBWrite(&file, number, &blank);
    }
    UpdateServerListRec(&file, number);
    DBClose(&file);
  }
  if (verbose) std::printf(create ? "Created ServerList Record ...\n" : "ServerList Record Modified...\n");
}

}  // namespace

void CreateServerListRec() { ChangeServerListRec(true); }
void SetServerListRec() { ChangeServerListRec(false); }

void UpdateServerListRec(DBase *ServerListFile, int Pointer) {
  ServerListRec r;
  (void)ReadServerListRec(ServerListFile, Pointer, &r);
  // Only the two availability formats the cycle can read are stored.
  int version = r.Version;
  if (Tvcmdint("VERSION", 1, "Integer Value", r.Version, 1, 2, &version) >= 0) r.Version = version;
  bool refused = GetStrArg("NAME", r.Name, r.Name) == kValueTooLong;
  refused = GetStrArg("ADDRESS", r.Address, r.Address) == kValueTooLong || refused;
  refused = GetStrArg("GROUP", r.group, r.group) == kValueTooLong || refused;
  if (refused) return;
  if (r.group[0] == '\0') {
    std::printf("GROUP has to be set to a data group serverd by the machine.\n");
    return;
  }
  (void)DBWrite(ServerListFile, Pointer, &r);
}

void ListServerListFile() {
  int first = 1, last = 1;
  if (!ValidateArgs2(&first, &last, kServerListRecords)) return;
  std::printf("SET VER GROUP NAME ...         ADDRESS ...\n");
  DBase file;
  if (!OpenVarnekDB(&file, kServerListFile, kServerListFileText)) return;
  for (int n = first; n <= last; ++n) {
    ServerListRec r;
    (void)ReadServerListRec(&file, n, &r);
    std::printf("%3d %3d %-5s %-16s %s\n", n, r.Version, r.group, r.Name, r.Address);
  }
  DBClose(&file);
}

char *GetIP(const char *Group, char *IP) {
  constexpr std::size_t kRoom = 20;
  IP[0] = '\0';
  const char *home = std::getenv("HOME");
  char path[128];
  int n = std::snprintf(path, sizeof path, "%s/tavrin/data/TVTABLE.TXT", home ? home : "$HOME");
  std::FILE *table = home && n > 0 && static_cast<std::size_t>(n) < sizeof path ? std::fopen(path, "r") : nullptr;
  if (!table) {
    if (verbose > 1) std::printf("Fail to open %s for read\n", path);
    std::exit(1);
  }
  const std::string wanted = std::string("QOLA_ROUTE_") + Group;
  char line[256];
  bool continuation = false;  // the rest of a line longer than the buffer
  while (std::fgets(line, sizeof line, table)) {
    bool whole = std::strchr(line, '\n') != nullptr;
    bool part = continuation;
    continuation = !whole;
    if (part) continue;
    std::size_t key_end = std::strcspn(line, "=\n");
    if (std::string(line, key_end) != wanted) continue;
    if (line[key_end] == '=') {
      const char *value = line + key_end + 1;
      std::size_t length = std::strcspn(value, "=\n");
      if (length > kRoom - 1) length = kRoom - 1;
      std::memcpy(IP, value, length);
      IP[length] = '\0';
    }
    break;
  }
  std::fclose(table);
  return IP;
}
