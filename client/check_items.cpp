// The grid, point-data and text checks: whether a server's grid, MD file or
// text file is new for a client record of the same type and, when it is,
// copying it (or transferring the text file) and running the record's user
// command.  These items follow the data file's modification time.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "client/client.h"
#include "client/health.h"
#include "client/internal.h"
#include "host/host.h"
#include "posix/posix.h"

namespace {

// The time stamp of a server item: its file's modification date and time.
std::int64_t ItemStamp(const ServerRec &s) {
  std::int64_t stamp = 0;
  getTimeStamp(s.fileMdate, s.fileMtime, &stamp);
  return stamp;
}

void RunUserCommand(const ClientRec &r) {
  if (std::strcmp(r.UserCmd, "NONE") != 0) health::CommandRan(health::Command::kUser, Exec(r.UserCmd));
}

// The last-loaded fields of a record after it took a server item.
void TakeItem(ClientRec &r, std::int64_t stamp, std::int32_t item, const ServerRec &s) {
  r.LastStamp = stamp;
  r.LastItem = item;
  r.LastDate = s.fileMdate;
  r.LastTime = s.fileMtime;
}

// A server's group and descriptor may go into a command line only as plain
// words (the record's own must equal them anyway); otherwise the item is
// skipped, with a message at verbose level above 1.
bool PlainDataset(const char *group, const char *descriptor) {
  if (client_internal::IsPlainWord(group, 31) && client_internal::IsPlainWord(descriptor, 31)) return true;
  if (verbose > 1)
    std::printf("Server item %s/%s skipped: group and descriptor must be words of letters, digits and _-.\n",
                Visible(group).c_str(), Visible(descriptor).c_str());
  return false;
}

// Runs the copy of an item; true when it succeeded.  A failed copy is
// recorded for the health view, and the item is not taken: the next cycle
// tries it again.
bool Copied(const std::string &command, int item) {
  const int status = Exec(command.c_str());
  health::CommandRan(health::Command::kCopy, status);
  if (status != 0 && verbose > 1)
    std::printf("Copy of item %d failed (status %d); it is tried again next cycle.\n", item, status);
  return status == 0;
}

}  // namespace

unsigned CheckGrid(ClientRec *Client, const ServerRec &Server) {
  ClientRec &r = *Client;
  GridClientStruct &g = r.Data.Grid;
  const GridServerStruct &s = Server.ServerData.Grid;
  bool group_check = std::strcmp(r.Group, s.Group) == 0 && std::strcmp(r.Descriptor, s.Descriptor) == 0;
  if (s.currentNum < g.bServerPos || s.currentNum > g.eServerPos) return 0;
  std::int64_t stamp = ItemStamp(Server);
  if (stamp < r.LastStamp + g.Increment || !group_check || !PlainDataset(s.Group, s.Descriptor)) return 0;
  if (client_internal::IsFutureStamp(stamp)) return kFutureDated;

  char text[48];
  std::snprintf(text, sizeof text, "Loading new grid: %d", s.currentNum);
  if (verbose > 1) std::printf("%s\n", text);
  LogEntry("CheckGrid", text);

  const int target = g.Position != 0 ? g.Position : g.NxtWS - g.BegWS + 1;
  std::string copy = "MESHDUP " + std::string(r.Group) + "/" + r.Descriptor + "." + std::to_string(s.currentNum) +
                     " LOC/" + r.Descriptor + "." + std::to_string(target) + " DEL=" + (g.DestDel ? "YES" : "NO") +
                     " NUM=" + std::to_string(g.NumMatch);
  if (!Copied(copy, s.currentNum)) return 0;
  TakeItem(r, stamp, s.currentNum, Server);
  unsigned changed = kChangedLastItem;
  if (g.Position == 0) {
    g.NxtWS = client_internal::NextInRing(g.NxtWS, g.BegWS, g.EndWS);
    changed |= kChangedNextWork;
  }
  RunUserCommand(r);
  return changed;
}

unsigned CheckPnts(ClientRec *Client, const ServerRec &Server) {
  ClientRec &r = *Client;
  PntsClientStruct &p = r.Data.Pnts;
  const MdServerStruct &s = Server.ServerData.Md;
  if (std::strcmp(r.Group, s.Group) != 0 || std::strcmp(r.Descriptor, s.Descriptor) != 0) return 0;
  std::int64_t stamp = ItemStamp(Server);
  if (stamp < r.LastStamp + p.Increment || !PlainDataset(s.Group, s.Descriptor)) return 0;
  if (client_internal::IsFutureStamp(stamp)) return kFutureDated;

  char text[48];
  std::snprintf(text, sizeof text, "Loading new MD file: %d", s.currentNum);
  if (verbose > 1) std::printf("%s\n", text);
  LogEntry("CheckPnts", text);

  std::string from = std::string(r.Group) + "/" + r.Descriptor;
  if (p.Position != 0) from += "." + std::to_string(p.Position);
  std::string copy = "OBSDUP " + from + " LOC/" + r.Descriptor + "." + std::to_string(p.NxtWS - p.BegWS + 1) +
                     " DELETE=" + (p.DestDel ? "YES" : "NO");
  if (!Copied(copy, s.currentNum)) return 0;
  TakeItem(r, stamp, s.currentNum, Server);
  p.NxtWS = client_internal::NextInRing(p.NxtWS, p.BegWS, p.EndWS);
  RunUserCommand(r);
  return kChangedLastItem | kChangedNextWork;
}

unsigned CheckText(ClientRec *Client, const ServerRec &Server, const char *ServerAddress) {
  ClientRec &r = *Client;
  TextClientStruct &t = r.Data.Text;
  // The server's name of the file: its path and its name, side by side.
  std::string name = std::string(Server.filePath) + Server.ServerData.Text.fileName;
  if (name.size() > 79) {
    if (verbose > 1) std::printf("Server file name %s is longer than 79 characters; not compared.\n", name.c_str());
    return 0;
  }
  if (name != t.From) return 0;
  std::int64_t stamp = ItemStamp(Server);
  if (stamp < r.LastStamp + t.Increment) return 0;
  if (client_internal::IsFutureStamp(stamp)) return kFutureDated;
  if (!client_internal::IsSafeTransferName(t.From) || !client_internal::IsSafeTransferName(t.To)) {
    if (verbose > 0)
      std::printf("Text %s not transferred: a file name beginning with | or ! is refused.\n", Visible(t.From).c_str());
    return 0;
  }

  // The installed transfer script, run straight through the shell with
  // every argument quoted: the address is its first argument whole, and
  // the script's unquoted $1 hands an address "host port" to the
  // file-transfer client as host and port, while the remote and local
  // names stay its second and third arguments.
  std::string command = "./VKTransfer " + client_internal::ShellQuote(ServerAddress ? ServerAddress : "");
  command += " " + client_internal::ShellQuote(t.From) + " " + client_internal::ShellQuote(t.To);
  const int status = posix::RunShell(command.c_str());
  health::CommandRan(health::Command::kCopy, status);
  if (verbose > 1) std::printf("%s\n", command.c_str());
  LogCommandLine(command);
  if (status != 0) {
    if (verbose > 1) std::printf("Transfer of %s failed (status %d); it is tried again next cycle.\n", t.From, status);
    return 0;
  }
  r.LastStamp = stamp;
  r.LastDate = Server.fileMdate;
  r.LastTime = Server.fileMtime;
  RunUserCommand(r);
  return kChangedLastItem;
}
