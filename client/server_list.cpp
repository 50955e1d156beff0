// The server list: CREATESERVER, SETSERVER, LISTSERVERS, and the lookup of
// a group's routed address in the host's route table.

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/client.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// The blank entry CREATESERVER starts from.
ServerListRec BlankEntry() {
  ServerListRec blank;
  std::memset(&blank, 0, sizeof blank);
  blank.Version = 2;
  return blank;
}

// Applies VERSION, NAME, ADDRESS and GROUP to `r` in memory.  false when a
// value is refused (its message has been printed): the entry must then stay
// exactly as it was.
bool ApplyServerListKeywords(ServerListRec &r) {
  // Only the two availability formats the cycle can read are stored.
  int version = r.Version;
  bool accepted = Tvcmdint("VERSION", 1, "Integer Value", r.Version, 1, 2, &version) >= 0;
  if (accepted) r.Version = version;
  accepted = GetStrArg("NAME", r.Name, r.Name) >= 0 && accepted;
  accepted = GetStrArg("ADDRESS", r.Address, r.Address) >= 0 && accepted;
  accepted = GetStrArg("GROUP", r.group, r.group) >= 0 && accepted;
  return accepted;
}

void GroupMissing() { std::printf("GROUP has to be set to a data group serverd by the machine.\n"); }

// CREATESERVER and SETSERVER.  The entry is built in memory and written
// once: a refused value leaves it exactly as it was and no closing line is
// printed.  CREATESERVER without a GROUP leaves the blank entry, as it
// always has.
int ChangeServerListRec(bool create) {
  int number = 1;
  if (!ValidateArgs1(&number, kServerListRecords)) return kClientUsage;
  DBase file;
  int status = kClientFailed;  // the file cannot be opened
  if (OpenVarnekDB(&file, kServerListFile, kServerListFileText)) {
    ServerListRec r;
    if (create) r = BlankEntry();
    else (void)ReadServerListRec(&file, number, &r);
    int rc = kClientOk;
    if (!ApplyServerListKeywords(r)) {
      rc = kClientRefused;
    } else if (r.group[0] == '\0') {
      GroupMissing();
      if (create) {
        ServerListRec blank = BlankEntry();
        rc = WriteServerListRec(&file, number, &blank);
      } else {
        rc = kClientRefused;
      }
    } else {
      rc = WriteServerListRec(&file, number, &r);
    }
    CloseVarnekDB(&file);
    if (rc != kClientOk) return rc;
    // An entry created without a group is written blank, and refused.
    status = r.group[0] == '\0' ? kClientRefused : kClientOk;
  }
  // The closing line follows a failed open too, as it always has.
  if (verbose) std::printf(create ? "Created ServerList Record ...\n" : "ServerList Record Modified...\n");
  return status;
}

}  // namespace

int CreateServerListRec() { return ChangeServerListRec(true); }
int SetServerListRec() { return ChangeServerListRec(false); }

int UpdateServerListRec(DBase *ServerListFile, int Pointer) {
  ServerListRec r;
  (void)ReadServerListRec(ServerListFile, Pointer, &r);
  if (!ApplyServerListKeywords(r)) return kClientRefused;
  if (r.group[0] == '\0') {
    GroupMissing();
    return kClientRefused;
  }
  return WriteServerListRec(ServerListFile, Pointer, &r);
}

int ListServerListFile() {
  int first = 1, last = 1;
  if (!ValidateArgs2(&first, &last, kServerListRecords)) return kClientUsage;
  std::printf("SET VER GROUP NAME ...         ADDRESS ...\n");
  DBase file;
  if (!OpenVarnekDBForRead(&file, kServerListFile, kServerListFileText)) return kClientFailed;
  for (int n = first; n <= last; ++n) {
    ServerListRec r;
    (void)ReadServerListRec(&file, n, &r);
    std::printf("%3d %3d %-5s %-16s %s\n", n, r.Version, r.group, r.Name, r.Address);
  }
  return kClientOk;
}

std::string RouteTable::Lookup(std::string_view group) const {
  for (const auto &[name, address] : routes)
    if (name == group) return address;
  return "";
}

void ParseRouteTable(std::string_view text, RouteTable &table) {
  constexpr std::size_t kRoom = 20;       // an address is cut to 19 characters
  constexpr std::size_t kLineRoom = 254;  // what a line buffer of 256 takes
  constexpr std::string_view kPrefix = "QOLA_ROUTE_";
  table.routes.clear();
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // Of a line longer than the buffer, the rest is never read as a line.
    if (line.size() > kLineRoom) line = line.substr(0, kLineRoom);
    std::size_t key_end = line.find('=');
    std::string_view key = line.substr(0, key_end);
    if (key.substr(0, kPrefix.size()) != kPrefix) continue;
    std::string group(key.substr(kPrefix.size()));
    bool known = false;
    for (const auto &route : table.routes) known = known || route.first == group;
    if (known) continue;  // the first line of a group wins
    std::string address;
    if (key_end != std::string_view::npos) {
      std::string_view value = line.substr(key_end + 1);
      address = std::string(value.substr(0, std::min(value.find('='), kRoom - 1)));
    }
    table.routes.emplace_back(std::move(group), std::move(address));
  }
}

int LoadRouteTable(RouteTable &table, std::string &path) {
  constexpr std::size_t kMostBytes = 1u << 20;
  table.routes.clear();
  const char *home = std::getenv("HOME");
  path = std::string(home ? home : "$HOME") + "/tavrin/data/TVTABLE.TXT";
  posix::File file;
  if (!home || path.size() > 127 || posix::OpenRegular(path.c_str(), O_RDONLY, file) != 0) return kClientFailed;
  std::string text(kMostBytes, '\0');
  ssize_t got = posix::ReadSome(file.fd(), text.data(), text.size());
  if (got < 0) return kClientFailed;
  text.resize(static_cast<std::size_t>(got));
  ParseRouteTable(text, table);
  return kClientOk;
}

int GetIP(const char *Group, char *IP) {
  IP[0] = '\0';
  RouteTable table;
  std::string path;
  if (LoadRouteTable(table, path) != kClientOk) {
    if (verbose > 1) std::printf("Fail to open %s for read\n", path.c_str());
    return kClientFailed;
  }
  std::string address = table.Lookup(Group ? Group : "");
  std::memcpy(IP, address.c_str(), address.size() + 1);
  return kClientOk;
}
